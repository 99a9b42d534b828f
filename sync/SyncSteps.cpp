#include "sync/SyncSteps.h"

#include <cmath>
#include <utility>

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
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() == 0xdcff)
            return false;
    }
    return true;
}

QString DoneMessage(int failedRows) {
    if (failedRows <= 0)
        return QStringLiteral("Done.");
    if (failedRows == 1)
        return QStringLiteral("Done. 1 file failed.");
    return QStringLiteral("Done. %1 files failed.").arg(failedRows);
}

namespace {

// UTF-8 bytes of the code point starting at name[i], and how many QChars it
// takes. A lone surrogate stands for one raw byte of a remote name.
std::pair<int, int> utf8Width(const QString& name, qsizetype i) {
    const char16_t c = name.at(i).unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name.at(i + 1).isLowSurrogate())
        return {4, 2};
    if (QChar::isSurrogate(c))
        return {1, 1};
    if (c < 0x80)
        return {1, 1};
    return {c < 0x800 ? 2 : 3, 1};
}

} // namespace

QString TemporaryUploadName(const QString& remotePath, quint32 tag) {
    constexpr int kMaxNameBytes = 255;
    const QString suffix = QStringLiteral(".%1.part").arg(tag, 8, 16, QLatin1Char('0'));
    const QString folder = RemoteParentFolder(remotePath);
    const QString name = remotePath.mid(folder.size());
    const int room = kMaxNameBytes - 1 - int(suffix.size());
    int bytes = 0;
    qsizetype end = 0;
    while (end < name.size()) {
        const auto [width, chars] = utf8Width(name, end);
        if (bytes + width > room)
            break;
        bytes += width;
        end += chars;
    }
    return folder + QLatin1Char('~') + name.left(end) + suffix;
}
