#pragma once

#include <QString>

// How many logged-in sessions a run may use at once: the stored "Transfers"
// setting. One means strictly one command after another over the main session,
// the way the runs have always worked.
namespace Transfers {

constexpr int kDefault = 4;
constexpr int kMin = 1;
constexpr int kMax = 8;

// The stored text as a count: a whole number from 1 to 8, with surrounding
// blanks allowed; anything else (empty, "abc", "0", "9", "2.5") is the default,
// so a mistyped setting never stops a run.
inline int fromText(const QString& text) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok && n >= kMin && n <= kMax ? n : kDefault;
}

} // namespace Transfers
