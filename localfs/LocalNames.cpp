#include "localfs/LocalNames.h"

#include <QStringView>

namespace LocalNames {

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        char32_t cp;
        char32_t min;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
            min = 0x10000;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

bool isAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

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

std::optional<QString> decode(std::string_view bytes) {
    if (isAscii(bytes))
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    if (!isValidUtf8(bytes))
        return std::nullopt;
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

std::optional<QByteArray> encode(const QString& path) {
    const qsizetype size = path.size();
    const QChar* d = path.constData();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = d[i].unicode();
        if (u == 0)
            return std::nullopt;
        if (QChar::isHighSurrogate(u)) {
            if (i + 1 >= size || !QChar::isLowSurrogate(d[i + 1].unicode()))
                return std::nullopt;
            ++i;
        } else if (QChar::isLowSurrogate(u)) {
            return std::nullopt;
        }
    }
    return path.toUtf8();
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
