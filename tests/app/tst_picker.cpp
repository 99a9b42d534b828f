#include "app/BrowseForFolder.h"
#include "app/Form1.h"
#include "app/MainModule.h"
#include "core/SettingsStore.h"
#include "tests/support/AppSandbox.h"
#include "tests/support/MessageRecorder.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {
const QString kApp = QStringLiteral("Tarvex");
const QString kSection = QStringLiteral("Pellmor");
const QString kNotStored = QStringLiteral("<not stored>");
const QString kDesktop = QStringLiteral("/home/u/Desktop/");

QString stored(const QString& key) {
    ResetSettingsCache();
    return GetSetting(kApp, kSection, key, kNotStored);
}

// Waits for the modal folder dialog to come up, then lets act look at it and
// answer it as the user would. act answers false while the dialog is not yet
// in the state it waits for, and is called again on the next tick; a dialog
// that never gets there is cancelled, so that the check fails instead of
// hanging.
void answerDialog(std::function<bool(QFileDialog*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    auto ticksLeft = std::make_shared<int>(1000);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act, ticksLeft] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        const bool answered = act(dialog);
        if (!answered && --*ticksLeft > 0)
            return;
        if (!answered)
            dialog->reject();
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
}
} // namespace

class TestPicker : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void chooseThroughWindow_data();
    void chooseThroughWindow();
    void nextDialogStartsAtLastChoice();

    void realDialog_data();
    void realDialog();

private:
    std::unique_ptr<AppSandbox> sandbox_;
    SpecialFolderLookup previousLookup_;
};

void TestPicker::init() {
    sandbox_ = std::make_unique<AppSandbox>();
    previousLookup_ = SetSpecialFolderLookup([](int) { return QStringLiteral("/home/u/Desktop"); });
}

void TestPicker::cleanup() {
    SetFolderDialog({});
    SetSpecialFolderLookup(previousLookup_);
    sandbox_.reset();
}

void TestPicker::chooseThroughWindow_data() {
    QTest::addColumn<QString>("lastFolder"); // kNotStored: no earlier choice
    QTest::addColumn<QString>("answer");     // empty: the user cancels
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("storedLast");

    QTest::newRow("cancel changes nothing") << "/srv/old"
                                            << "" << kDesktop << "/srv/old";
    QTest::newRow("cancel with nothing stored") << kNotStored << "" << kDesktop << kNotStored;
    QTest::newRow("root gets no second separator") << kNotStored << "/"
                                                   << "/"
                                                   << "/";
    QTest::newRow("ordinary folder gets one separator") << "/srv/old"
                                                        << "/srv/site"
                                                        << "/srv/site/"
                                                        << "/srv/site";
    QTest::newRow("blanks and backslash are name characters") << kNotStored << "/srv/my site\\2021 "
                                                              << "/srv/my site\\2021 /"
                                                              << "/srv/my site\\2021 ";
    QTest::newRow("letters beyond ASCII")
        << kNotStored << QString::fromUtf8("/home/u/Überweisungen")
        << QString::fromUtf8("/home/u/Überweisungen/")
        << QString::fromUtf8("/home/u/Überweisungen");
}

void TestPicker::chooseThroughWindow() {
    QFETCH(QString, lastFolder);
    QFETCH(QString, answer);
    QFETCH(QString, text1);
    QFETCH(QString, storedLast);
    if (lastFolder != kNotStored)
        SaveSetting(kApp, kSection, QStringLiteral("LastFolder"), lastFolder);
    ResetSettingsCache();

    MessageRecorder recorder;
    Form1 form;
    form.Form_Load();
    const QString text1Before = stored(QStringLiteral("Text1"));

    QStringList prompts;
    QStringList starts;
    QWidget* owner = nullptr;
    SetFolderDialog([&](QWidget* dialogOwner, const QString& prompt, const QString& start) {
        owner = dialogOwner;
        prompts << prompt;
        starts << start;
        return answer;
    });
    form.findChild<QPushButton*>("PushButton2")->click();

    QCOMPARE(owner, &form);
    QCOMPARE(prompts, QStringList{"Please select folder:"});
    QCOMPARE(starts, QStringList{lastFolder == kNotStored ? QString() : lastFolder});
    QCOMPARE(form.findChild<QLineEdit*>("Text1")->text(), text1);
    QCOMPARE(stored(QStringLiteral("LastFolder")), storedLast);
    QCOMPARE(stored(QStringLiteral("Text1")), answer.isEmpty() ? text1Before : text1);
    QCOMPARE(recorder.texts(), QStringList{});
}

void TestPicker::nextDialogStartsAtLastChoice() {
    MessageRecorder recorder;
    Form1 form;
    form.Form_Load();
    QStringList answers{"/srv/first", "", "/srv/third"};
    QStringList starts;
    SetFolderDialog([&](QWidget*, const QString&, const QString& start) {
        starts << start;
        return answers.takeFirst();
    });
    auto* button = form.findChild<QPushButton*>("PushButton2");
    button->click();
    button->click(); // cancelled: the remembered folder stays
    button->click();
    QCOMPARE(starts, QStringList({"", "/srv/first", "/srv/first"}));
    QCOMPARE(form.findChild<QLineEdit*>("Text1")->text(), QStringLiteral("/srv/third/"));
}

void TestPicker::realDialog_data() {
    QTest::addColumn<QString>("start"); // "{T}" stands for a temporary folder
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("expectedStart");
    QTest::addColumn<QString>("expected");

    QTest::newRow("opens at the start folder, answers the chosen one")
        << "{T}/site" << true << "{T}/site"
        << "{T}/site/inner";
    QTest::newRow("cancel answers nothing") << "{T}/site" << false << "{T}/site"
                                            << "";
    QTest::newRow("vanished start folder opens at the default")
        << "{T}/gone" << false << QDir::currentPath() << "";
}

void TestPicker::realDialog() {
    QFETCH(QString, start);
    QFETCH(bool, accept);
    QFETCH(QString, expectedStart);
    QFETCH(QString, expected);
    QTemporaryDir tree;
    QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("site/inner")));
    const auto fill = [&](QString s) { return s.replace(QStringLiteral("{T}"), tree.path()); };

    QString title;
    QString shownAt;
    answerDialog([&](QFileDialog* dialog) {
        if (title.isNull()) {
            title = dialog->windowTitle();
            shownAt = dialog->directory().absolutePath();
            if (!accept) {
                dialog->reject();
                return true;
            }
            dialog->setDirectory(fill(QStringLiteral("{T}/site")));
        }
        // Typed into the name box as a user would. The dialog lists the folder
        // and takes the focus asynchronously, and either may reset a choice
        // made too early, so it answers only once it reports "inner" chosen.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name)
            return false;
        if (name->text() != QLatin1String("inner"))
            name->setText(QStringLiteral("inner"));
        if (dialog->selectedFiles() != QStringList{fill(QStringLiteral("{T}/site/inner"))})
            return false;
        QMetaObject::invokeMethod(dialog, "accept");
        return true;
    });
    const QString chosen =
        BrowseForFolder(nullptr, QStringLiteral("Please select folder:"), fill(start));
    QCOMPARE(title, QStringLiteral("Please select folder:"));
    QCOMPARE(shownAt, fill(expectedStart));
    QCOMPARE(chosen, fill(expected));
}

QTEST_MAIN(TestPicker)
#include "tst_picker.moc"
