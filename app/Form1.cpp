#include "app/Form1.h"

#include "app/BrowseForFolder.h"
#include "app/Form2.h"
#include "app/HandCursor.h"
#include "app/MainModule.h"
#include "app/RuleChoices.h"
#include "app/TestConnection.h"
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

constexpr int kColumnWidths[] = {2800, 2600, 2800};

// How long the server boxes stay unchanged before the password box's text is
// kept for the server they name.
constexpr int kServerSettleMs = 1000;

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
