#pragma once

#include "compare/RunHost.h"

// Marks the host busy for its lifetime; on every way out, also when a closed
// window unwinds a run, the host is idle again with the ordinary pointer.
class BusyScope {
public:
    explicit BusyScope(RunHost& host) : host_(host) { host_.setBusy(true); }
    ~BusyScope() {
        host_.setHourglass(false);
        host_.setBusy(false);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    RunHost& host_;
};
