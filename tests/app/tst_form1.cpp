#include "app/Form1.h"
#include "app/MainModule.h"
#include "app/PathElideDelegate.h"
#include "core/ErrorTrap.h"
#include "core/NameCodec.h"
#include "core/SettingsStore.h"
#include "core/UiYield.h"
#include "tests/support/AppSandbox.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(CompareRules)

namespace {
const QString kApp = QStringLiteral("Tarvex");
const QString kSection = QStringLiteral("Pellmor");

using Settings = QMap<QString, QString>;

// Reads the settings file the way a second copy of the program would.
QString storedByAnotherReader(const QString& key) {
    QSettings s(SettingsFilePath(kApp), QSettings::IniFormat);
    return s.value(kSection + QLatin1Char('/') + key, QStringLiteral("<missing>")).toString();
}

// A 32×32 cursor file with the given hot spot: an icon file whose header says
// "cursor" and whose plane/bit-count fields hold the hot spot.
QByteArray makeCursorFile(int hotX, int hotY) {
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::black);
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    QImageWriter w(&buf, "ico");
    if (!w.write(img))
        return {};
    QByteArray bytes = buf.data();
    bytes[2] = 2;
    bytes[3] = 0;
    bytes[6 + 4] = char(hotX);
    bytes[6 + 5] = 0;
    bytes[6 + 6] = char(hotY);
    bytes[6 + 7] = 0;
    return bytes;
}
} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startupFillsBoxes_data();
    void startupFillsBoxes();
    void desktopLookupFailureIsReported();
    void garbageSettingsFileGivesDefaults();
    void typingStoresEveryKeystroke();
    void unwritableSettingsKeepWorking();
    void settingsFileIsOwnerOnly();
    void applicationTitle_data();
    void applicationTitle();
    void geometryCaptionsAndFonts();
    void controlsAreWhereTheTableSays_data();
    void controlsAreWhereTheTableSays();
    void tabOrder();
    void resultListColumns();
    void longPathsKeepTheirEndsInSight_data();
    void longPathsKeepTheirEndsInSight();
    void accessibleNames();
    void hoverRule();
    void handCursorFromFile_data();
    void handCursorFromFile();
    void skinFileSwitchesColours();
    void focusSelectsWholeText();
    void checkAllAndUncheckAll();
    void closingDuringARunEndsIt();
    void ruleChoicesComeFromAndGoToTheSettings_data();
    void ruleChoicesComeFromAndGoToTheSettings();
    void ruleChoicesBesideTheCompareButton();

private:
    void store(const Settings& settings);
    QLineEdit* box(Form1& f, const char* name) { return f.findChild<QLineEdit*>(name); }

    std::unique_ptr<AppSandbox> sandbox_;
    SpecialFolderLookup previousLookup_;
};

void TestForm1::init() {
    sandbox_ = std::make_unique<AppSandbox>();
    previousLookup_ = SetSpecialFolderLookup([](int) { return QStringLiteral("/home/u/Desktop"); });
}

void TestForm1::cleanup() {
    SetSpecialFolderLookup(previousLookup_);
    sandbox_.reset();
    UiYield::resetAbort();
}

void TestForm1::store(const Settings& settings) {
    for (auto it = settings.begin(); it != settings.end(); ++it)
        SaveSetting(kApp, kSection, it.key(), it.value());
    ResetSettingsCache();
}

void TestForm1::startupFillsBoxes_data() {
    QTest::addColumn<Settings>("stored");
    QTest::addColumn<QStringList>("expected"); // host, port, user, password, remote, local
    QTest::addColumn<Settings>("storedAfter");

    QTest::newRow("nothing stored")
        << Settings{} << QStringList{"", "21", "", "", "/", "/home/u/Desktop/"}
        << Settings{{"Remote Folder", "/"}, {"Text1", "/home/u/Desktop/"}};
    QTest::newRow("every key stored")
        << Settings{{"HostName", "ftp.example.org"},
                    {"Port", "2121"},
                    {"UserName", "web"},
                    {"Password", "p a$$"},
                    {"Remote Folder", "/www/"},
                    {"Text1", "/srv/site/"}}
        << QStringList{"ftp.example.org", "2121", "web", "p a$$", "/www/", "/srv/site/"}
        << Settings{{"Remote Folder", "/www/"}, {"Text1", "/srv/site/"}};
    QTest::newRow("port stored empty")
        << Settings{{"Port", ""}} << QStringList{"", "", "", "", "/", "/home/u/Desktop/"}
        << Settings{{"Port", ""}};
    QTest::newRow("FTPFolder wins and is copied")
        << Settings{{"FTPFolder", "/legacy/"}, {"Remote Folder", "/www/"}}
        << QStringList{"", "21", "", "", "/legacy/", "/home/u/Desktop/"}
        << Settings{{"Remote Folder", "/legacy/"}, {"FTPFolder", "/legacy/"}};
}

void TestForm1::startupFillsBoxes() {
    QFETCH(Settings, stored);
    QFETCH(QStringList, expected);
    QFETCH(Settings, storedAfter);
    store(stored);
    MessageRecorder rec;
    Form1 f;
    f.Form_Load();
    const char* names[] = {"txtHostName", "txtPort",         "txtUserName",
                           "txtPassword", "txtRemoteFolder", "Text1"};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(box(f, names[i])->text(), expected.at(i));
    for (auto it = storedAfter.begin(); it != storedAfter.end(); ++it)
        QCOMPARE(storedByAnotherReader(it.key()), it.value());
    QVERIFY(rec.boxes().isEmpty());
    QCOMPARE(f.windowTitle(), QStringLiteral("Pellmor"));
}

void TestForm1::desktopLookupFailureIsReported() {
    store({{"Text1", "/srv/site/"}, {"Remote Folder", "/www/"}, {"HostName", "h"}});
    SetSpecialFolderLookup([](int) { return QString(); });
    MessageRecorder rec;
    Form1 f;
    f.Form_Load();
    QCOMPARE(rec.boxes().size(), 1);
    QCOMPARE(rec.boxes().first().caption, QStringLiteral("Application Error"));
    QVERIFY(rec.boxes().first().text.contains(
        QStringLiteral("in Gantrel2021/08/31.Form1.Form_Load at line 116\r\r")));
    QCOMPARE(box(f, "Text1")->text(), QString());
    // Start-up went on with the boxes after the local folder.
    QCOMPARE(box(f, "txtRemoteFolder")->text(), QStringLiteral("/www/"));
    QCOMPARE(box(f, "txtHostName")->text(), QStringLiteral("h"));
    QCOMPARE(storedByAnotherReader("Text1"), QStringLiteral("/srv/site/"));
}

void TestForm1::garbageSettingsFileGivesDefaults() {
    QVERIFY(TestFiles::writeFile(SettingsFilePath(kApp),
                                 QByteArray("\x00\xff[[[Pellmor\nHostName\n=\n\x01garbage", 30)));
    MessageRecorder rec;
    Form1 f;
    f.Form_Load();
    QVERIFY(rec.boxes().isEmpty());
    QCOMPARE(box(f, "txtPort")->text(), QStringLiteral("21"));
    QCOMPARE(box(f, "txtRemoteFolder")->text(), QStringLiteral("/"));
}

void TestForm1::typingStoresEveryKeystroke() {
    Form1 f;
    f.Form_Load();
    struct Case {
        const char* box;
        QString key;
    };
    const Case cases[] = {{"txtHostName", "HostName"},          {"txtPort", "Port"},
                          {"txtUserName", "UserName"},          {"txtPassword", "Password"},
                          {"txtRemoteFolder", "Remote Folder"}, {"Text1", "Text1"}};
    for (const Case& c : cases) {
        QLineEdit* e = box(f, c.box);
        e->setText(QStringLiteral("x"));
        e->clear();
        QCOMPARE(storedByAnotherReader(c.key), QString());
        QString typed;
        for (QChar ch : QStringLiteral("a b")) {
            QTest::keyClick(e, ch.toLatin1());
            typed += ch;
            QCOMPARE(storedByAnotherReader(c.key), typed);
        }
    }
}

void TestForm1::unwritableSettingsKeepWorking() {
    // A file where the configuration folder should be: nothing can be created
    // below it, not even by root.
    const QString blocker = sandbox_->configFolder() + QStringLiteral("/blocked");
    QVERIFY(TestFiles::writeFile(blocker, {}));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker));
    ResetSettingsCache();
    MessageRecorder rec;
    Form1 f;
    f.Form_Load();
    box(f, "txtHostName")->setText(QStringLiteral("ftp.example.org"));
    QCOMPARE(box(f, "txtHostName")->text(), QStringLiteral("ftp.example.org"));
    QCOMPARE(GetSetting(kApp, kSection, QStringLiteral("HostName")),
             QStringLiteral("ftp.example.org"));
    QVERIFY(rec.boxes().isEmpty());
}

void TestForm1::settingsFileIsOwnerOnly() {
    const mode_t old = ::umask(0);
    {
        Form1 f;
        f.Form_Load();
        box(f, "txtPassword")->setText(QStringLiteral("secret"));
    }
    ::umask(old);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(SettingsFilePath(kApp)).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    QCOMPARE(storedByAnotherReader("Password"), QStringLiteral("secret"));
}

void TestForm1::applicationTitle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("one word") << "Pellmor"
                              << "Pellmor";
    QTest::newRow("three short words") << "Pellmor Sync Tool"
                                       << "Pellmor Sync";
    QTest::newRow("two words") << "Pellmor Sync"
                               << "Pellmor";
    QTest::newRow("long name") << "Pellmor the folder synchroniser for web developers and admins"
                               << "Pellmor the folder synchroniser for web";
    QTest::newRow("exactly forty after one cut") << QString(40, 'a') + " tail" << QString(40, 'a');
}

void TestForm1::applicationTitle() {
    QFETCH(QString, name);
    QFETCH(QString, title);
    QCOMPARE(ApplicationTitleFor(name), title);
    QVERIFY(ApplicationTitleFor(name).size() <= 40 || !name.contains(' '));
}

void TestForm1::geometryCaptionsAndFonts() {
    Form1 f;
    f.Form_Load();
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    // The designed 8430 twips, and one line below them for the progress line.
    QCOMPARE(f.size(), QSize(f.twipsToPixelsX(8760), f.twipsToPixelsY(8430 + 330)));
    QCOMPARE(f.minimumSize(), f.maximumSize());
    QVERIFY(!(f.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!f.windowIcon().isNull());
    QCOMPARE(f.font().family(), QStringLiteral("Arial"));
    QVERIFY(f.font().bold());
    QCOMPARE(f.font().pointSizeF(), 9.0);
    const auto buttons = f.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 7);
    for (QPushButton* b : buttons) {
        QCOMPARE(b->font().pointSizeF(), 11.25);
        QVERIFY(b->font().bold());
    }
    QCOMPARE(f.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(box(f, "txtPassword")->echoMode(), QLineEdit::Password);
}

void TestForm1::controlsAreWhereTheTableSays_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("Frame2") << "Frame2"
                            << "FTP settings" << QRect(120, 120, 8520, 2235);
    QTest::newRow("Label1") << "Label1"
                            << "Host name:" << QRect(240, 345, 1815, 255);
    QTest::newRow("txtHostName") << "txtHostName"
                                 << "" << QRect(1320, 300, 5565, 345);
    QTest::newRow("Label6") << "Label6"
                            << "Port:" << QRect(7080, 345, 495, 255);
    QTest::newRow("txtPort") << "txtPort"
                             << "" << QRect(7560, 300, 735, 345);
    QTest::newRow("Label2") << "Label2"
                            << "User name:" << QRect(240, 795, 1335, 255);
    QTest::newRow("txtUserName") << "txtUserName"
                                 << "" << QRect(1320, 750, 6960, 345);
    QTest::newRow("Label3") << "Label3"
                            << "Password:" << QRect(240, 1245, 1095, 255);
    QTest::newRow("txtPassword") << "txtPassword"
                                 << "" << QRect(1320, 1200, 6960, 345);
    QTest::newRow("PushButton3") << "PushButton3"
                                 << "Test Connection" << QRect(240, 1650, 8055, 405);
    QTest::newRow("Frame1") << "Frame1"
                            << "Local Folder" << QRect(120, 2415, 8520, 820);
    QTest::newRow("Text1") << "Text1"
                           << "" << QRect(240, 300, 7245, 345);
    QTest::newRow("PushButton2") << "PushButton2"
                                 << "..." << QRect(7560, 300, 720, 345);
    QTest::newRow("Frame3") << "Frame3"
                            << "FTP Folder" << QRect(120, 3315, 8520, 820);
    QTest::newRow("txtRemoteFolder") << "txtRemoteFolder"
                                     << "" << QRect(240, 300, 7245, 345);
    QTest::newRow("PushButton1") << "PushButton1"
                                 << "..." << QRect(7560, 300, 720, 345);
    QTest::newRow("PushButton5") << "PushButton5"
                                 << "1. Start Comparing Local and FTP Folders"
                                 << QRect(120, 4245, 8520, 405);
    QTest::newRow("ListView3") << "ListView3"
                               << "" << QRect(120, 4740, 8520, 2640);
    QTest::newRow("PushButton7") << "PushButton7"
                                 << "Check All" << QRect(120, 7470, 4200, 405);
    QTest::newRow("PushButton8") << "PushButton8"
                                 << "Uncheck All" << QRect(4440, 7470, 4200, 405);
    QTest::newRow("PushButton6") << "PushButton6"
                                 << "2. Start Syncing (Upload Local Files)"
                                 << QRect(120, 7980, 8520, 405);
}

void TestForm1::controlsAreWhereTheTableSays() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    Form1 f;
    f.Form_Load();
    QWidget* w = f.findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->geometry(),
             QRect(f.twipsToPixelsX(twips.x()), f.twipsToPixelsY(twips.y()),
                   f.twipsToPixelsX(twips.width()), f.twipsToPixelsY(twips.height())));
    if (auto* g = qobject_cast<QGroupBox*>(w))
        QCOMPARE(g->title(), caption);
    else if (auto* l = qobject_cast<QLabel*>(w))
        QCOMPARE(l->text(), caption);
    else if (auto* b = qobject_cast<QPushButton*>(w))
        QCOMPARE(b->text(), caption);
}

void TestForm1::tabOrder() {
    Form1 f;
    f.Form_Load();
    const QStringList expected = {"txtHostName", "txtPort",         "txtUserName", "txtPassword",
                                  "ListView3",   "PushButton3",     "PushButton2", "Text1",
                                  "PushButton1", "txtRemoteFolder", "PushButton5", "PushButton7",
                                  "PushButton8", "PushButton6"};
    QStringList seen;
    QWidget* w = f.findChild<QWidget*>("txtHostName");
    for (int i = 0; i < expected.size(); ++i) {
        seen << w->objectName();
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || w->objectName().isEmpty());
    }
    QCOMPARE(seen, expected);
}

void TestForm1::resultListColumns() {
    Form1 f;
    f.Form_Load();
    auto* list = f.findChild<QTreeView*>("ListView3");
    QVERIFY(list);
    QCOMPARE(list->model()->columnCount(), 3);
    QCOMPARE(list->model()->rowCount(), 0);
    const QStringList captions = {"Source", "Action", "Destination"};
    const int widths[] = {2800, 2600, 2800};
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), captions.at(c));
        QCOMPARE(list->columnWidth(c), f.twipsToPixelsX(widths[c]));
    }
    QCOMPARE(list->toolTip(), QStringLiteral("Double-click item to remove it. Move | line to right "
                                             "and out of window to reveal full names."));
    f.resultList().addRow(RowKind::Upload, "/a/x.txt", "/www/x.txt");
    QCOMPARE(list->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
}

void TestForm1::longPathsKeepTheirEndsInSight_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("sourceTip");
    QTest::addColumn<QString>("destinationTip");
    // What stays in sight when the cell is too narrow for the whole path.
    QTest::addColumn<QString>("sourceEnd");
    QTest::addColumn<QString>("destinationEnd");
    const QString deep =
        "/tmp/pellmor-demo.tg1flq/site/assets/images/gallery/2024/summer/beach.jpg";
    const QString remote = "/www/assets/images/gallery/2024/summer/beach.jpg";
    QTest::newRow("upload") << deep << remote << deep << remote << "/summer/beach.jpg"
                            << "/summer/beach.jpg";
    QTest::newRow("delete") << remote << QString() << remote << QString() << "/summer/beach.jpg"
                            << QString();
    // Shown as the list shows such names.
    QTest::newRow("name that is not UTF-8")
        << decodeNameBytes("/tmp/pellmor-demo.tg1flq/site/caf\xe9.txt")
        << decodeNameBytes("/www/caf\xe9.txt") << "/tmp/pellmor-demo.tg1flq/site/caf\\xE9.txt"
        << "/www/caf\\xE9.txt"
        << "/site/caf\\xE9.txt"
        << "/www/caf\\xE9.txt";
    // No room for the folder: as much of the name as fits.
    const QString longName = "/www/a-file-name-far-too-long-for-any-column-of-the-list.html";
    QTest::newRow("long name") << longName << longName << longName << longName << "of-the-list.html"
                               << "of-the-list.html";
}

void TestForm1::longPathsKeepTheirEndsInSight() {
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(QString, sourceTip);
    QFETCH(QString, destinationTip);
    QFETCH(QString, sourceEnd);
    QFETCH(QString, destinationEnd);
    Form1 f;
    f.Form_Load();
    auto* list = f.findChild<QTreeView*>("ListView3");
    QCOMPARE(list->textElideMode(), Qt::ElideMiddle);
    f.resultList().addRow(destination.isEmpty() ? RowKind::Delete : RowKind::Upload, source,
                          destination);
    const QFontMetrics metrics(list->font());
    const struct {
        int column;
        QString tip, end;
    } cells[] = {{0, sourceTip, sourceEnd}, {2, destinationTip, destinationEnd}};
    for (const auto& cell : cells) {
        const QModelIndex index = list->model()->index(0, cell.column);
        QCOMPARE(index.data(Qt::ToolTipRole).toString(), cell.tip);
        // The cell's paths are drawn cut where they tell least.
        QVERIFY(qobject_cast<PathElideDelegate*>(list->itemDelegateForIndex(index)));
        const int width = list->columnWidth(cell.column);
        const QString shown = PathElideDelegate::elidePath(cell.tip, metrics, width);
        QVERIFY2(metrics.horizontalAdvance(shown) <= width, qPrintable(shown));
        QVERIFY2(shown.endsWith(cell.end), qPrintable(shown));
        if (shown != cell.tip)
            QVERIFY2(shown.contains(QChar(0x2026)), qPrintable(shown));
    }
}

void TestForm1::accessibleNames() {
    Form1 f;
    f.Form_Load();
    QCOMPARE(box(f, "txtHostName")->accessibleName(), QStringLiteral("Host name:"));
    QCOMPARE(box(f, "txtPort")->accessibleName(), QStringLiteral("Port:"));
    QCOMPARE(box(f, "txtUserName")->accessibleName(), QStringLiteral("User name:"));
    QCOMPARE(box(f, "txtPassword")->accessibleName(), QStringLiteral("Password:"));
    QCOMPARE(box(f, "Text1")->accessibleName(), QStringLiteral("Local Folder"));
    QCOMPARE(box(f, "txtRemoteFolder")->accessibleName(), QStringLiteral("FTP Folder"));
    QVERIFY(!f.findChild<QPushButton*>("PushButton1")->accessibleName().isEmpty());
    QVERIFY(!f.findChild<QPushButton*>("PushButton2")->accessibleName().isEmpty());
    QVERIFY(f.findChild<QPushButton*>("PushButton1")->accessibleName() !=
            f.findChild<QPushButton*>("PushButton2")->accessibleName());
}

void TestForm1::hoverRule() {
    QVERIFY(TestFiles::writeFile(sandbox_->programFile("HAND-M.CUR"), makeCursorFile(5, 1)));
    Form1 f;
    f.Form_Load();
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QVERIFY(f.hasCustomPointer());
    auto moveOver = [&](const char* name) {
        QWidget* w = f.findChild<QWidget*>(name);
        if (auto* view = qobject_cast<QTreeView*>(w))
            w = view->viewport();
        QMouseEvent ev(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)),
                       Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &ev);
    };
    moveOver("PushButton5");
    QCOMPARE(f.pointerState(), Form1::Pointer::Custom);
    QCOMPARE(f.cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(f.cursor().hotSpot(), QPoint(5, 1));
    moveOver("Label2"); // no handler: the hand stays
    QCOMPARE(f.pointerState(), Form1::Pointer::Custom);
    moveOver("txtHostName");
    QCOMPARE(f.pointerState(), Form1::Pointer::Custom);
    moveOver("Label1");
    QCOMPARE(f.pointerState(), Form1::Pointer::Ordinary);
    moveOver("PushButton7");
    moveOver("ListView3");
    QCOMPARE(f.pointerState(), Form1::Pointer::Ordinary);
    moveOver("PushButton8");
    QMouseEvent bg(QEvent::MouseMove, QPointF(1, 1), f.mapToGlobal(QPointF(1, 1)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&f, &bg);
    QCOMPARE(f.pointerState(), Form1::Pointer::Ordinary);
    // The hourglass wins over every hover.
    f.setHourglass(true);
    moveOver("PushButton6");
    moveOver("Label1");
    QCOMPARE(f.pointerState(), Form1::Pointer::Hourglass);
    QCOMPARE(f.cursor().shape(), Qt::WaitCursor);
    f.setHourglass(false);
    QCOMPARE(f.pointerState(), Form1::Pointer::Ordinary);
}

void TestForm1::handCursorFromFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("loaded");
    QTest::newRow("no file") << QByteArray() << false;
    QTest::newRow("valid cursor") << makeCursorFile(3, 4) << true;
    QTest::newRow("text file") << QByteArray("not a cursor at all, just text\n") << false;
    QByteArray truncated = makeCursorFile(3, 4);
    truncated.truncate(30);
    QTest::newRow("truncated") << truncated << false;
    QTest::newRow("hot spot outside") << makeCursorFile(200, 4) << false;
}

void TestForm1::handCursorFromFile() {
    QFETCH(QByteArray, content);
    QFETCH(bool, loaded);
    if (!content.isEmpty())
        QVERIFY(TestFiles::writeFile(sandbox_->programFile("HAND-M.CUR"), content));
    MessageRecorder rec;
    Form1 f;
    f.Form_Load();
    QCOMPARE(f.hasCustomPointer(), loaded);
    QVERIFY(rec.boxes().isEmpty());
    QMouseEvent ev(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
    QApplication::sendEvent(f.findChild<QPushButton*>("PushButton3"), &ev);
    QCOMPARE(f.cursor().shape(), loaded ? Qt::BitmapCursor : Qt::ArrowCursor);
}

void TestForm1::skinFileSwitchesColours() {
    {
        Form1 plain;
        plain.Form_Load();
        QCOMPARE(plain.findChild<QGroupBox*>("Frame1")->palette().color(QPalette::Window),
                 QColor(Qt::white));
        QCOMPARE(plain.findChild<QLabel*>("Label1")->palette().color(QPalette::Window),
                 QColor(Qt::white));
    }
    QVERIFY(TestFiles::writeFile(sandbox_->programFile("x/o.cjs"), {}));
    Form1 skinned;
    skinned.Form_Load();
    const QColor face = QApplication::palette().color(QPalette::Active, QPalette::Button);
    QCOMPARE(skinned.palette().color(QPalette::Window), face);
    QCOMPARE(skinned.findChild<QGroupBox*>("Frame3")->palette().color(QPalette::Window), face);
    QCOMPARE(skinned.findChild<QLabel*>("Label6")->palette().color(QPalette::Window), face);
}

void TestForm1::focusSelectsWholeText() {
    Form1 f;
    f.Form_Load();
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QLineEdit* host = box(f, "txtHostName");
    host->setFocus();
    QTRY_VERIFY(host->hasFocus());
    QTest::keyClick(&f, Qt::Key_Tab);
    QLineEdit* port = box(f, "txtPort");
    QTRY_VERIFY(port->hasFocus());
    QCOMPARE(port->selectedText(), QStringLiteral("21"));
    QCOMPARE(port->selectionStart(), 0);
}

void TestForm1::checkAllAndUncheckAll() {
    MessageRecorder rec;
    Form1 f;
    f.Form_Load();
    auto* check = f.findChild<QPushButton*>("PushButton7");
    auto* uncheck = f.findChild<QPushButton*>("PushButton8");
    check->click(); // empty list: nothing happens
    uncheck->click();
    ResultListModel& m = f.resultList();
    for (int i = 0; i < 5; ++i)
        m.addRow(RowKind::Upload, QStringLiteral("/l/%1").arg(i), "/r");
    m.setAction(1, QStringLiteral("Done"));
    m.setChecked(3, false);
    uncheck->click();
    for (int i = 0; i < 5; ++i)
        QVERIFY(!m.isChecked(i));
    check->click();
    for (int i = 0; i < 5; ++i)
        QVERIFY(m.isChecked(i));
    QCOMPARE(m.action(1), QStringLiteral("Done"));
    QCOMPARE(m.rowCount(), 5);
    QVERIFY(rec.boxes().isEmpty());
}

void TestForm1::closingDuringARunEndsIt() {
    QTemporaryDir local;
    for (int i = 0; i < 3; ++i) {
        QDir(local.path()).mkpath(QStringLiteral("d%1").arg(i));
        QFile file(local.filePath(QStringLiteral("d%1/f.txt").arg(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    MessageRecorder rec;
    Form1 f;
    f.Form_Load();
    f.show();
    box(f, "Text1")->setText(local.path() + QLatin1Char('/'));
    box(f, "txtRemoteFolder")->setText(QStringLiteral("/"));
    box(f, "txtHostName")->setText(QStringLiteral("127.0.0.1"));
    box(f, "txtPort")->setText(QStringLiteral("1"));
    int yields = 0;
    auto previous = UiYield::setHook([&] {
        if (++yields == 1)
            f.close();
    });
    f.findChild<QPushButton*>("PushButton5")->click();
    UiYield::setHook(previous);
    // The run unwound at its first yield: it never got as far as the server.
    QVERIFY(UiYield::abortRequested());
    QCOMPARE(yields, 1);
    QVERIFY(rec.boxes().isEmpty());
    QCOMPARE(f.resultList().rowCount(), 0);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"

void TestForm1::ruleChoicesComeFromAndGoToTheSettings_data() {
    using M = CompareRules::Match;
    using O = CompareRules::Overwrite;
    QTest::addColumn<Settings>("stored");
    QTest::addColumn<CompareRules>("shown");
    QTest::addColumn<QStringList>("chosen"); // the texts picked in the two boxes
    QTest::addColumn<CompareRules>("rules");
    QTest::addColumn<Settings>("storedAfter");
    QTest::newRow("nothing stored")
        << Settings{} << CompareRules{M::Name, O::Smaller}
        << QStringList{"path", "differs in size or time"} << CompareRules{M::Path, O::Time}
        << Settings{{"MatchBy", "path"}, {"OverwriteWhen", "time"}};
    QTest::newRow("stored rules") << Settings{{"MatchBy", "path"}, {"OverwriteWhen", "content"}}
                                  << CompareRules{M::Path, O::Content}
                                  << QStringList{"name, anywhere", "differs in size"}
                                  << CompareRules{M::Name, O::Size}
                                  << Settings{{"MatchBy", "name"}, {"OverwriteWhen", "size"}};
    QTest::newRow("words from another version")
        << Settings{{"MatchBy", "folder"}, {"OverwriteWhen", "newer"}}
        << CompareRules{M::Name, O::Smaller} << QStringList{"name, anywhere", "differs in content"}
        << CompareRules{M::Name, O::Content}
        << Settings{{"MatchBy", "folder"}, {"OverwriteWhen", "content"}};
}

void TestForm1::ruleChoicesComeFromAndGoToTheSettings() {
    QFETCH(Settings, stored);
    QFETCH(CompareRules, shown);
    QFETCH(QStringList, chosen);
    QFETCH(CompareRules, rules);
    QFETCH(Settings, storedAfter);
    store(stored);
    Form1 f;
    f.Form_Load();
    QVERIFY(f.compareRules() == shown);
    // Start-up writes nothing of its own.
    for (const QString key : {"MatchBy", "OverwriteWhen"})
        QCOMPARE(storedByAnotherReader(key), stored.value(key, "<missing>"));

    auto* match = f.findChild<QComboBox*>("cboMatchBy");
    auto* overwrite = f.findChild<QComboBox*>("cboOverwriteWhen");
    QVERIFY(match && overwrite);
    for (auto [combo, text] :
         {std::pair{match, chosen.at(0)}, std::pair{overwrite, chosen.at(1)}}) {
        QVERIFY(combo->findText(text) >= 0);
        combo->setCurrentIndex(combo->findText(text));
    }

    QVERIFY(f.compareRules() == rules);
    for (auto it = storedAfter.begin(); it != storedAfter.end(); ++it)
        QCOMPARE(storedByAnotherReader(it.key()), it.value());
}

void TestForm1::ruleChoicesBesideTheCompareButton() {
    // Inside the window, above the compare button, clear of the frame's title
    // and of every control of the window but the frame they sit on.
    Form1 f;
    f.Form_Load();
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    auto* choices = f.findChild<QWidget*>("RuleChoices");
    QVERIFY(choices && choices->isVisible());
    const QRect strip = choices->geometry();
    QVERIFY(f.rect().contains(strip));
    QVERIFY2(strip.width() >= choices->sizeHint().width(), "the texts are cut");
    QVERIFY(strip.bottom() < f.findChild<QWidget*>("PushButton5")->geometry().top());
    auto* frame = f.findChild<QGroupBox*>("Frame3");
    QVERIFY(strip.left() > frame->x() + frame->fontMetrics().horizontalAdvance(frame->title()));
    for (QWidget* w : f.findChildren<QWidget*>()) {
        if (w == frame || w->objectName().isEmpty() || choices->isAncestorOf(w) || w == choices ||
            !w->isVisible())
            continue;
        const QRect at(w->mapTo(&f, QPoint(0, 0)), w->size());
        QVERIFY2(!strip.intersects(at), qPrintable(w->objectName()));
    }
}
