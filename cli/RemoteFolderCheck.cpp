#include "cli/RemoteFolderCheck.h"

#include "ftp/Session.h"

bool RemoteFolderExists(const Session& session, const QString& folder) {
    QString path = folder;
    while (path.endsWith(u'/') && path.size() > 1)
        path.chop(1);
    if (path == QLatin1String("/"))
        return session.isConnected();
    if (const auto listing = session.list(path + QStringLiteral("/*.*"), ListedTimes::NotNeeded);
        listing && !listing->entries.isEmpty())
        return true;
    const auto entry = session.entryOf(path);
    return entry && entry->has_value() && (*entry)->kind == RemoteEntryKind::Directory;
}
