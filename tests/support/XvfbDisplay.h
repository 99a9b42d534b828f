#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QtTest>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

// A private X server (Xvfb) for tests that drive the built program like a
// user: find its top-level window by title, click into it with the server's
// own input devices, and close it the way a window manager's close button
// does. Header-only, so that only the tests that link X11 use it.
//
// start() answers false with a reason when Xvfb or its test input extension
// is missing. The server ends with this object.
class XvfbDisplay {
public:
    XvfbDisplay() = default;
    ~XvfbDisplay() {
        if (display_)
            XCloseDisplay(display_);
        if (server_.state() != QProcess::NotRunning) {
            server_.terminate();
            server_.waitForFinished(5000);
        }
    }
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool start(QString* reason) {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) {
            *reason = QStringLiteral("Xvfb is not installed");
            return false;
        }
        server_.setProgram(xvfb);
        server_.setArguments(
            {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        server_.start();
        if (!server_.waitForStarted(10000)) {
            *reason = QStringLiteral("Xvfb did not start");
            return false;
        }
        // Xvfb names its display once it accepts clients.
        QElapsedTimer waited;
        waited.start();
        while (!server_.canReadLine() && server_.state() == QProcess::Running &&
               waited.elapsed() < 30000)
            server_.waitForReadyRead(1000);
        if (!server_.canReadLine()) {
            *reason = QStringLiteral("Xvfb named no display");
            return false;
        }
        name_ = QLatin1Char(':') + QString::fromLatin1(server_.readLine()).trimmed();
        display_ = XOpenDisplay(name_.toLatin1().constData());
        if (!display_) {
            *reason = QStringLiteral("cannot open the display of Xvfb");
            return false;
        }
        int event = 0, error = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
            *reason = QStringLiteral("Xvfb offers no XTEST extension");
            return false;
        }
        return true;
    }

    // The DISPLAY value for programs run on this server.
    QString name() const { return name_; }

    // The mapped top-level window with this title, or 0.
    Window findTopLevel(const char* title) const {
        Window root = DefaultRootWindow(display_);
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (!XQueryTree(display_, root, &root, &parent, &children, &count))
            return 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            char* text = nullptr;
            if (XFetchName(display_, children[i], &text) && text) {
                XWindowAttributes attrs;
                if (qstrcmp(text, title) == 0 &&
                    XGetWindowAttributes(display_, children[i], &attrs) &&
                    attrs.map_state == IsViewable)
                    found = children[i];
                XFree(text);
            }
        }
        if (children)
            XFree(children);
        return found;
    }

    // The window's client area size in pixels.
    QSize size(Window window) const {
        XWindowAttributes attrs;
        if (!XGetWindowAttributes(display_, window, &attrs))
            return {};
        return {attrs.width, attrs.height};
    }

    // A left click at a point of the window's client area, made with the
    // server's pointer device, as a user's mouse makes it.
    void click(Window window, QPoint at) const {
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), at.x(), at.y(), &x, &y,
                              &child);
        XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XFlush(display_);
    }

    // What a window manager sends when the user presses a window's close
    // button.
    void requestClose(Window window) const {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = window;
        ev.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = long(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, window, False, NoEventMask, &ev);
        XFlush(display_);
    }

private:
    QProcess server_;
    QString name_;
    Display* display_ = nullptr;
};
