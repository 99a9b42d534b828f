#include "tests/support/TreeBuilder.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace TreeBuilder {

bool makeFolder(const QByteArray& path, int mode) {
    return ::mkdir(path.constData(), 0755) == 0 && ::chmod(path.constData(), mode_t(mode)) == 0;
}

bool makeFile(const QByteArray& path, const QByteArray& content) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    ::close(fd);
    return ok;
}

bool makeLink(const QByteArray& target, const QByteArray& path) {
    return ::symlink(target.constData(), path.constData()) == 0;
}

bool makeFifo(const QByteArray& path) {
    return ::mkfifo(path.constData(), 0644) == 0;
}

bool makeSocket(const QByteArray& path) {
    sockaddr_un addr{};
    if (size_t(path.size()) >= sizeof addr.sun_path)
        return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // The socket file stays after the descriptor is closed; that is all a
    // walk can meet.
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

int makeChain(const QByteArray& parent, const QByteArray& name, int depth) {
    int fd = ::open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int made = 0;
    while (fd >= 0 && made < depth) {
        if (::mkdirat(fd, name.constData(), 0755) != 0)
            break;
        const int child = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = child;
        ++made;
    }
    if (fd >= 0)
        ::close(fd);
    return made;
}

namespace {
void removeContents(int fd) {
    std::vector<std::string> names;
    if (DIR* d = ::fdopendir(::dup(fd))) {
        while (const dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        }
        ::closedir(d);
    }
    for (const std::string& n : names) {
        struct stat st;
        if (::fstatat(fd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            ::fchmodat(fd, n.c_str(), 0700, 0);
            const int child = ::openat(fd, n.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (child >= 0) {
                removeContents(child);
                ::close(child);
            }
            ::unlinkat(fd, n.c_str(), AT_REMOVEDIR);
        } else {
            ::unlinkat(fd, n.c_str(), 0);
        }
    }
}
} // namespace

void removeTree(const QByteArray& path) {
    ::chmod(path.constData(), 0700);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        removeContents(fd);
        ::close(fd);
    }
    ::rmdir(path.constData());
}

} // namespace TreeBuilder
