#include "ftp/ListingParsers.h"

#include <QList>

#include <limits>

namespace {

bool isDigits(QByteArrayView s) {
    if (s.isEmpty())
        return false;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

std::optional<qint64> parseSize(QByteArrayView s) {
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

QByteArrayView chopLineEnd(QByteArrayView line) {
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == '\n'))
        line.chop(1);
    return line;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

struct Token {
    qsizetype begin;
    qsizetype end;
};

QList<Token> tokenize(QByteArrayView line, int maxTokens) {
    QList<Token> tokens;
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

bool isMonth(QByteArrayView s) {
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    if (s.size() != 3)
        return false;
    const QByteArray lower = s.toByteArray().toLower();
    for (const char* m : months) {
        if (lower == m)
            return true;
    }
    return false;
}

bool isDay(QByteArrayView s) {
    if (!isDigits(s) || s.size() > 2)
        return false;
    const int d = s.toByteArray().toInt();
    return d >= 1 && d <= 31;
}

bool isTimeOrYear(QByteArrayView s) {
    if (isDigits(s) && s.size() == 4)
        return true;
    const qsizetype colon = s.indexOf(':');
    return colon > 0 && isDigits(s.first(colon)) && isDigits(s.sliced(colon + 1));
}

bool isDotsOnly(QByteArrayView name) {
    for (char c : name) {
        if (c != '.')
            return false;
    }
    return true;
}

} // namespace

std::optional<RemoteEntry> parseMlsdLine(QByteArrayView line) {
    line = chopLineEnd(line);
    // Facts end at the first blank; the name is everything after it, blanks
    // included.
    const qsizetype space = line.indexOf(' ');
    if (space < 0)
        return std::nullopt;
    const QByteArrayView facts = line.first(space);
    RemoteEntry entry;
    entry.name = line.sliced(space + 1).toByteArray();
    bool haveType = false;
    for (const QByteArray& fact : facts.toByteArray().split(';')) {
        const qsizetype eq = fact.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = fact.left(eq).toLower();
        const QByteArray value = fact.mid(eq + 1);
        if (key == "type") {
            haveType = true;
            const QByteArray type = value.toLower();
            if (type == "file")
                entry.kind = RemoteEntryKind::File;
            else if (type == "dir")
                entry.kind = RemoteEntryKind::Directory;
            else if (type.startsWith("os.unix=symlink") || type.startsWith("os.unix=slink"))
                entry.kind = RemoteEntryKind::Link;
            else
                entry.kind = RemoteEntryKind::Other; // cdir, pdir, devices...
        } else if (key == "size") {
            const auto size = parseSize(value);
            if (!size)
                return std::nullopt;
            entry.size = *size;
        }
    }
    if (!haveType || entry.name.isEmpty())
        return std::nullopt;
    return entry;
}

std::optional<RemoteEntry> parseUnixListLine(QByteArrayView line) {
    line = chopLineEnd(line);
    if (line.size() < 10)
        return std::nullopt;
    RemoteEntry entry;
    switch (line[0]) {
    case '-':
        entry.kind = RemoteEntryKind::File;
        break;
    case 'd':
        entry.kind = RemoteEntryKind::Directory;
        break;
    case 'l':
        entry.kind = RemoteEntryKind::Link;
        break;
    case 'c':
    case 'b':
    case 'p':
    case 's':
    case 'D':
        entry.kind = RemoteEntryKind::Other;
        break;
    default:
        return std::nullopt;
    }
    // Owner and group columns vary (missing group, numeric ids, blanks in
    // names), so anchor on the date: month, day, time or year. The size is
    // the column just before the month, and the name starts one blank after
    // the date.
    const QList<Token> tokens = tokenize(line, 12);
    for (qsizetype m = 2; m + 2 < tokens.size(); ++m) {
        const auto tok = [&](qsizetype k) {
            return line.sliced(tokens[k].begin, tokens[k].end - tokens[k].begin);
        };
        if (!isMonth(tok(m)) || !isDay(tok(m + 1)) || !isTimeOrYear(tok(m + 2)))
            continue;
        QByteArrayView sizeText = tok(m - 1);
        const auto size = parseSize(sizeText);
        if (!size) {
            if (entry.kind != RemoteEntryKind::Other && entry.kind != RemoteEntryKind::Link)
                continue;
        } else {
            entry.size = *size;
        }
        const qsizetype nameStart = tokens[m + 2].end + 1;
        if (nameStart >= line.size())
            return std::nullopt;
        entry.name = line.sliced(nameStart).toByteArray();
        if (entry.kind == RemoteEntryKind::Link) {
            // "name -> target": a name holding " -> " itself cannot be told
            // apart, so the first one ends the name.
            const qsizetype arrow = entry.name.indexOf(" -> ");
            if (arrow > 0)
                entry.name.truncate(arrow);
        }
        return entry;
    }
    return std::nullopt;
}

std::optional<RemoteEntry> parseDosListLine(QByteArrayView line) {
    line = chopLineEnd(line);
    const QList<Token> tokens = tokenize(line, 3);
    if (tokens.size() < 3)
        return std::nullopt;
    const auto tok = [&](qsizetype k) {
        return line.sliced(tokens[k].begin, tokens[k].end - tokens[k].begin);
    };
    const QByteArrayView date = tok(0);
    const QByteArrayView time = tok(1);
    // 12-31-20 or 12-31-2020 (some servers use "/" or ".")
    if (date.size() < 8 || !isDigits(date.first(2)) || !isDigits(date.sliced(3, 2)))
        return std::nullopt;
    const char sep = date[2];
    if ((sep != '-' && sep != '/' && sep != '.') || date[5] != sep)
        return std::nullopt;
    if (time.indexOf(':') <= 0)
        return std::nullopt;
    RemoteEntry entry;
    const QByteArrayView sizeOrDir = tok(2);
    if (sizeOrDir.compare(QByteArrayView("<DIR>"), Qt::CaseInsensitive) == 0) {
        entry.kind = RemoteEntryKind::Directory;
    } else {
        const auto size = parseSize(sizeOrDir);
        if (!size)
            return std::nullopt;
        entry.kind = RemoteEntryKind::File;
        entry.size = *size;
    }
    qsizetype nameStart = tokens[2].end;
    while (nameStart < line.size() && isBlank(line[nameStart]))
        ++nameStart;
    if (nameStart >= line.size())
        return std::nullopt;
    entry.name = line.sliced(nameStart).toByteArray();
    return entry;
}

std::optional<RemoteEntry> parseListLine(QByteArrayView line) {
    if (auto e = parseUnixListLine(line))
        return e;
    return parseDosListLine(line);
}

ParsedListing parseListing(const QByteArray& listing, ListingFormat format) {
    ParsedListing parsed;
    QList<RemoteEntry>& entries = parsed.entries;
    qsizetype start = 0;
    while (start < listing.size()) {
        qsizetype end = listing.indexOf('\n', start);
        if (end < 0)
            end = listing.size();
        const QByteArrayView line(listing.constData() + start, end - start);
        start = end + 1;
        const auto entry =
            format == ListingFormat::Mlsd ? parseMlsdLine(line) : parseListLine(line);
        if (!entry || entry->kind == RemoteEntryKind::Other)
            continue;
        const QByteArray& name = entry->name;
        if (name.isEmpty() || isDotsOnly(name) || name.contains('/') || name.contains('\\') ||
            name.contains('\0'))
            continue;
        entries.append(*entry);
    }
    return parsed;
}
