#include "bench/X11Windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

Display* display() {
    static Display* const d = XOpenDisplay(nullptr);
    return d;
}

// The _NET_WM_PID of a window, or -1.
long pidOf(Display* d, Window w) {
    static const Atom netWmPid = XInternAtom(d, "_NET_WM_PID", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(d, w, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                           &data) == Success &&
        data && format == 32 && items == 1)
        pid = long(*reinterpret_cast<unsigned long*>(data));
    if (data)
        XFree(data);
    return pid;
}

} // namespace

QStringList X11Windows::visibleOf(qint64 pid) {
    QStringList found;
    Display* d = display();
    if (!d)
        return found;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count))
        return found;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(d, children[i], &attributes) &&
            attributes.map_state == IsViewable && pidOf(d, children[i]) == long(pid))
            found << QString::number(children[i]);
    }
    if (children)
        XFree(children);
    return found;
}
