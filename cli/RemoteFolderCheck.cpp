#include "cli/RemoteFolderCheck.h"

namespace {

constexpr quint32 kListFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// Answers whether the listing of the pattern has an entry that satisfies the
// test (false when nothing can be listed).
template <typename Test> bool listingHas(HINTERNET connection, const QString& pattern, Test test) {
    WIN32_FIND_DATAA data;
    const HINTERNET find = FtpFindFirstFileA(connection, pattern, &data, kListFlags, 0);
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

bool RemoteFolderExists(HINTERNET connection, const QString& folder) {
    QString path = folder;
    while (path.endsWith(u'/') && path.size() > 1)
        path.chop(1);
    if (path == QLatin1String("/"))
        return connection != 0;
    if (listingHas(connection, path + QStringLiteral("/*.*"),
                   [](const WIN32_FIND_DATAA&) { return true; }))
        return true;
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString parent = path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    return listingHas(connection, parent + QStringLiteral("*.*"), [&](const WIN32_FIND_DATAA& d) {
        return d.isDirectory() && d.cFileName == name;
    });
}
