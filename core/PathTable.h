#pragma once

#include <QChar>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <vector>

// An ordered list of file paths held compactly, for trees of a million files:
// each folder once, and each name once, back to back in large blocks, with
// small records that refer to them. A path is its folder (ending with the
// separator) followed by its name (holding none). Positions count from 0.
//
// Names are read as views that stay valid as long as the table lives, also
// while more paths are appended.
class PathTable {
public:
    explicit PathTable(QChar separator = u'/') : separator_(separator) {}
    PathTable(const PathTable&) = delete;
    PathTable& operator=(const PathTable&) = delete;
    PathTable(PathTable&&) = default;
    PathTable& operator=(PathTable&&) = default;

    QChar separator() const { return separator_; }

    // Appends folder + name. Each folder is stored once, however the paths
    // come.
    void append(const QString& folder, QStringView name);
    // Appends a whole path, split after its last separator.
    void append(const QString& path);

    qsizetype size() const { return qsizetype(entries_.size()); }
    bool isEmpty() const { return entries_.empty(); }
    void clear();

    // The whole path (made on each call).
    QString at(qsizetype i) const;
    QStringView name(qsizetype i) const;
    int folderIndex(qsizetype i) const { return int(entries_[size_t(i)].folder); }
    const QString& folder(qsizetype i) const { return folders_.at(folderIndex(i)); }
    // Every folder once, in the order they first held a path.
    const QStringList& folders() const { return folders_; }

    QStringList toStringList() const;
    static PathTable fromStringList(const QStringList& paths, QChar separator);

private:
    struct Entry {
        quint32 folder;
        quint32 block;
        quint32 offset; // in its block
        quint32 length;
    };
    struct Block {
        std::unique_ptr<char16_t[]> text;
        qsizetype capacity = 0;
        qsizetype used = 0;
    };
    QStringView store(QStringView name, Entry* entry);

    QChar separator_;
    QStringList folders_;
    QHash<QString, int> folderIndex_;
    std::vector<Entry> entries_;
    std::vector<Block> blocks_;
};
