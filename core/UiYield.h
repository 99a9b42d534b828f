#pragma once

#include <functional>

// Lets pending user-interface events be processed from inside a long run.
//
// processPending() is cheap enough to call per item: it only really yields when
// the interval has passed since the last yield. Once the main window has been
// closed, every yield throws RunAborted so that the run unwinds at once.
class UiYield {
public:
    // Yields if at least the interval has passed since the last yield.
    static void processPending();
    // Yields now.
    static void processNow();

    static void requestAbort();
    static bool abortRequested();
    static void resetAbort();

    // Interval between real yields, in milliseconds (default 15).
    static void setInterval(int milliseconds);

    // Tests count or replace what a yield does (default: QCoreApplication::processEvents).
    using Hook = std::function<void()>;
    static Hook setHook(Hook hook);
};
