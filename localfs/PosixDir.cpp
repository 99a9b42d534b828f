#include "localfs/PosixDir.h"

#include "core/VbError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

VbError PosixDir::errorFor(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return VbError::permissionDenied();
    case ENOENT:
    case ENOTDIR:
        return VbError::pathNotFound();
    case ENOMEM:
        return VbError::outOfMemory();
    case EIO:
        return VbError::deviceIOError();
    case EMFILE:
    case ENFILE:
        return {67, QStringLiteral("Too many files")};
    default:
        return {75, QStringLiteral("Path/File access error")};
    }
}

PosixDir::PosixDir(const char* path) {
    // O_DIRECTORY refuses a FIFO before the open could block on it.
    fd_ = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0)
        throw errorFor(errno);
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        const int err = errno;
        ::close(fd_);
        throw errorFor(err);
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    dir_ = ::fdopendir(fd_);
    if (!dir_) {
        const int err = errno;
        ::close(fd_);
        throw errorFor(err);
    }
}

PosixDir::~PosixDir() {
    if (dir_)
        ::closedir(dir_); // closes fd_ as well
}

bool PosixDir::next(Entry& entry) {
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(dir_);
        if (!d) {
            if (errno != 0)
                throw errorFor(errno);
            return false;
        }
        const char* n = d->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        entry.name = std::string_view(n);
        entry.type = d->d_type;
        return true;
    }
}

mode_t PosixDir::resolvedType(const char* name) const {
    struct stat st;
    if (::fstatat(fd_, name, &st, 0) != 0)
        return 0;
    return st.st_mode & S_IFMT;
}

mode_t PosixDir::ownType(const char* name) const {
    struct stat st;
    if (::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    return st.st_mode & S_IFMT;
}

bool PosixDir::searchable() const {
    // Resolving "." inside the folder needs the same search permission as
    // resolving any name in it.
    struct stat st;
    return ::fstatat(fd_, ".", &st, 0) == 0;
}
