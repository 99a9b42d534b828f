#include "cli/RemoteFolderCheck.h"

#include "ftp/Session.h"

namespace {

// Answers whether the listing of the pattern has an entry that satisfies the
// test (false when nothing can be listed).
template <typename Test>
bool listingHas(const Session& session, const QString& pattern, Test test) {
    WIN32_FIND_DATAA data;
    const HINTERNET find = session.findFirstFile(pattern, &data);
    if (!find)
        return false;
    bool found = false;
    do {
        found = test(data);
    } while (!found && InternetFindNextFileA(find, &data));
    InternetCloseHandle(find);
    return found;
}

} // namespace

bool RemoteFolderExists(const Session& session, const QString& folder) {
    QString path = folder;
    while (path.endsWith(u'/') && path.size() > 1)
        path.chop(1);
    if (path == QLatin1String("/"))
        return session.isConnected();
    if (listingHas(session, path + QStringLiteral("/*.*"),
                   [](const WIN32_FIND_DATAA&) { return true; }))
        return true;
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString parent = path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    return listingHas(session, parent + QStringLiteral("*.*"), [&](const WIN32_FIND_DATAA& d) {
        return d.isDirectory() && d.cFileName == name;
    });
}
