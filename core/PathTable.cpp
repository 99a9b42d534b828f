#include "core/PathTable.h"

#include <algorithm>
#include <cstring>

namespace {

// Blocks grow from small, so that a table of a few paths costs little, to a
// size at which the blocks of a million names are a few dozen.
constexpr qsizetype kFirstBlock = 4096;
constexpr qsizetype kLargestBlock = qsizetype(1) << 20;

} // namespace

QStringView PathTable::store(QStringView name, Entry* entry) {
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < name.size()) {
        const qsizetype grown =
            blocks_.empty() ? kFirstBlock : std::min(blocks_.back().capacity * 2, kLargestBlock);
        Block block;
        block.capacity = std::max(grown, name.size());
        block.text = std::make_unique<char16_t[]>(size_t(block.capacity));
        blocks_.push_back(std::move(block));
    }
    Block& block = blocks_.back();
    char16_t* at = block.text.get() + block.used;
    std::memcpy(at, name.utf16(), size_t(name.size()) * sizeof(char16_t));
    entry->block = quint32(blocks_.size() - 1);
    entry->offset = quint32(block.used);
    entry->length = quint32(name.size());
    block.used += name.size();
    return QStringView(at, name.size());
}

void PathTable::append(const QString& folder, QStringView name) {
    // Paths mostly come folder by folder: the last folder is the likely one.
    int index = int(folders_.size()) - 1;
    if (index < 0 || folders_.at(index) != folder) {
        const auto known = folderIndex_.constFind(folder);
        if (known != folderIndex_.cend()) {
            index = *known;
        } else {
            index = int(folders_.size());
            folders_.append(folder);
            folderIndex_.insert(folder, index);
        }
    }
    Entry entry{quint32(index), 0, 0, 0};
    store(name, &entry);
    entries_.push_back(entry);
}

void PathTable::append(const QString& path) {
    const qsizetype cut = path.lastIndexOf(separator_) + 1;
    append(path.left(cut), QStringView(path).sliced(cut));
}

void PathTable::clear() {
    folders_.clear();
    folderIndex_.clear();
    entries_.clear();
    blocks_.clear();
}

QStringView PathTable::name(qsizetype i) const {
    const Entry& e = entries_[size_t(i)];
    return QStringView(blocks_[e.block].text.get() + e.offset, qsizetype(e.length));
}

QString PathTable::at(qsizetype i) const {
    const QString& folder = folders_.at(folderIndex(i));
    const QStringView n = name(i);
    QString path;
    path.reserve(folder.size() + n.size());
    path.append(folder);
    path.append(n);
    return path;
}

QStringList PathTable::toStringList() const {
    QStringList paths;
    paths.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        paths.append(at(i));
    return paths;
}

PathTable PathTable::fromStringList(const QStringList& paths, QChar separator) {
    PathTable table(separator);
    for (const QString& path : paths)
        table.append(path);
    return table;
}
