#pragma once

#include <QByteArray>
#include <QList>

// Builds and removes test trees from raw byte paths, so that names which are
// not valid UTF-8, FIFOs, sockets and trees deeper than PATH_MAX can be made.
namespace TreeBuilder {

// Each of these answers false (with errno set) when the system refuses.
bool makeFolder(const QByteArray& path, int mode = 0755);
bool makeFile(const QByteArray& path, const QByteArray& content = {});
bool makeLink(const QByteArray& target, const QByteArray& path);
bool makeFifo(const QByteArray& path);
bool makeSocket(const QByteArray& path);

// A chain of nested folders with the given name below parent, created relative
// to open folders so that it may go deeper than PATH_MAX. Answers how many
// levels were made.
int makeChain(const QByteArray& parent, const QByteArray& name, int depth);

// Removes a tree of any depth, restoring permissions on the way down.
void removeTree(const QByteArray& path);

} // namespace TreeBuilder
