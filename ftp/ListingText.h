#pragma once

#include <QByteArrayView>
#include <QList>

#include <limits>
#include <optional>

// The lexical pieces of listing lines: digits, sizes, blanks and the
// blank-separated tokens of a line, kept as positions in the line so that the
// blanks between them (which names may hold) are never lost.
namespace ListingText {

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

inline bool isDigits(QByteArrayView s) {
    if (s.isEmpty())
        return false;
    for (char c : s) {
        if (!isDigit(c))
            return false;
    }
    return true;
}

inline bool hasDigit(QByteArrayView s) {
    for (char c : s) {
        if (isDigit(c))
            return true;
    }
    return false;
}

// The value of a short run of digits (callers check the length).
inline int number(QByteArrayView s) {
    int v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    return v;
}

inline std::optional<qint64> parseSize(QByteArrayView s) {
    if (!isDigits(s))
        return std::nullopt;
    qint64 v = 0;
    for (char c : s) {
        const int d = c - '0';
        if (v > (std::numeric_limits<qint64>::max() - d) / 10)
            return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

// Some servers group the digits of a size: "1,234,567", "1.234.567" or
// "1'234'567", one separator throughout and groups of three.
inline std::optional<qint64> parseGroupedSize(QByteArrayView s) {
    if (isDigits(s))
        return parseSize(s);
    const qsizetype first = s.size() % 4;
    if (s.size() < 5 || first == 0)
        return std::nullopt;
    const char sep = s[first];
    if (sep != ',' && sep != '.' && sep != '\'')
        return std::nullopt;
    QByteArray digits;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const bool atSeparator = i >= first && (i - first) % 4 == 0;
        if (atSeparator ? s[i] != sep : !isDigit(s[i]))
            return std::nullopt;
        if (!atSeparator)
            digits.append(s[i]);
    }
    return parseSize(digits);
}

inline QByteArrayView chopLineEnd(QByteArrayView line) {
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == '\n'))
        line.chop(1);
    return line;
}

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

inline bool isBlankLine(QByteArrayView line) {
    for (char c : line) {
        if (!isBlank(c) && c != '\r' && c != '\n')
            return false;
    }
    return true;
}

struct Token {
    qsizetype begin;
    qsizetype end;
};

inline QList<Token> tokenize(QByteArrayView line, qsizetype maxTokens) {
    QList<Token> tokens;
    tokens.reserve(qMin<qsizetype>(maxTokens, 16));
    qsizetype i = 0;
    while (i < line.size() && tokens.size() < maxTokens) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        const qsizetype start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        tokens.append({start, i});
    }
    return tokens;
}

struct Tokens {
    QByteArrayView line;
    QList<Token> list;

    qsizetype size() const { return list.size(); }
    QByteArrayView operator[](qsizetype k) const {
        return line.sliced(list[k].begin, list[k].end - list[k].begin);
    }
};

} // namespace ListingText
