#include "app/Form2.h"

#include "app/HandCursor.h"
#include "app/MainModule.h"
#include "app/Twips.h"
#include "core/ErrorTrap.h"
#include "core/MessageSeam.h"
#include "core/VbError.h"
#include "ftp/RemoteNames.h"
#include "ftp/Session.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

namespace {

QString location(const char* procedure) {
    return ErrorTrap::locationOf("Form2", procedure);
}

const QString kPathCaption = QStringLiteral("Current Path: ");

// The statements of each procedure as its error report numbers them.
namespace FormLoadAt {
constexpr int colours = 100;
constexpr int icon = 102;
} // namespace FormLoadAt
namespace FormActivateAt {
constexpr int pointerFile = 100;
constexpr int pointer = 102;
constexpr int header = 104;
constexpr int columnWidth = 106;
// Statement 110 (the passive flag) is part of Session::connect.
constexpr int openInternet = 112;
constexpr int connect = 116;
constexpr int refused = 120;
constexpr int closeInternet = 122;
constexpr int currentFolder = 126;
constexpr int cutAtNul = 128;
constexpr int pattern = 130;
constexpr int currentPath = 132;
constexpr int list = 134;
} // namespace FormActivateAt
namespace UpAt {
constexpr int atTop = 100;
constexpr int parent = 102;
constexpr int currentPath = 106;
constexpr int list = 108;
} // namespace UpAt
namespace OkAt {
constexpr int select = 100;
constexpr int unload = 102;
} // namespace OkAt
namespace SingleStatementAt {
constexpr int only = 100;
} // namespace SingleStatementAt

// The folder a listing pattern for it is built on: always ends with "/".
QString asFolderPath(const QString& directory) {
    if (directory.isEmpty())
        return QStringLiteral("/");
    return directory.endsWith(QLatin1Char('/')) ? directory : directory + QLatin1Char('/');
}

} // namespace

Form2::Form2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Select FTP Folder"));
    setFixedSize(twipsToPixelsX(8040), twipsToPixelsY(4245));
    setMouseTracking(true);

    auto place = [this](QWidget* w, const char* name, int left, int top, int width, int height) {
        w->setObjectName(QLatin1String(name));
        w->setGeometry(twipsToPixelsX(left), twipsToPixelsY(top), twipsToPixelsX(width),
                       twipsToPixelsY(height));
        w->setMouseTracking(true);
        // A move over a control must not reach the dialog's background
        // handler as well, which would undo the control's pointer.
        w->setAttribute(Qt::WA_NoMousePropagation);
        w->installEventFilter(this);
    };

    lblPath = new QLabel(kPathCaption, this);
    place(lblPath, "lblPath", 120, 165, 6255, 255);
    PushButton1 = new QPushButton(QStringLiteral("Up"), this);
    place(PushButton1, "PushButton1", 6465, 120, 1455, 405);
    ListView1 = new QTreeWidget(this);
    place(ListView1, "ListView1", 120, 600, 7800, 3015);
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setColumnCount(1);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setHeaderLabels({QString()});
    ListView1->viewport()->setMouseTracking(true);
    ListView1->viewport()->installEventFilter(this);
    PushButton2 = new QPushButton(QStringLiteral("OK"), this);
    place(PushButton2, "PushButton2", 120, 3720, 3840, 405);
    PushButton3 = new QPushButton(QStringLiteral("Cancel"), this);
    place(PushButton3, "PushButton3", 4080, 3720, 3840, 405);
    // Enter must not confirm by accident: "OK" is a deliberate click.
    PushButton1->setAutoDefault(false);
    PushButton2->setAutoDefault(false);
    PushButton3->setAutoDefault(false);

    connect(PushButton1, &QPushButton::clicked, this, &Form2::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form2::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form2::PushButton3_Click);
}

int Form2::twipsToPixelsX(int twips) const {
    return TwipsToPixelsX(this, twips);
}

int Form2::twipsToPixelsY(int twips) const {
    return TwipsToPixelsY(this, twips);
}

void Form2::setConnectionSource(ConnectionSource source) {
    source_ = std::move(source);
}

QString Form2::SelectFTPFolder() {
    Form_Load();
    exec();
    return selectedFolder_;
}

void Form2::Form_Load() {
    // A freshly loaded dialog: no rows, no column, the label's design text.
    unloaded_ = false;
    ListView1->clear();
    ListView1->setHeaderLabels({QString()});
    lblPath->setText(kPathCaption);
    pointer_.set(Pointer::Ordinary);

    ErrorTrap trap(location("Form_Load"));
    trap.at(FormLoadAt::colours, [&] { ApplyFormColours(this); });
    trap.at(FormLoadAt::icon, [&] { setWindowIcon(ProgramIcon()); });
}

void Form2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (unloaded_)
        Form_Load();
    // Activation runs once per showing, after the dialog is up, as the
    // first thing its own event loop does.
    activationPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (activationPending_ && isVisible()) {
                activationPending_ = false;
                Form_Activate();
            }
        },
        Qt::QueuedConnection);
}

void Form2::Form_Activate() {
    ErrorTrap trap(location("Form_Activate"));
    bool handFileExists = false;
    trap.at(FormActivateAt::pointerFile, [&] { handFileExists = FileExists(HandCursorPath()); });
    if (handFileExists)
        trap.at(FormActivateAt::pointer,
                [&] { pointer_.setHandCursor(LoadCursorFile(HandCursorPath())); });
    trap.at(FormActivateAt::header,
            [&] { ListView1->setHeaderLabels({QStringLiteral("Folders -- Double click")}); });
    trap.at(FormActivateAt::columnWidth,
            [&] { ListView1->setColumnWidth(0, twipsToPixelsX(4000)); });

    bool haveInternet = false;
    trap.at(FormActivateAt::openInternet, [&] { haveInternet = session_.openInternet(); });
    if (!haveInternet)
        return;
    // A connect that cannot even start (a port text that is no port) counts as
    // a refused one.
    bool connected = false;
    trap.at(FormActivateAt::connect,
            [&] { connected = session_.connect(source_ ? source_() : ConnectionSettings()); });
    if (!connected) {
        trap.at(FormActivateAt::refused,
                [] { MessageSeam::plain(QStringLiteral("Could not connect.")); });
        trap.at(FormActivateAt::closeInternet, [&] { session_.closeInternet(); });
        return;
    }

    QString directory;
    bool gotDirectory = false;
    trap.at(FormActivateAt::currentFolder, [&] {
        const auto folder = session_.currentDirectory();
        gotDirectory = folder.ok();
        if (gotDirectory)
            directory = *folder;
    });
    trap.at(FormActivateAt::cutAtNul, [&] {
        if (!gotDirectory) {
            directory.clear();
            throw VbError::invalidProcedureCall();
        }
        const qsizetype nul = directory.indexOf(QChar(0));
        if (nul >= 0)
            directory.truncate(nul);
    });
    // The browse starts in the log-in folder and shows it as such, so that
    // every path the dialog builds and returns is the folder the user saw.
    // Without a known log-in folder it starts at the root.
    const QString start = asFolderPath(directory);
    trap.at(FormActivateAt::pattern, [&] { remotePattern_ = start + QStringLiteral("*.*"); });
    trap.at(FormActivateAt::currentPath, [&] { currentPath_ = start; });
    trap.at(FormActivateAt::list, [&] { ListFolders(); });
}

void Form2::ListFolders() {
    if (!session_.isConnected()) {
        MessageSeam::plain(QStringLiteral("Could not connect"));
        return;
    }
    pointer_.set(Pointer::Hourglass);
    // The pointer returns to the default also when the listing fails.
    struct PointerReset {
        Form2* form;
        ~PointerReset() { form->pointer_.set(Pointer::Ordinary); }
    } reset{this};

    lblPath->setText(kPathCaption + currentPath_);
    const auto listing = session_.list(remotePattern_);
    ListView1->clear();
    if (!listing)
        return;
    struct Candidate {
        QString name;
        bool link;
    };
    QList<Candidate> candidates;
    for (const RemoteEntry& entry : listing->entries) {
        const bool link = entry.kind == RemoteEntryKind::Link;
        if (entry.kind == RemoteEntryKind::Directory || link)
            candidates.append({decodeRemoteName(entry.name), link});
    }

    QList<QTreeWidgetItem*> rows;
    for (const Candidate& c : candidates) {
        if (!c.link || leadsToFolder(currentPath_ + c.name + QLatin1Char('/')))
            rows.append(new QTreeWidgetItem(QStringList{c.name + QLatin1Char('/')}));
    }
    ListView1->addTopLevelItems(rows);
}

bool Form2::leadsToFolder(const QString& linkPath) const {
    // A listing does not say where a link leads. The user may enter it exactly
    // when the server lists it as a folder (it changes into it first), so ask
    // for that listing: a link to a file, a dangling link or one the server
    // will not follow fails, an empty folder answers "no more files".
    return session_.list(linkPath + QStringLiteral("*.*")).ok();
}

void Form2::PushButton1_Click() {
    ErrorTrap trap(location("PushButton1_Click"));
    bool atTop = true;
    trap.at(UpAt::atTop, [&] { atTop = currentPath_ == QLatin1String("/"); });
    if (atTop)
        return;
    QString parent;
    trap.at(UpAt::parent, [&] {
        const qsizetype slash = currentPath_.lastIndexOf(QLatin1Char('/'), -2);
        if (slash < 0)
            return;
        parent = currentPath_.left(slash + 1);
        remotePattern_ = parent + QStringLiteral("*.*");
    });
    if (parent.isEmpty())
        return;
    trap.at(UpAt::currentPath, [&] { currentPath_ = parent; });
    trap.at(UpAt::list, [&] { ListFolders(); });
}

void Form2::PushButton2_Click() {
    ErrorTrap trap(location("PushButton2_Click"));
    trap.at(OkAt::select, [&] { selectedFolder_ = currentPath_; });
    trap.at(OkAt::unload, [&] { unloadDialog(); });
}

void Form2::PushButton3_Click() {
    ErrorTrap trap(location("PushButton3_Click"));
    trap.at(SingleStatementAt::only, [&] { unloadDialog(); });
}

void Form2::ListView1_DblClick() {
    QTreeWidgetItem* row = ListView1->currentItem();
    if (!row || !row->isSelected())
        return;
    // Descending has no report of its own; a failure is reported here and the
    // dialog stays usable.
    ErrorTrap trap(location("ListView1_DblClick"));
    trap.at(SingleStatementAt::only, [&] {
        currentPath_ += row->text(0);
        remotePattern_ = currentPath_ + QStringLiteral("*.*");
        ListFolders();
    });
}

void Form2::reject() {
    unloadDialog();
}

void Form2::unloadDialog() {
    if (!unloaded_) {
        Form_QueryUnload();
        unloaded_ = true;
    }
    activationPending_ = false;
    QDialog::done(QDialog::Rejected);
}

void Form2::Form_QueryUnload() {
    ErrorTrap trap(location("Form_QueryUnload"));
    trap.at(SingleStatementAt::only, [&] { session_.close(); });
}

void Form2::mouseMoveEvent(QMouseEvent* event) {
    pointer_.hover(Pointer::Ordinary);
    QDialog::mouseMoveEvent(event);
}

bool Form2::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::Enter:
        if (watched == PushButton1 || watched == PushButton2 || watched == PushButton3)
            pointer_.hover(Pointer::Custom);
        else if (watched == lblPath || watched == ListView1 || watched == ListView1->viewport())
            pointer_.hover(Pointer::Ordinary);
        break;
    case QEvent::MouseButtonDblClick:
        // The press that precedes a double-click has already selected the
        // row under the pointer; the list's own handling is not needed.
        if (watched == ListView1->viewport()) {
            ListView1_DblClick();
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}
