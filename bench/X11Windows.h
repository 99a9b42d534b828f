#pragma once

#include <QStringList>

// The windows of a process on the X display, found without starting a
// program: the window benchmark looks every few milliseconds while it times
// the program, and a process started for each look (xdotool) took a share of
// the two cores from the program and the server it timed.
namespace X11Windows {

// The viewable top-level windows whose _NET_WM_PID is `pid`, as decimal
// window ids (xdotool's form); empty when the display cannot be opened.
QStringList visibleOf(qint64 pid);

} // namespace X11Windows
