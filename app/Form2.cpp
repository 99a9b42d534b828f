#include "app/Form2.h"

#include "app/HandCursor.h"
#include "app/MainModule.h"
#include "app/Twips.h"
#include "app/core/ErrorTrap.h"
#include "app/core/MessageSeam.h"
#include "app/core/VbError.h"
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
    trap.at(100, [&] { ApplyFormColours(this); });
    trap.at(102, [&] { setWindowIcon(ProgramIcon()); });
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
    trap.at(100, [&] { handFileExists = FileExists(HandCursorPath()); });
    if (handFileExists)
        trap.at(102, [&] { pointer_.setHandCursor(LoadCursorFile(HandCursorPath())); });
    trap.at(104, [&] { ListView1->setHeaderLabels({QStringLiteral("Folders -- Double click")}); });
    trap.at(106, [&] { ListView1->setColumnWidth(0, twipsToPixelsX(4000)); });

    // Statement 110 (the passive flag) is part of Session::connect.
    bool haveInternet = false;
    trap.at(112, [&] { haveInternet = session_.openInternet(); });
    if (!haveInternet)
        return;
    // A connect that cannot even start (a port text that is no port) counts as
    // a refused one.
    bool connected = false;
    trap.at(116, [&] { connected = session_.connect(source_ ? source_() : ConnectionSettings()); });
    if (!connected) {
        trap.at(120, [] { MessageSeam::plain(QStringLiteral("Could not connect.")); });
        trap.at(122, [&] { session_.closeInternet(); });
        return;
    }

    QString directory;
    bool gotDirectory = false;
    trap.at(126, [&] { gotDirectory = session_.currentDirectory(&directory); });
    trap.at(128, [&] {
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
    trap.at(130, [&] { remotePattern_ = start + QStringLiteral("*.*"); });
    trap.at(132, [&] { currentPath_ = start; });
    trap.at(134, [&] { ListFolders(); });
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
    WIN32_FIND_DATAA data;
    const HINTERNET find = session_.findFirstFile(remotePattern_, &data);
    ListView1->clear();
    if (find == 0)
        return;
    struct FindCloser {
        HINTERNET h;
        ~FindCloser() { InternetCloseHandle(h); }
    } closer{find};
    QList<QTreeWidgetItem*> rows;
    do {
        if (data.isDirectory()) {
            QString name = data.cFileName;
            const qsizetype nul = name.indexOf(QChar(0));
            if (nul >= 0)
                name.truncate(nul);
            rows.append(new QTreeWidgetItem(QStringList{name + QLatin1Char('/')}));
        }
    } while (InternetFindNextFileA(find, &data));
    ListView1->addTopLevelItems(rows);
}

void Form2::PushButton1_Click() {
    ErrorTrap trap(location("PushButton1_Click"));
    bool atTop = true;
    trap.at(100, [&] { atTop = currentPath_ == QLatin1String("/"); });
    if (atTop)
        return;
    QString parent;
    trap.at(102, [&] {
        const qsizetype slash = currentPath_.lastIndexOf(QLatin1Char('/'), -2);
        if (slash < 0)
            return;
        parent = currentPath_.left(slash + 1);
        remotePattern_ = parent + QStringLiteral("*.*");
    });
    if (parent.isEmpty())
        return;
    trap.at(106, [&] { currentPath_ = parent; });
    trap.at(108, [&] { ListFolders(); });
}

void Form2::PushButton2_Click() {
    ErrorTrap trap(location("PushButton2_Click"));
    trap.at(100, [&] { selectedFolder_ = currentPath_; });
    trap.at(102, [&] { unloadDialog(); });
}

void Form2::PushButton3_Click() {
    ErrorTrap trap(location("PushButton3_Click"));
    trap.at(100, [&] { unloadDialog(); });
}

void Form2::ListView1_DblClick() {
    QTreeWidgetItem* row = ListView1->currentItem();
    if (!row || !row->isSelected())
        return;
    // Descending has no report of its own; a failure is reported here and the
    // dialog stays usable.
    ErrorTrap trap(location("ListView1_DblClick"));
    trap.at(100, [&] {
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
    trap.at(100, [&] { session_.close(); });
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
