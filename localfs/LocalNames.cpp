#include "localfs/LocalNames.h"

#include "core/NameCodec.h"

#include <QStringView>

namespace LocalNames {

namespace {

bool matchFrom(QStringView name, QStringView pattern) {
    // Iterative glob with one backtrack point: linear in practice, never
    // exponential on patterns with many stars.
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == u'?' ||
             (pattern[p] != u'*' && pattern[p].toCaseFolded() == name[n].toCaseFolded()))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

} // namespace

QString decode(std::string_view bytes) {
    return decodeNameBytes(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

std::optional<QByteArray> encode(const QString& path) {
    if (path.contains(QChar(0)))
        return std::nullopt;
    return encodeNameBytes(path);
}

bool matchesPattern(const QString& name, const QString& pattern) {
    if (pattern.isEmpty() || pattern == u"*" || pattern == u"*.*")
        return true;
    if (matchFrom(name, pattern))
        return true;
    // "name.*" also stands for "name" without any extension.
    if (pattern.endsWith(u".*") && !name.contains(u'.'))
        return matchFrom(name, QStringView(pattern).chopped(2));
    // "*." stands for names without an extension.
    if (pattern.endsWith(u'.') && !name.contains(u'.'))
        return matchFrom(name, QStringView(pattern).chopped(1));
    return false;
}

} // namespace LocalNames
