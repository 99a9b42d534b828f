// The main window's controls: those of its design, each in its place, and the
// ones added beside them (the compare rules, the progress line).

#include "app/Form1.h"

#include "app/PathElideDelegate.h"
#include "app/RuleChoices.h"
#include "app/Twips.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

#include <algorithm>

namespace {

QFont windowFont() {
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(9);
    f.setBold(true);
    return f;
}

QFont buttonFont() {
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(11.25);
    f.setBold(true);
    return f;
}

// The designed window has no room for the progress line: the window grows at
// the bottom by one line, and every designed control stays where it is.
constexpr int kClientWidth = 8760;
constexpr int kDesignedHeight = 8430;
constexpr int kProgressLineTop = 8445;
constexpr int kProgressLineHeight = 255;
constexpr int kClientHeight = kDesignedHeight + 330;

} // namespace

int Form1::twipsToPixelsX(int twips) const {
    return TwipsToPixelsX(this, twips);
}

int Form1::twipsToPixelsY(int twips) const {
    return TwipsToPixelsY(this, twips);
}

void Form1::place(QWidget* widget, const Geometry& at) const {
    widget->setGeometry(twipsToPixelsX(at.left), twipsToPixelsY(at.top), twipsToPixelsX(at.width),
                        twipsToPixelsY(at.height));
}

void Form1::buildControls() {
    setFont(windowFont());
    // The window's controls as designed. A null frame means the window itself.
    struct FrameSpec {
        QGroupBox* Form1::*member;
        const char* name;
        const char* caption;
        Geometry at;
    };
    struct LabelSpec {
        QLabel* Form1::*member;
        QGroupBox* Form1::*frame;
        const char* name;
        const char* text;
        Geometry at;
    };
    struct BoxSpec {
        QLineEdit* Form1::*member;
        QGroupBox* Form1::*frame;
        const char* name;
        const char* accessibleName;
        Geometry at;
    };
    struct ButtonSpec {
        QPushButton* Form1::*member;
        QGroupBox* Form1::*frame;
        const char* name;
        const char* caption;
        const char* accessibleName; // null: the caption
        Geometry at;
        void (Form1::*click)();
    };
    static const FrameSpec frames[] = {
        {&Form1::Frame2, "Frame2", "FTP settings", {120, 120, 8520, 2235}},
        {&Form1::Frame1, "Frame1", "Local Folder", {120, 2415, 8520, 820}},
        {&Form1::Frame3, "Frame3", "FTP Folder", {120, 3315, 8520, 820}},
    };
    static const LabelSpec labels[] = {
        {&Form1::Label1, &Form1::Frame2, "Label1", "Host name:", {240, 345, 1815, 255}},
        {&Form1::Label6, &Form1::Frame2, "Label6", "Port:", {7080, 345, 495, 255}},
        {&Form1::Label2, &Form1::Frame2, "Label2", "User name:", {240, 795, 1335, 255}},
        {&Form1::Label3, &Form1::Frame2, "Label3", "Password:", {240, 1245, 1095, 255}},
    };
    static const BoxSpec boxes[] = {
        {&Form1::txtHostName, &Form1::Frame2, "txtHostName", "Host name:", {1320, 300, 5565, 345}},
        {&Form1::txtPort, &Form1::Frame2, "txtPort", "Port:", {7560, 300, 735, 345}},
        {&Form1::txtUserName, &Form1::Frame2, "txtUserName", "User name:", {1320, 750, 6960, 345}},
        {&Form1::txtPassword, &Form1::Frame2, "txtPassword", "Password:", {1320, 1200, 6960, 345}},
        {&Form1::Text1, &Form1::Frame1, "Text1", "Local Folder", {240, 300, 7245, 345}},
        {&Form1::txtRemoteFolder,
         &Form1::Frame3,
         "txtRemoteFolder",
         "FTP Folder",
         {240, 300, 7245, 345}},
    };
    static const ButtonSpec buttons[] = {
        {&Form1::PushButton3,
         &Form1::Frame2,
         "PushButton3",
         "Test Connection",
         nullptr,
         {240, 1650, 8055, 405},
         &Form1::PushButton3_Click},
        {&Form1::PushButton2,
         &Form1::Frame1,
         "PushButton2",
         "...",
         "Choose local folder",
         {7560, 300, 720, 345},
         &Form1::PushButton2_Click},
        {&Form1::PushButton1,
         &Form1::Frame3,
         "PushButton1",
         "...",
         "Choose FTP folder",
         {7560, 300, 720, 345},
         &Form1::PushButton1_Click},
        {&Form1::PushButton5,
         nullptr,
         "PushButton5",
         "1. Start Comparing Local and FTP Folders",
         nullptr,
         {120, 4245, 8520, 405},
         &Form1::PushButton5_Click},
        {&Form1::PushButton7,
         nullptr,
         "PushButton7",
         "Check All",
         nullptr,
         {120, 7470, 4200, 405},
         &Form1::PushButton7_Click},
        {&Form1::PushButton8,
         nullptr,
         "PushButton8",
         "Uncheck All",
         nullptr,
         {4440, 7470, 4200, 405},
         &Form1::PushButton8_Click},
        {&Form1::PushButton6,
         nullptr,
         "PushButton6",
         "2. Start Syncing (Upload Local Files)",
         nullptr,
         {120, 7980, 8520, 405},
         &Form1::PushButton6_Click},
    };
    const auto parentOf = [this](QGroupBox* Form1::*frame) -> QWidget* {
        return frame ? static_cast<QWidget*>(this->*frame) : this;
    };

    setFixedSize(twipsToPixelsX(kClientWidth), twipsToPixelsY(kClientHeight));
    setMouseTracking(true);

    for (const FrameSpec& f : frames) {
        auto* g = new QGroupBox(QString::fromUtf8(f.caption), this);
        g->setObjectName(QLatin1String(f.name));
        g->setMouseTracking(true);
        place(g, f.at);
        this->*f.member = g;
    }
    for (const LabelSpec& l : labels) {
        auto* lb = new QLabel(QString::fromUtf8(l.text), parentOf(l.frame));
        lb->setObjectName(QLatin1String(l.name));
        // Moves over a label reach the frame and the window only where the
        // label has a pointer rule of its own.
        lb->setAttribute(Qt::WA_NoMousePropagation);
        place(lb, l.at);
        this->*l.member = lb;
    }
    for (const BoxSpec& b : boxes) {
        auto* e = new QLineEdit(parentOf(b.frame));
        e->setObjectName(QLatin1String(b.name));
        e->setAccessibleName(QString::fromUtf8(b.accessibleName));
        e->installEventFilter(this);
        e->setAttribute(Qt::WA_NoMousePropagation);
        place(e, b.at);
        this->*b.member = e;
    }
    for (const ButtonSpec& b : buttons) {
        auto* button = new QPushButton(QString::fromUtf8(b.caption), parentOf(b.frame));
        button->setObjectName(QLatin1String(b.name));
        if (b.accessibleName)
            button->setAccessibleName(QString::fromUtf8(b.accessibleName));
        button->setFont(buttonFont());
        button->setMouseTracking(true);
        button->installEventFilter(this);
        button->setAttribute(Qt::WA_NoMousePropagation);
        place(button, b.at);
        connect(button, &QPushButton::clicked, this, b.click);
        this->*b.member = button;
    }

    Label1->setMouseTracking(true);
    Label1->installEventFilter(this);
    Label1->setBuddy(txtHostName);
    Label6->setBuddy(txtPort);
    Label2->setBuddy(txtUserName);
    Label3->setBuddy(txtPassword);
    txtPort->setText(QStringLiteral("21"));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    buildResultList();
    buildProgressLine();
    buildRuleChoices();

    // The window's tab order; frames and labels take no focus.
    QWidget* order[] = {txtHostName, txtPort,     txtUserName, txtPassword, ListView3,
                        PushButton3, PushButton2, Text1,       PushButton1, txtRemoteFolder,
                        PushButton5, PushButton7, PushButton8, PushButton6};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Form1::buildResultList() {
    ListView3 = new QTreeView(this);
    ListView3->setObjectName(QStringLiteral("ListView3"));
    ListView3->setAccessibleName(QStringLiteral("Result list"));
    ListView3->setRootIsDecorated(false);
    ListView3->setItemsExpandable(false);
    ListView3->setUniformRowHeights(true);
    ListView3->setAllColumnsShowFocus(true);
    ListView3->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView3->setToolTip(QStringLiteral("Double-click item to remove it. Move | line to right "
                                         "and out of window to reveal full names."));
    ListView3->setModel(&model_);
    // Paths differ at their ends: the file and its folder stay in sight, and
    // the tool tip of a cell holds the whole path.
    ListView3->setTextElideMode(Qt::ElideMiddle);
    auto* paths = new PathElideDelegate(ListView3);
    ListView3->setItemDelegateForColumn(ResultListModel::SourceColumn, paths);
    ListView3->setItemDelegateForColumn(ResultListModel::DestinationColumn, paths);
    ListView3->header()->setStretchLastSection(false);
    ListView3->setMouseTracking(true);
    ListView3->viewport()->setMouseTracking(true);
    ListView3->viewport()->installEventFilter(this);
    place(ListView3, {120, 4740, 8520, 2640});
}

void Form1::buildProgressLine() {
    progressLine_ = new QLabel(this);
    progressLine_->setObjectName(QStringLiteral("progressLine"));
    progressLine_->setAccessibleName(QStringLiteral("Progress"));
    progressLine_->setAttribute(Qt::WA_NoMousePropagation);
    place(progressLine_, {120, kProgressLineTop, 8520, kProgressLineHeight});
    connect(&progress_, &RunProgress::changed, this, &Form1::showProgress);
}

void Form1::showProgress(const QString& text) {
    // A long folder is cut in its middle, as in the list; the whole line is
    // in the tool tip and in what a screen reader is told.
    progressLine_->setText(
        progressLine_->fontMetrics().elidedText(text, Qt::ElideMiddle, progressLine_->width()));
    progressLine_->setToolTip(text);
    // Announces the change to assistive technology; at most a few times a
    // second, as the progress comes.
    progressLine_->setAccessibleDescription(text);
    // The walk over a single session does not let the window work until it
    // has ended; the line is drawn all the same.
    if (progressLine_->isVisible())
        progressLine_->repaint();
}

void Form1::buildRuleChoices() {
    // The window keeps its size and every control its place: the choices sit
    // in the strip of the remote folder's frame that its title leaves free,
    // right-aligned, where they are seen on the way to the compare button.
    ruleChoices_ = new RuleChoices(this);
    const QSize hint = ruleChoices_->sizeHint();
    const int right = twipsToPixelsX(120 + 8520 - 120);
    const int afterTitle =
        twipsToPixelsX(120 + 240) + Frame3->fontMetrics().horizontalAdvance(Frame3->title());
    const int width = std::min(hint.width(), right - afterTitle);
    // Centred on the frame's top line, but clear of the box below it.
    const int frameTop = twipsToPixelsY(3315);
    const int boxTop = frameTop + twipsToPixelsY(300);
    const int top =
        std::min(frameTop + (boxTop - frameTop - hint.height()) / 2, boxTop - hint.height());
    ruleChoices_->setGeometry(right - width, top, width, hint.height());
    ruleChoices_->raise();
}
