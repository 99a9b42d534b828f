#include "sync/SyncSteps.h"

#include <cmath>

int UploadPercent(qint64 sent, qint64 size) {
    if (size <= 0)
        return 100;
    // The default floating-point rounding mode rounds halves to the even neighbour.
    return int(std::nearbyint(double(sent) / double(size) * 100.0));
}

QString RemoteParentFolder(const QString& remotePath) {
    const qsizetype slash = remotePath.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : remotePath.left(slash + 1);
}

QStringList RemoteFolderLevels(const QString& parent) {
    QStringList levels;
    for (qsizetype i = 0; i < parent.size(); ++i) {
        if (parent.at(i) != QLatin1Char('/'))
            continue;
        if (i == 0)
            continue; // the server root always exists
        levels.append(parent.left(i + 1));
    }
    if (!parent.isEmpty() && !parent.endsWith(QLatin1Char('/')))
        levels.append(parent);
    return levels;
}

bool IsSendableRemotePath(const QString& remotePath) {
    if (remotePath.isEmpty())
        return false;
    for (const QChar c : remotePath) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}
