#include "ftp/ListingParsers.h"

#include "ftp/ListingDates.h"
#include "ftp/ListingText.h"

#include <QList>

using namespace ListingText;
using ListingDates::dosDateTime;
using ListingDates::matchDate;
using ListingDates::mlsdTime;

namespace {

bool isDotsOnly(QByteArrayView name) {
    for (char c : name) {
        if (c != '.')
            return false;
    }
    return true;
}

bool isPermissions(QByteArrayView s) {
    if (s.size() < 10 || s.size() > 11)
        return false;
    const char type = s[0];
    if (type != '-' && type != '?' &&
        !((type >= 'a' && type <= 'z') || (type >= 'A' && type <= 'Z')))
        return false;
    for (char c : s.sliced(1, 9)) {
        if (!QByteArrayView("rwxsStTlL-").contains(c))
            return false;
    }
    return s.size() == 10 || QByteArrayView("+.@").contains(s[10]);
}

RemoteEntryKind kindOf(char type) {
    switch (type) {
    case '-':
        return RemoteEntryKind::File;
    case 'd':
        return RemoteEntryKind::Directory;
    case 'l':
        return RemoteEntryKind::Link;
    default:
        return RemoteEntryKind::Other;
    }
}

// "total 12", "insgesamt 12", "合計 12": the sum of blocks ls prints first.
bool isTotalLine(QByteArrayView line) {
    const QList<Token> list = tokenize(line, 3);
    if (list.size() != 2)
        return false;
    const Tokens tok{line, list};
    if (hasDigit(tok[0]) || tok[0].contains(':') || !isDigit(tok[1][0]))
        return false;
    for (char c : tok[1]) {
        if (!isDigit(c) && c != '.' && c != ',' &&
            !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
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
        } else if (key == "modify") {
            // A time the parser cannot read leaves the entry undated, not unread.
            entry.modified = mlsdTime(value);
            entry.precision =
                entry.modified.isValid() ? TimePrecision::Second : TimePrecision::None;
        }
    }
    if (!haveType || entry.name.isEmpty())
        return std::nullopt;
    return entry;
}

// The columns of "ls -l" vary from server to server and locale to locale:
// the link count may be missing, owner and group may be one word or several
// (or numbers), the date may be in any language or order. So the line is
// read from its shape, not from its words: permissions first; then a size
// (digits, maybe grouped in thousands) followed at once by a date whose last
// token is a time (H:MM, maybe with seconds) or a year, or an ISO date and
// time; then exactly one blank, and the name to the end of the line. Of the
// places where such a size and date could stand, the first whose month the
// parser knows wins, else the first of all: an owner that looks like a
// number then cannot pass for the size, and a name that looks like a date
// stays the name.
std::optional<RemoteEntry> parseUnixListLine(QByteArrayView line, const QDateTime& now) {
    line = chopLineEnd(line);
    const Tokens tok{line, tokenize(line, std::numeric_limits<qsizetype>::max())};
    if (tok.size() < 4 || !isPermissions(tok[0]))
        return std::nullopt;
    std::optional<RemoteEntry> firstUndated;
    for (qsizetype s = 1; s + 1 < tok.size(); ++s) {
        const auto size = parseGroupedSize(tok[s]);
        if (!size)
            continue;
        const auto date = matchDate(tok, s + 1, now);
        if (!date)
            continue;
        const qsizetype nameStart = tok.list[date->last].end + 1 + date->padding;
        if (nameStart >= line.size())
            continue;
        RemoteEntry entry;
        entry.kind = kindOf(line[0]);
        entry.size = *size;
        entry.modified = date->modified;
        entry.precision = date->precision;
        entry.name = line.sliced(nameStart).toByteArray();
        if (entry.kind == RemoteEntryKind::Link) {
            // "name -> target": a name holding " -> " itself cannot be told
            // apart, so the first one ends the name.
            const qsizetype arrow = entry.name.indexOf(" -> ");
            if (arrow > 0)
                entry.name.truncate(arrow);
        }
        if (entry.precision != TimePrecision::None)
            return entry;
        if (!firstUndated)
            firstUndated = entry;
    }
    return firstUndated;
}

std::optional<RemoteEntry> parseDosListLine(QByteArrayView line) {
    line = chopLineEnd(line);
    const QList<Token> tokens = tokenize(line, 3);
    if (tokens.size() < 3)
        return std::nullopt;
    const Tokens tok{line, tokens};
    const QByteArrayView date = tok[0];
    const QByteArrayView time = tok[1];
    // 12-31-20 or 12-31-2020 (some servers use "/" or ".")
    if (date.size() < 8 || !isDigits(date.first(2)) || !isDigits(date.sliced(3, 2)))
        return std::nullopt;
    const char sep = date[2];
    if ((sep != '-' && sep != '/' && sep != '.') || date[5] != sep)
        return std::nullopt;
    if (time.indexOf(':') <= 0)
        return std::nullopt;
    RemoteEntry entry;
    const QByteArrayView sizeOrDir = tok[2];
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
    entry.modified = dosDateTime(date, time);
    if (entry.modified.isValid())
        entry.precision = TimePrecision::Minute;
    return entry;
}

std::optional<RemoteEntry> parseListLine(QByteArrayView line, const QDateTime& now) {
    if (auto e = parseUnixListLine(line, now))
        return e;
    return parseDosListLine(line);
}

ParsedListing parseListing(const QByteArray& listing, ListingFormat format, const QDateTime& now) {
    ParsedListing parsed;
    qsizetype start = 0;
    while (start < listing.size()) {
        qsizetype end = listing.indexOf('\n', start);
        if (end < 0)
            end = listing.size();
        const QByteArrayView line =
            chopLineEnd(QByteArrayView(listing.constData() + start, end - start));
        start = end + 1;
        if (isBlankLine(line))
            continue;
        const auto entry =
            format == ListingFormat::Mlsd ? parseMlsdLine(line) : parseListLine(line, now);
        if (!entry) {
            if (format == ListingFormat::Mlsd || !isTotalLine(line))
                parsed.unreadable.append(line.toByteArray());
            continue;
        }
        if (entry->kind == RemoteEntryKind::Other)
            continue;
        const QByteArray& name = entry->name;
        if (name.isEmpty() || isDotsOnly(name) || name.contains('/') || name.contains('\\') ||
            name.contains('\0'))
            continue;
        parsed.entries.append(*entry);
    }
    return parsed;
}
