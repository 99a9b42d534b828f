#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>

#include <optional>

// Parsers for the listings FTP servers send: MLSD facts and the two common
// LIST styles (Unix "ls -l" in any locale, and DOS/IIS). They work on raw
// bytes; names stay bytes until the caller decodes them.

// A link is an entry of its own: it is never taken for what it points to.
enum class RemoteEntryKind { File, Directory, Link, Other };

// How much of an entry's modification time the listing gave: none at all, the
// day, the minute, or the second.
enum class TimePrecision { None, Day, Minute, Second };

struct RemoteEntry {
    QByteArray name;
    RemoteEntryKind kind = RemoteEntryKind::Other;
    qint64 size = 0;
    // In UTC; invalid when precision is None. A LIST time is the server's
    // clock in a zone the client cannot know, taken as UTC: such a time is
    // never given more than Minute precision, so that nobody takes it for
    // exact.
    QDateTime modified;
    TimePrecision precision = TimePrecision::None;

    bool operator==(const RemoteEntry&) const = default;
};

// One line each; nothing for lines that are not entries ("total 12", blank,
// garbage, a line cut short). Symbolic links come back as Link, named
// without their " -> " target; devices, pipes, sockets and "cdir"/"pdir" as
// Other. `now` decides the year of a Unix date that shows a time instead.
std::optional<RemoteEntry> parseMlsdLine(QByteArrayView line);
std::optional<RemoteEntry>
parseUnixListLine(QByteArrayView line, const QDateTime& now = QDateTime::currentDateTimeUtc());
std::optional<RemoteEntry> parseDosListLine(QByteArrayView line);
// A LIST line in whichever of the two styles it is.
std::optional<RemoteEntry> parseListLine(QByteArrayView line,
                                         const QDateTime& now = QDateTime::currentDateTimeUtc());

enum class ListingFormat { Mlsd, List };

struct ParsedListing {
    // The files, folders and links that may be handed out: other kinds are
    // left out, and so are names that could lead outside the folder ("",
    // ".", "..", any run of dots, names holding "/" or "\") or that hold a
    // NUL.
    QList<RemoteEntry> entries;
    // The lines no parser could read, without their line ends: entries the
    // caller cannot see, so a folder that looks empty may not be. Blank lines
    // and the "total N" line of ls are not counted.
    QList<QByteArray> unreadable;
};

ParsedListing parseListing(const QByteArray& listing, ListingFormat format,
                           const QDateTime& now = QDateTime::currentDateTimeUtc());
