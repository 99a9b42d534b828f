#pragma once

class Session;

#include <QString>

// Whether the folder is there on the server of a logged-in session. A
// folder that lists no entries is told apart from one that is missing (both
// list as nothing) by the listing of its parent. "/" always exists.
bool RemoteFolderExists(const Session& session, const QString& folder);
