#include "ftp/RemoteNames.h"

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at data[i], or 0 when it is not one.
// Overlong forms, encoded surrogates and code points beyond U+10FFFF are not
// valid: accepting them would make two byte strings decode to the same text.
int validSequenceLength(QByteArrayView data, qsizetype i, char32_t* codePoint) {
    const auto byte = [&](qsizetype k) { return quint8(data[k]); };
    const quint8 b0 = byte(i);
    if (b0 < 0x80) {
        *codePoint = b0;
        return 1;
    }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > data.size())
        return 0;
    for (int k = 1; k < len; ++k) {
        const quint8 b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    *codePoint = cp;
    return len;
}

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
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const int len = validSequenceLength(bytes, i, &cp);
        if (len == 0) {
            out.append(QChar(char16_t(kEscapeBase + quint8(bytes[i]))));
            ++i;
            continue;
        }
        const char32_t one[1] = {cp};
        out.append(QString::fromUcs4(one, 1));
        i += len;
    }
    return out;
}

std::optional<QByteArray> encodeRemoteName(QStringView name) {
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        char32_t cp = c.unicode();
        if (c.isHighSurrogate()) {
            if (i + 1 >= name.size() || !name[i + 1].isLowSurrogate())
                return std::nullopt;
            cp = QChar::surrogateToUcs4(c, name[i + 1]);
            ++i;
        } else if (c.isLowSurrogate()) {
            // Only bytes that are never valid on their own are escaped.
            if (cp < kEscapeBase + 0x80 || cp > kEscapeBase + 0xFF)
                return std::nullopt;
            out.append(char(cp - kEscapeBase));
            continue;
        }
        if (cp < 0x80) {
            out.append(char(cp));
        } else if (cp < 0x800) {
            out.append(char(0xC0 | (cp >> 6)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.append(char(0xE0 | (cp >> 12)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else {
            out.append(char(0xF0 | (cp >> 18)));
            out.append(char(0x80 | ((cp >> 12) & 0x3F)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

bool hasControlBytes(QByteArrayView bytes) {
    for (char c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            return true;
    }
    return false;
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
