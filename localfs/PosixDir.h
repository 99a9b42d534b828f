#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <string_view>

class VbError;

// One folder opened for listing on the POSIX directory calls. The entries come
// with the type the directory itself records, so that callers need a stat call
// only for links and for file systems that record no type.
class PosixDir {
public:
    struct Entry {
        std::string_view name;
        unsigned char type = DT_UNKNOWN; // DT_DIR, DT_REG, DT_LNK, ...
    };

    // Opens the folder; throws VbError (permission denied, path not found, ...)
    // when it cannot be listed.
    explicit PosixDir(const char* path);
    ~PosixDir();
    PosixDir(const PosixDir&) = delete;
    PosixDir& operator=(const PosixDir&) = delete;

    // The next entry other than "." and ".."; false at the end. Throws VbError
    // when reading the folder fails part-way.
    bool next(Entry& entry);

    // The type (S_IFDIR, S_IFREG, ...) of the entry after following links, or
    // 0 when it cannot be read (dangling link, no search permission).
    mode_t resolvedType(const char* name) const;
    // The entry's own type, without following a link; 0 when it cannot be read.
    mode_t ownType(const char* name) const;

    // True when the files in the folder can be looked up (search permission):
    // a folder that can be read but not searched lists names whose attributes
    // cannot be read.
    bool searchable() const;

    dev_t device() const { return device_; }
    ino_t inode() const { return inode_; }

    // The program's error for a failed system call's errno.
    static VbError errorFor(int err);

private:
    DIR* dir_ = nullptr;
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};
