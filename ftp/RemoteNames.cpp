#include "ftp/RemoteNames.h"

#include "core/NameCodec.h"

namespace {

QChar foldCase(QChar c) {
    return c.toCaseFolded();
}

bool matchFrom(QStringView p, QStringView n) {
    // Iterative matcher with one backtrack point per star: linear enough for
    // file names and never recursive.
    qsizetype pi = 0, ni = 0, starP = -1, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == u'?' || foldCase(p[pi]) == foldCase(n[ni]))) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == u'*') {
            starP = pi++;
            starN = ni;
        } else if (starP >= 0) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == u'*')
        ++pi;
    return pi == p.size();
}

} // namespace

QString decodeRemoteName(QByteArrayView bytes) {
    return decodeNameBytes(bytes);
}

std::optional<QByteArray> encodeRemoteName(QStringView name) {
    return encodeNameBytes(name);
}

bool hasControlBytes(QByteArrayView bytes) {
    for (char c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            return true;
    }
    return false;
}

bool hasTelnetEscape(QByteArrayView bytes) {
    return bytes.contains('\xFF');
}

bool matchesWildcard(QStringView pattern, QStringView name) {
    if (pattern.isEmpty() || pattern == u"*" || pattern == u"*.*")
        return true;
    if (matchFrom(pattern, name))
        return true;
    // "abc*.*" also matches "abc": a name without an extension has an empty
    // one.
    if (pattern.endsWith(u".*") && !name.contains(u'.'))
        return matchFrom(pattern.chopped(2), name);
    return false;
}

SearchPattern splitSearchPattern(const QString& pattern) {
    const qsizetype slash = pattern.lastIndexOf(u'/');
    if (slash < 0)
        return {QString(), pattern};
    return {pattern.left(slash + 1), pattern.mid(slash + 1)};
}
