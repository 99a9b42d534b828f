#pragma once

#include "core/PathTable.h"

#include <QStringView>

#include <vector>

// The positions of a path table by file name, exact (letter case counts), or
// by folder and name: which positions bear a name, found in constant time.
// Positions with the same key are chained in table order. Small: two numbers
// a path, no copy of any name. The table must not change while the index is
// in use.
class NameIndex {
public:
    enum class Key { Name, FolderAndName };
    explicit NameIndex(const PathTable& table, Key key = Key::Name);

    // The first position bearing the name (in the table's folder of that
    // index, when keyed by folder too), or -1.
    qsizetype first(QStringView name, int folder = -1) const;
    // The next position with the same key as `position`, or -1.
    qsizetype next(qsizetype position) const { return next_[size_t(position)]; }
    bool contains(QStringView name, int folder = -1) const { return first(name, folder) >= 0; }

private:
    size_t hashOf(QStringView name, int folder) const;
    size_t slotOf(QStringView name, int folder, size_t hash) const;

    const Key key_;
    const PathTable& table_;
    // Open addressing: the first position of each name, -1 where empty.
    std::vector<qint32> slots_;
    std::vector<qint32> next_;
    // Per position, the low bits of its key's hash: most probes that meet
    // another name end without comparing the names.
    std::vector<quint32> hashes_;
    size_t mask_ = 0;
};
