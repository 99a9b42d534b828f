#include "localfs/AddFolder.h"

#include "core/ErrorTrap.h"
#include "core/NameCodec.h"
#include "core/UiYield.h"
#include "core/VbError.h"
#include "core/Wildcard.h"
#include "localfs/LocalNames.h"
#include "localfs/PosixDir.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

const QString kWalkLocation =
    QStringLiteral("ZelmitTitle2021/08/31.AddFolder.GetSubDirectories2016");

// Folder attribute bits as the rest of the program knows them. On POSIX a
// folder is hidden when its name starts with a dot and never a system folder,
// so the two excluded values below cannot occur here; the rule stays so that
// the walk behaves alike wherever those bits exist.
constexpr int kHidden = 2;
constexpr int kSystem = 4;
constexpr int kDirectory = 16;
constexpr int kReparsePoint = 1024;
constexpr int kHiddenSystemFolder = kHidden | kSystem | kDirectory;
constexpr int kHiddenSystemLinkedFolder = kHiddenSystemFolder | kReparsePoint;

// Longest name the walk takes: such names are a sign of a damaged entry.
constexpr qsizetype kMaxNameLength = 259;

// A path is usable when its bytes and the terminating zero fit PATH_MAX.
bool fitsPathLimit(const QByteArray& bytes) {
    return bytes.size() < PATH_MAX;
}

int folderAttributes(bool hidden, bool link) {
    return kDirectory | (hidden ? kHidden : 0) | (link ? kReparsePoint : 0);
}

bool excludedByAttributes(int attributes, bool rootFolder) {
    return !rootFolder &&
           (attributes == kHiddenSystemFolder || attributes == kHiddenSystemLinkedFolder);
}

bool isRootFolder(const QByteArray& bytes) {
    return !bytes.isEmpty() &&
           std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == '/'; });
}

struct FolderId {
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId&) const = default;
};
struct FolderIdHash {
    size_t operator()(const FolderId& id) const noexcept {
        return std::hash<unsigned long long>()(static_cast<unsigned long long>(id.inode) * 31u ^
                                               static_cast<unsigned long long>(id.device));
    }
};

struct Folder {
    QString path;     // ends with the separator
    QByteArray bytes; // the same path as handed to the system
    int attributes = kDirectory;
};

struct Child {
    std::string name;
    bool link = false;
};

// A caller's entry without the trailing separator would otherwise glue the
// child's name onto the parent's last name.
QString childPath(const QString& parent, const QString& name, bool folder) {
    const QChar sep = PathSeparator();
    QString path;
    path.reserve(parent.size() + name.size() + 2);
    path = parent;
    if (!parent.endsWith(sep))
        path += sep;
    path += name;
    if (folder)
        path += sep;
    return path;
}

std::optional<FolderId> folderIdOf(const QByteArray& bytes) {
    struct stat st;
    if (::stat(bytes.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return FolderId{st.st_dev, st.st_ino};
}

// The attributes of a folder the caller named: its last component decides
// "hidden", and the path itself (not what it points to) "reparse point".
int givenAttributes(const QByteArray& bytes) {
    QByteArray own = bytes;
    while (own.size() > 1 && own.endsWith('/'))
        own.chop(1);
    const qsizetype slash = own.lastIndexOf('/');
    const bool hidden = own.mid(slash + 1).startsWith('.');
    struct stat st;
    const bool link = ::lstat(own.constData(), &st) == 0 && S_ISLNK(st.st_mode);
    return folderAttributes(hidden, link);
}

// The walk, level by level: each level's folders are listed before any folder
// of the level below, so the list comes out breadth first without recursion
// and a deep tree costs no stack. A folder reached a second time (through a
// link to a folder already walked) is neither walked nor listed again, which
// ends link loops.
class Walk {
public:
    Walk(bool recurse, QStringList* unreadable)
        : recurse_(recurse), trap_(kWalkLocation), unreadable_(unreadable) {}

    void run(QStringList& folders);

private:
    enum class Outcome {
        Listed,        // subfolders read
        Refused,       // access refused or gone: drop the folder
        NotAFolder,    // (no longer) a folder
        Failed,        // reported; the folder stays
        AlreadyWalked, // reached before under another path
    };

    Outcome list(const Folder& folder, std::vector<Folder>& next);
    bool keepFound(const Folder& folder, std::vector<Folder>& next);
    void noteUnreadable(const QString& path) {
        if (unreadable_)
            unreadable_->append(path);
    }

    bool recurse_;
    ErrorTrap trap_;
    QStringList* unreadable_;
    std::unordered_set<FolderId, FolderIdHash> walked_;
};

void Walk::run(QStringList& folders) {
    const QStringList given = folders;
    std::vector<Folder> level;
    for (const QString& entry : given) {
        bool isFolder = false;
        trap_.at(100, [&] { isFolder = IsDirectory(entry); });
        if (!isFolder)
            continue;
        const std::optional<QByteArray> bytes = LocalNames::encode(entry);
        if (!bytes || !fitsPathLimit(*bytes))
            continue;
        UiYield::processPending();
        const Folder folder{entry, *bytes, givenAttributes(*bytes)};
        if (excludedByAttributes(folder.attributes, isRootFolder(folder.bytes)))
            continue;
        if (list(folder, level) == Outcome::Refused)
            folders.removeOne(entry);
    }

    QStringList found;
    while (!level.empty()) {
        std::vector<Folder> next;
        for (const Folder& folder : level) {
            UiYield::processPending();
            if (keepFound(folder, next))
                found.append(folder.path);
        }
        level = std::move(next);
    }
    folders.append(found);
}

bool Walk::keepFound(const Folder& folder, std::vector<Folder>& next) {
    if (excludedByAttributes(folder.attributes, false))
        return false;
    if (!fitsPathLimit(folder.bytes)) {
        noteUnreadable(folder.path);
        return false;
    }
    if (!recurse_) {
        const std::optional<FolderId> id = folderIdOf(folder.bytes);
        return id && walked_.insert(*id).second;
    }
    switch (list(folder, next)) {
    case Outcome::Listed:
    case Outcome::Failed:
        return true;
    case Outcome::Refused:
    case Outcome::NotAFolder:
    case Outcome::AlreadyWalked:
        break;
    }
    return false;
}

// Appends the subfolders of one folder to the next level, in name order so
// that a walk comes out the same on every file system.
Walk::Outcome Walk::list(const Folder& folder, std::vector<Folder>& next) {
    std::vector<Child> children;
    std::optional<VbError> failure;
    try {
        PosixDir dir(folder.bytes.constData());
        if (!walked_.insert({dir.device(), dir.inode()}).second)
            return Outcome::AlreadyWalked;
        // Names that can be read but not entered are of no use: neither the
        // subfolders nor the files can be opened.
        if (!dir.searchable()) {
            noteUnreadable(folder.path);
            return Outcome::Listed;
        }
        PosixDir::Entry entry;
        while (dir.next(entry)) {
            bool link = entry.type == DT_LNK;
            if (entry.type == DT_LNK || entry.type == DT_UNKNOWN) {
                const std::string name(entry.name);
                if (entry.type == DT_UNKNOWN)
                    link = dir.ownType(name.c_str()) == S_IFLNK;
                const mode_t target = dir.resolvedType(name.c_str());
                // A link whose target cannot be reached (a disk that is not
                // mounted) may stand for a whole folder of files.
                if (link && target == 0)
                    noteUnreadable(childPath(folder.path, LocalNames::decode(entry.name), false));
                if (target != S_IFDIR)
                    continue;
            } else if (entry.type != DT_DIR) {
                continue;
            }
            UiYield::processPending();
            children.push_back({std::string(entry.name), link});
        }
    } catch (const VbError& e) {
        failure = e;
    }

    // Subfolders found before a failure part-way through stay in the walk.
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.name < b.name; });
    const bool needsSeparator = !folder.path.endsWith(PathSeparator());
    for (const Child& c : children) {
        const QString name = LocalNames::decode(c.name);
        if (name.size() > kMaxNameLength || HasUnsafeChars(name) || name.contains(u'?') ||
            name == u"." || name == u"..")
            continue;
        Folder child;
        child.path = childPath(folder.path, name, true);
        child.bytes = folder.bytes;
        if (needsSeparator)
            child.bytes += '/';
        child.bytes.append(c.name.data(), qsizetype(c.name.size()));
        child.bytes += '/';
        child.attributes = folderAttributes(name.startsWith(u'.'), c.link);
        next.push_back(std::move(child));
    }

    if (!failure)
        return Outcome::Listed;
    if (failure->number() == VbError::PermissionDenied) {
        noteUnreadable(folder.path);
        return Outcome::Refused;
    }
    // Gone since its parent was read: deleted meanwhile, so its files are
    // rightly missing.
    if (failure->number() == VbError::PathNotFound)
        return Outcome::Refused;
    if (!IsDirectory(folder.path))
        return Outcome::NotAFolder;
    trap_.report(failure->description(), 108);
    noteUnreadable(folder.path);
    return Outcome::Failed;
}

} // namespace

bool IsDirectory(const QString& path) {
    const std::optional<QByteArray> bytes = LocalNames::encode(path);
    if (!bytes || bytes->isEmpty() || !fitsPathLimit(*bytes))
        return false;
    struct stat st;
    return ::stat(bytes->constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HasUnsafeChars(const QString& name) {
    const qsizetype size = name.size();
    const QChar* d = name.constData();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = d[i].unicode();
        if (u < 32 || (u >= 127 && u <= 159) || u == u'?')
            return true;
        // An unpaired surrogate has no counterpart in the locale's encoding,
        // unless it stands for a byte of a name that is not UTF-8: that byte
        // goes back to the system as it came.
        if (QChar::isHighSurrogate(u)) {
            if (i + 1 >= size || !QChar::isLowSurrogate(d[i + 1].unicode()))
                return true;
            ++i;
        } else if (QChar::isLowSurrogate(u) && !isEscapedByte(d[i])) {
            return true;
        }
    }
    return false;
}

void GetSubDirectories2016(QStringList& folders, bool recurse, QStringList* unreadable) {
    Walk(recurse, unreadable).run(folders);
}

QStringList GetFileList(const QString& folderPath, const QString& pattern) {
    const QChar sep = PathSeparator();
    const QString folder = folderPath.endsWith(sep) ? folderPath : folderPath + sep;
    const std::optional<QByteArray> bytes = LocalNames::encode(folder);
    if (!bytes)
        throw VbError::pathNotFound();
    if (!fitsPathLimit(*bytes))
        throw VbError::pathNotFound();

    PosixDir dir(bytes->constData());
    QStringList names;
    if (!dir.searchable())
        return names; // names could be read, but not one file's attributes
    const bool everyName = matchesEverything(pattern);
    const qsizetype room = PATH_MAX - 1 - bytes->size();
    PosixDir::Entry entry;
    while (dir.next(entry)) {
        if (entry.type == DT_DIR || qsizetype(entry.name.size()) > room)
            continue;
        if (entry.type != DT_REG) {
            if (entry.type != DT_LNK && entry.type != DT_UNKNOWN)
                continue; // FIFOs, sockets and devices are not files to send
            if (dir.resolvedType(std::string(entry.name).c_str()) != S_IFREG)
                continue;
        }
        QString name = LocalNames::decode(entry.name);
        if (!everyName && !matchesWildcard(pattern, name))
            continue;
        names.append(std::move(name));
    }
    return names;
}

bool CanOpenFile(const QString& path) {
    const std::optional<QByteArray> bytes = LocalNames::encode(path);
    if (!bytes || bytes->isEmpty() || !fitsPathLimit(*bytes))
        return false;
    struct stat st;
    return ::stat(bytes->constData(), &st) == 0 && S_ISREG(st.st_mode);
}

qint64 LocalFileLength(const QString& path) {
    const std::optional<QByteArray> bytes = LocalNames::encode(path);
    struct stat st;
    if (!bytes || bytes->isEmpty() || ::stat(bytes->constData(), &st) != 0)
        throw VbError::fileNotFound();
    return qint64(st.st_size);
}

LocalFileFacts LocalFileStatus(const QString& path) {
    const std::optional<QByteArray> bytes = LocalNames::encode(path);
    struct stat st;
    if (!bytes || bytes->isEmpty() || ::stat(bytes->constData(), &st) != 0)
        throw VbError::fileNotFound();
    return {qint64(st.st_size), qint64(st.st_mtim.tv_sec)};
}

void OpenLocalFile(QFile& file, const QString& path) {
    const std::optional<QByteArray> bytes = LocalNames::encode(path);
    if (!bytes || bytes->isEmpty())
        throw VbError::fileNotFound();
    // Not blocking, so that a FIFO put in the file's place cannot hang the
    // open; it is refused below like a folder.
    const int fd = ::open(bytes->constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            throw VbError::fileNotFound();
        throw VbError::permissionDenied();
    }
    struct stat st;
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        !file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw VbError::permissionDenied();
    }
}

QChar PathSeparator() {
    return QDir::separator();
}
