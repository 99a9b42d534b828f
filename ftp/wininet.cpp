#include "wininet.h"

// Placeholder bodies; the libcurl implementation replaces them.

HINTERNET InternetOpenA(const QString&, quint32, const QString&, const QString&, quint32) {
    return 0;
}
HINTERNET InternetConnectA(HINTERNET, const QString&, quint16, const QString&, const QString&,
                           quint32, quint32, quintptr) {
    return 0;
}
HINTERNET FtpFindFirstFileA(HINTERNET, const QString&, WIN32_FIND_DATAA*, quint32, quintptr) {
    return 0;
}
bool InternetFindNextFileA(HINTERNET, WIN32_FIND_DATAA*) {
    return false;
}
bool FtpGetCurrentDirectoryA(HINTERNET, QString*, quint32*) {
    return false;
}
HINTERNET FtpOpenFileA(HINTERNET, const QString&, quint32, quint32, quintptr) {
    return 0;
}
bool InternetWriteFile(HINTERNET, const void*, quint32, quint32*) {
    return false;
}
bool FtpCreateDirectoryA(HINTERNET, const QString&) {
    return false;
}
bool FtpDeleteFileA(HINTERNET, const QString&) {
    return false;
}
bool InternetCloseHandle(HINTERNET) {
    return false;
}
