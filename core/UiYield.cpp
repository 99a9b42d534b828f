#include "core/UiYield.h"

#include "core/VbError.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {
struct State {
    QElapsedTimer sinceLast;
    int intervalMs = 15;
    bool abort = false;
    UiYield::Hook hook;
};
State& state() {
    static State s;
    return s;
}
} // namespace

void UiYield::processNow() {
    State& s = state();
    if (s.abort)
        throw RunAborted{};
    if (s.hook)
        s.hook();
    else if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    s.sinceLast.start();
    if (s.abort)
        throw RunAborted{};
}

void UiYield::processPending() {
    State& s = state();
    if (s.abort)
        throw RunAborted{};
    if (s.sinceLast.isValid() && s.sinceLast.elapsed() < s.intervalMs)
        return;
    processNow();
}

void UiYield::requestAbort() {
    state().abort = true;
}
bool UiYield::abortRequested() {
    return state().abort;
}
void UiYield::resetAbort() {
    state().abort = false;
}
void UiYield::setInterval(int milliseconds) {
    state().intervalMs = milliseconds;
}

UiYield::Hook UiYield::setHook(Hook hook) {
    Hook previous = std::move(state().hook);
    state().hook = std::move(hook);
    return previous;
}
