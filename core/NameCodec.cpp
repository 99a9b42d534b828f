#include "core/NameCodec.h"

#include <algorithm>

namespace {

constexpr char16_t kEscapeBase = 0xDC00;
// Bytes below 0x80 are always valid UTF-8 on their own, so only these are ever
// escaped.
constexpr char16_t kFirstEscape = kEscapeBase + 0x80;
constexpr char16_t kLastEscape = kEscapeBase + 0xFF;

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

bool isAscii(QByteArrayView bytes) {
    for (char c : bytes)
        if (quint8(c) >= 0x80)
            return false;
    return true;
}

} // namespace

QString decodeNameBytes(QByteArrayView bytes) {
    // Nearly every name is ASCII or valid UTF-8; those take the library's
    // fast paths.
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    QString out;
    out.reserve(bytes.size());
    bool escaped = false;
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const int len = validSequenceLength(bytes, i, &cp);
        if (len == 0) {
            out.append(QChar(char16_t(kEscapeBase + quint8(bytes[i]))));
            escaped = true;
            ++i;
            continue;
        }
        if (cp < 0x10000) {
            out.append(QChar(char16_t(cp)));
        } else {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        }
        i += len;
    }
    return escaped ? out : QString::fromUtf8(bytes);
}

std::optional<QByteArray> encodeNameBytes(QStringView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        char32_t cp = c.unicode();
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
                return std::nullopt;
            cp = QChar::surrogateToUcs4(c, text[i + 1]);
            ++i;
        } else if (c.isLowSurrogate()) {
            if (!isEscapedByte(c))
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

bool isEscapedByte(QChar c) {
    return c.unicode() >= kFirstEscape && c.unicode() <= kLastEscape;
}

QString readableName(const QString& text) {
    const auto first = std::find_if(text.begin(), text.end(), isEscapedByte);
    if (first == text.end())
        return text; // shares the data: no copy for the usual name
    QString out = text.left(first - text.begin());
    out.reserve(text.size() + 8);
    for (auto it = first; it != text.end(); ++it) {
        if (isEscapedByte(*it))
            out += QStringLiteral("\\x") +
                   QString::number(unsigned(it->unicode() - kEscapeBase), 16).toUpper();
        else
            out += *it;
    }
    return out;
}
