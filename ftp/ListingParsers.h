#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// Parsers for the listings FTP servers send: MLSD facts and the two common
// LIST styles (Unix "ls -l" and DOS/IIS). They work on raw bytes; names stay
// bytes until the caller decodes them.

// A link is an entry of its own: it is never taken for what it points to.
enum class RemoteEntryKind { File, Directory, Link, Other };

struct RemoteEntry {
    QByteArray name;
    RemoteEntryKind kind = RemoteEntryKind::Other;
    qint64 size = 0;

    bool operator==(const RemoteEntry&) const = default;
};

// One line each; nothing for lines that are not entries ("total 12", blank,
// garbage). Symbolic links come back as Link, named without their " -> "
// target; devices and "cdir"/"pdir" as Other.
std::optional<RemoteEntry> parseMlsdLine(QByteArrayView line);
std::optional<RemoteEntry> parseUnixListLine(QByteArrayView line);
std::optional<RemoteEntry> parseDosListLine(QByteArrayView line);
// A LIST line in whichever of the two styles it is.
std::optional<RemoteEntry> parseListLine(QByteArrayView line);

enum class ListingFormat { Mlsd, List };

// The files, folders and links of a whole listing that may be handed out:
// other kinds are left out, and so are names that could lead outside the
// folder ("", ".", "..", any run of dots, names holding "/" or "\") or that
// hold a NUL.
struct ParsedListing {
    QList<RemoteEntry> entries;
    // Lines no parser could read.
    QList<QByteArray> unreadable;
};
ParsedListing parseListing(const QByteArray& listing, ListingFormat format);
