// Starts the built program on a real X server (Xvfb), finds its main window,
// and closes it the way a window manager's close button does.
#include "tests/support/TestServers.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {
Window findTopLevel(Display* dpy, const char* title) {
    Window root = DefaultRootWindow(dpy);
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(dpy, root, &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        if (XFetchName(dpy, children[i], &name) && name) {
            if (qstrcmp(name, title) == 0) {
                XWindowAttributes attrs;
                if (XGetWindowAttributes(dpy, children[i], &attrs) && attrs.map_state == IsViewable)
                    found = children[i];
            }
            XFree(name);
        }
    }
    if (children)
        XFree(children);
    return found;
}
} // namespace

class TestWindowSmoke : public QObject {
    Q_OBJECT
private slots:
    void startsShowsAndCloses();
};

void TestWindowSmoke::startsShowsAndCloses() {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    REQUIRE_TEST_SERVER(!xvfb.isEmpty(), QStringLiteral("Xvfb is not installed"));

    QProcess server;
    server.setProgram(xvfb);
    server.setArguments({"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.start();
    QVERIFY(server.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 20000);
    const QString display = QLatin1Char(':') + QString::fromLatin1(server.readLine()).trimmed();

    QTemporaryDir config;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_CONFIG_HOME", config.path());
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(PELLMOR_BINARY), {});
    QVERIFY(program.waitForStarted(10000));

    Display* dpy = XOpenDisplay(display.toLatin1().constData());
    QVERIFY(dpy);
    Window window = 0;
    QTRY_VERIFY_WITH_TIMEOUT((window = findTopLevel(dpy, "Pellmor")) != 0, 30000);

    XWindowAttributes attrs;
    QVERIFY(XGetWindowAttributes(dpy, window, &attrs));
    // The client area keeps the proportions of 8760 × 8430 twips, and one
    // line below them for the progress line, at any DPI.
    QVERIFY(attrs.width > 300 && attrs.height > 300);
    QVERIFY(qAbs(attrs.width * (8430.0 + 330.0) / 8760.0 - attrs.height) <= 2);
    // Not resizable: the size hints pin the size.
    XSizeHints hints{};
    long supplied = 0;
    QVERIFY(XGetWMNormalHints(dpy, window, &hints, &supplied));
    QVERIFY(hints.flags & PMinSize && hints.flags & PMaxSize);
    QCOMPARE(hints.min_width, hints.max_width);
    QCOMPARE(hints.min_height, hints.max_height);

    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = window;
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = long(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, window, False, NoEventMask, &ev);
    XFlush(dpy);

    QVERIFY(program.waitForFinished(15000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    XCloseDisplay(dpy);
    server.terminate();
    server.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(TestWindowSmoke)
#include "tst_window_smoke.moc"
