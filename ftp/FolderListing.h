#pragma once

#include "ftp/Session.h"

#include <QString>

#include <vector>

// The entries of one remote folder as the server listed them, in its order.
// `listed` is false when the folder could not be listed at all (refused,
// missing, or the connection failed), true for a listing that worked, empty
// or not.
struct FolderListing {
    bool listed = false;
    std::vector<WIN32_FIND_DATAA> entries;
};

// Lists the folder of a pattern (a folder path followed by "*.*") over the
// session with one enumeration, closed before this returns. Safe on any
// thread that the session is not busy on.
FolderListing FetchFolderListing(const Session& session, const QString& pattern);
