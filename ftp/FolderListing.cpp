#include "ftp/FolderListing.h"

FolderListing FetchFolderListing(const Session& session, const QString& pattern) {
    FolderListing listing;
    WIN32_FIND_DATAA data;
    const HINTERNET find = session.findFirstFile(pattern, &data);
    if (find == 0) {
        listing.listed = GetLastError() == ERROR_NO_MORE_FILES;
        return listing;
    }
    // Closed whichever way this ends, before anything else is listed.
    struct Closer {
        HINTERNET h;
        ~Closer() { InternetCloseHandle(h); }
    } closer{find};
    do {
        listing.entries.push_back(data);
    } while (InternetFindNextFileA(find, &data));
    listing.listed = true;
    return listing;
}
