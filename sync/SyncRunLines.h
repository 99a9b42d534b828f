#pragma once

#include "core/ErrorTrap.h"

#include <QString>

// Where the sync run's error reports say they happened: the location of the
// window's procedure, and the numbers of its statements.
namespace SyncRunLines {

inline QString location() {
    return ErrorTrap::locationOf("Form1", "PushButton6_Click");
}

enum Line {
    Start = 100,
    EmptyList = 102,
    Row = 106,
    Delete = 110,
    RemoteName = 112,
    OpenLocal = 114,
    Rename = 116,
    CreateFolder = 118,
    OpenRemote = 120,
    Read = 124,
    Close = 130,
    Mark = 132,
    End = 134,
};

} // namespace SyncRunLines
