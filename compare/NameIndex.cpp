#include "compare/NameIndex.h"

#include "core/UiYield.h"

#include <QHashFunctions>

NameIndex::NameIndex(const PathTable& table, Key key)
    : key_(key), table_(table), next_(size_t(table.size()), -1), hashes_(size_t(table.size())) {
    size_t capacity = 16;
    while (capacity < size_t(table.size()) * 2)
        capacity *= 2;
    slots_.assign(capacity, -1);
    mask_ = capacity - 1;
    // From the end, each position put before the ones after it: chains come
    // out in table order.
    for (qsizetype i = table.size() - 1; i >= 0; --i) {
        UiYield::processPending();
        const int folder = table.folderIndex(i);
        const size_t hash = hashOf(table.name(i), folder);
        hashes_[size_t(i)] = quint32(hash);
        const size_t slot = slotOf(table.name(i), folder, hash);
        next_[size_t(i)] = slots_[slot];
        slots_[slot] = qint32(i);
    }
}

size_t NameIndex::hashOf(QStringView name, int folder) const {
    return size_t(qHash(name, key_ == Key::FolderAndName ? size_t(folder) : 0));
}

size_t NameIndex::slotOf(QStringView name, int folder, size_t hash) const {
    const bool byFolder = key_ == Key::FolderAndName;
    size_t slot = hash & mask_;
    for (; slots_[slot] >= 0; slot = (slot + 1) & mask_) {
        const qsizetype at = slots_[slot];
        if (hashes_[size_t(at)] == quint32(hash) &&
            (!byFolder || table_.folderIndex(at) == folder) && table_.name(at) == name)
            break;
    }
    return slot;
}

qsizetype NameIndex::first(QStringView name, int folder) const {
    return slots_[slotOf(name, folder, hashOf(name, folder))];
}
