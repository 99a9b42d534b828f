#include "app/Form1.h"

#include "app/BrowseForFolder.h"
#include "app/Form2.h"
#include "app/HandCursor.h"
#include "app/MainModule.h"
#include "app/PathElideDelegate.h"
#include "app/RuleChoices.h"
#include "app/TestConnection.h"
#include "app/Twips.h"
#include "compare/CompareRun.h"
#include "compare/Transfers.h"
#include "core/ErrorTrap.h"
#include "core/SettingsStore.h"
#include "core/UiYield.h"
#include "ftp/PasswordKey.h"
#include "ftp/ServerTrust.h"
#include "ftp/Session.h"
#include "sync/SyncRun.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QTreeView>

namespace {
const QString kApp = QStringLiteral("Tarvex");
const QString kSection = QStringLiteral("Pellmor");

QString location(const char* procedure) {
    return ErrorTrap::locationOf("Form1", procedure);
}

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

constexpr int kColumnWidths[] = {2800, 2600, 2800};

// How long the server boxes stay unchanged before the password box's text is
// kept for the server they name.
constexpr int kServerSettleMs = 1000;
// The designed window has no room for the progress line: the window grows at
// the bottom by one line, and every designed control stays where it is.
constexpr int kClientWidth = 8760;
constexpr int kDesignedHeight = 8430;
constexpr int kProgressLineTop = 8445;
constexpr int kProgressLineHeight = 255;
constexpr int kClientHeight = kDesignedHeight + 330;

// The statements of each procedure as its error report numbers them.
namespace FormLoadAt {
constexpr int skin = 100;
constexpr int pointer = 102;
constexpr int caption = 104;
constexpr int icon = 106;
constexpr int applicationTitle = 108;
constexpr int connectionSettings = 110;
constexpr int columnCaptions = 112;
constexpr int columnWidths = 114;
constexpr int localFolder = 116;
constexpr int remoteFolder = 118;
constexpr int hostName = 120;
constexpr int port = 122;
constexpr int userName = 124;
constexpr int password = 126;
constexpr int compareRules = 128;
} // namespace FormLoadAt
namespace ChooseRemoteFolderAt {
constexpr int browse = 100;
constexpr int chosen = 102;
constexpr int takeChosen = 104;
constexpr int takeRoot = 106;
} // namespace ChooseRemoteFolderAt
namespace ChooseLocalFolderAt {
constexpr int lastFolder = 100;
constexpr int browse = 102;
constexpr int storeLastFolder = 104;
constexpr int takeChosen = 106;
} // namespace ChooseLocalFolderAt
namespace TickAllAt {
constexpr int tick = 100;
} // namespace TickAllAt
} // namespace

Form1::Form1(QWidget* parent) : QWidget(parent), passwords_(kApp, kSection) {
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(windowFont());
    buildControls();
    serverSettled_.setSingleShot(true);
    serverSettled_.setInterval(kServerSettleMs);
    connect(&serverSettled_, &QTimer::timeout, this, &Form1::keepPasswordForServer);
    connect(&passwords_, &PasswordStore::movedToFile, this, &Form1::showPasswordPlace);
    connectChangeHandlers();
    ServerTrust::useSettingsFile(SettingsFilePath(kApp));
}

Form1::~Form1() {
    finishPasswordWrites();
}

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

void Form1::connectChangeHandlers() {
    // One keystroke, one store of the box's whole text.
    const std::pair<QLineEdit*, QString> boxes[] = {
        {txtHostName, QStringLiteral("HostName")},
        {txtPort, QStringLiteral("Port")},
        {txtUserName, QStringLiteral("UserName")},
        {txtRemoteFolder, QStringLiteral("Remote Folder")},
        {Text1, QStringLiteral("Text1")},
    };
    for (const auto& [edit, key] : boxes) {
        connect(edit, &QLineEdit::textChanged, this,
                [key = key](const QString& text) { SaveSetting(kApp, kSection, key, text); });
    }
    // The password belongs to the server the boxes name; it keeps its text
    // when they change.
    connect(txtPassword, &QLineEdit::textChanged, this,
            [this](const QString& text) { passwords_.setPassword(serverKey(), text); });
    for (QLineEdit* server : {txtHostName, txtPort, txtUserName})
        connect(server, &QLineEdit::textChanged, &serverSettled_, qOverload<>(&QTimer::start));
}

QString Form1::serverKey() const {
    return passwordKey(txtHostName->text(), txtPort->text(), txtUserName->text());
}

void Form1::openPasswordStore() {
    passwords_.open(
        passwordKey(GetSetting(kApp, kSection, QStringLiteral("HostName")),
                    GetSetting(kApp, kSection, QStringLiteral("Port"), QStringLiteral("21")),
                    GetSetting(kApp, kSection, QStringLiteral("UserName"))));
    showPasswordPlace();
}

void Form1::keepPasswordForServer() {
    passwords_.keepFor(serverKey(), txtPassword->text());
}

void Form1::finishPasswordWrites() {
    if (serverSettled_.isActive()) {
        serverSettled_.stop();
        keepPasswordForServer();
    }
    passwords_.finishWrites();
}

void Form1::showPasswordPlace() {
    // Said once, quietly: a mark in the password box whose tip tells where
    // the password is kept.
    const QString notice = passwords_.notice();
    if (notice.isEmpty() || txtPassword->toolTip() == notice)
        return;
    QAction* mark = txtPassword->addAction(style()->standardIcon(QStyle::SP_MessageBoxInformation),
                                           QLineEdit::TrailingPosition);
    mark->setObjectName(QStringLiteral("passwordPlace"));
    mark->setToolTip(notice);
    txtPassword->setToolTip(notice);
    txtPassword->setAccessibleDescription(notice);
}

void Form1::Form_Load() {
    ErrorTrap trap(location("Form_Load"));
    ApplyDesignColours(this);
    trap.at(FormLoadAt::skin, [&] { ApplySkin(this); });
    trap.at(FormLoadAt::pointer, [&] {
        if (FileExists(HandCursorPath()))
            pointer_.setHandCursor(LoadCursorFile(HandCursorPath()));
    });
    trap.at(FormLoadAt::caption, [&] { setWindowTitle(QStringLiteral("Pellmor")); });
    trap.at(FormLoadAt::icon, [&] { setWindowIcon(ProgramIcon()); });
    trap.at(FormLoadAt::applicationTitle, [&] { SetApplicationTitle(); });
    trap.at(FormLoadAt::connectionSettings, [&] {
        openPasswordStore();
        LoadConnectionSettings();
    });
    trap.at(FormLoadAt::columnCaptions, [&] { setColumnCaptions(); });
    trap.at(FormLoadAt::columnWidths, [&] { setColumnWidths(); });
    trap.at(FormLoadAt::localFolder, [&] {
        Text1->setText(GetSetting(kApp, kSection, QStringLiteral("Text1"), GetDesktopFolder()));
    });
    trap.at(FormLoadAt::remoteFolder, [&] {
        txtRemoteFolder->setText(
            GetSetting(kApp, kSection, QStringLiteral("Remote Folder"), QStringLiteral("/")));
    });
    trap.at(FormLoadAt::hostName,
            [&] { txtHostName->setText(GetSetting(kApp, kSection, QStringLiteral("HostName"))); });
    trap.at(FormLoadAt::port, [&] {
        txtPort->setText(GetSetting(kApp, kSection, QStringLiteral("Port"), QStringLiteral("21")));
    });
    trap.at(FormLoadAt::userName,
            [&] { txtUserName->setText(GetSetting(kApp, kSection, QStringLiteral("UserName"))); });
    trap.at(FormLoadAt::password, [&] { txtPassword->setText(passwords_.password(serverKey())); });
    trap.at(FormLoadAt::compareRules, [&] { ruleChoices_->load(); });

    // Centred on the screen when first shown.
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

void Form1::LoadConnectionSettings() {
    txtHostName->setText(GetSetting(kApp, kSection, QStringLiteral("HostName")));
    txtPort->setText(GetSetting(kApp, kSection, QStringLiteral("Port"), QStringLiteral("21")));
    txtUserName->setText(GetSetting(kApp, kSection, QStringLiteral("UserName")));
    txtPassword->setText(passwords_.password(serverKey()));
    txtRemoteFolder->setText(GetSetting(kApp, kSection, QStringLiteral("FTPFolder")));
}

QString Form1::hostNameText() const {
    return txtHostName->text();
}
QString Form1::portText() const {
    return txtPort->text();
}
QString Form1::userNameText() const {
    return txtUserName->text();
}
QString Form1::passwordText() const {
    return txtPassword->text();
}
QString Form1::remoteFolderText() const {
    return txtRemoteFolder->text();
}
QString Form1::localFolderText() const {
    return Text1->text();
}
// Read at each run, so an edit of the settings file counts from the next run.
int Form1::transfers() const {
    return Transfers::fromText(GetSetting(kApp, kSection, QStringLiteral("Transfers")));
}

CompareRules Form1::compareRules() const {
    return ruleChoices_->rules();
}

void Form1::recreateColumns() {
    setColumnCaptions();
    setColumnWidths();
}

void Form1::setColumnCaptions() {
    model_.setColumns(
        {QStringLiteral("Source"), QStringLiteral("Action"), QStringLiteral("Destination")});
}

void Form1::setColumnWidths() {
    for (int c = 0; c < 3; ++c)
        ListView3->setColumnWidth(c, twipsToPixelsX(kColumnWidths[c]));
}

void Form1::makeRowVisible(int row) {
    // Scrolling after every one of 100,000 rows would dominate the fill: scroll
    // on a time budget, and once more to the last requested row when idle.
    pendingScrollRow_ = row;
    if (!sinceScroll_.isValid() || sinceScroll_.elapsed() >= 50) {
        scrollToPendingRow();
        return;
    }
    if (!scrollQueued_) {
        scrollQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            scrollQueued_ = false;
            scrollToPendingRow();
        });
    }
}

void Form1::scrollToPendingRow() {
    sinceScroll_.start();
    if (pendingScrollRow_ >= 0 && pendingScrollRow_ < model_.rowCount())
        ListView3->scrollTo(model_.index(pendingScrollRow_, 0));
}

void Form1::setListOption(bool on) {
    // Full-row selection: a click anywhere on a row selects the whole row.
    ListView3->setSelectionBehavior(on ? QAbstractItemView::SelectRows
                                       : QAbstractItemView::SelectItems);
    ListView3->setAllColumnsShowFocus(on);
}

void Form1::setHourglass(bool on) {
    pointer_.set(on ? Pointer::Hourglass : Pointer::Ordinary);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::Enter:
        if (qobject_cast<QPushButton*>(watched))
            pointer_.hover(Pointer::Custom);
        else if (watched == Label1 || watched == ListView3->viewport())
            pointer_.hover(Pointer::Ordinary);
        break;
    case QEvent::FocusIn:
        if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
            edit->selectAll();
            // A click places the cursor after focusing; select once more after it.
            QTimer::singleShot(0, edit, [edit] {
                if (edit->hasFocus())
                    edit->selectAll();
            });
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    // Over the window's own background or one of its frames.
    pointer_.hover(Pointer::Ordinary);
    QWidget::mouseMoveEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void Form1::Form_Unload() {
    // End at once, also while a run is yielding: the run unwinds at its next
    // yield and does not finish. Only the password's way into the keyring is
    // waited for (a few seconds at most), so that its last edit is not lost.
    UiYield::requestAbort();
    finishPasswordWrites();
    QCoreApplication::exit(0);
}

template <typename Run> void Form1::runGuarded(Run&& run) {
    try {
        run();
    } catch (const RunAborted&) {
        // The window was closed in the middle of the run.
    }
}

void Form1::PushButton1_Click() {
    ErrorTrap trap(location("PushButton1_Click"));
    QString result;
    trap.at(ChooseRemoteFolderAt::browse, [&] {
        if (!form2_) {
            form2_ = new Form2(this);
            form2_->setConnectionSource([this] { return connectionSettings(); });
        }
        result = form2_->SelectFTPFolder();
    });
    bool nonEmpty = false;
    trap.at(ChooseRemoteFolderAt::chosen, [&] { nonEmpty = !result.isEmpty(); });
    if (nonEmpty)
        trap.at(ChooseRemoteFolderAt::takeChosen, [&] { txtRemoteFolder->setText(result); });
    else
        trap.at(ChooseRemoteFolderAt::takeRoot,
                [&] { txtRemoteFolder->setText(QStringLiteral("/")); });
}

void Form1::PushButton2_Click() {
    ErrorTrap trap(location("PushButton2_Click"));
    QString last;
    QString chosen;
    trap.at(ChooseLocalFolderAt::lastFolder,
            [&] { last = GetSetting(kApp, kSection, QStringLiteral("LastFolder")); });
    trap.at(ChooseLocalFolderAt::browse,
            [&] { chosen = BrowseForFolder(this, QStringLiteral("Please select folder:"), last); });
    if (chosen.isEmpty())
        return;
    trap.at(ChooseLocalFolderAt::storeLastFolder,
            [&] { SaveSetting(kApp, kSection, QStringLiteral("LastFolder"), chosen); });
    trap.at(ChooseLocalFolderAt::takeChosen, [&] {
        const QChar sep = QDir::separator();
        Text1->setText(chosen.endsWith(sep) ? chosen : chosen + sep);
    });
}

void Form1::PushButton3_Click() {
    // While a run works over the main session it is neither closed nor
    // replaced: the test then logs in on a session of its own, closed again
    // at once so that no connection is left that nothing will use.
    if (IsBusy) {
        Session probe;
        TestConnection(probe, connectionSettings());
        return;
    }
    TestConnection(session_, connectionSettings());
}

void Form1::PushButton5_Click() {
    runGuarded([this] { RunCompare(*this); });
}

void Form1::PushButton6_Click() {
    runGuarded([this] { RunSync(*this); });
}

void Form1::PushButton7_Click() {
    ErrorTrap trap(location("PushButton7_Click"));
    trap.at(TickAllAt::tick, [&] { model_.setAllChecked(true); });
}

void Form1::PushButton8_Click() {
    ErrorTrap trap(location("PushButton8_Click"));
    trap.at(TickAllAt::tick, [&] { model_.setAllChecked(false); });
}
