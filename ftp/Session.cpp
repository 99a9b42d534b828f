#include "Session.h"

// Placeholder bodies; replaced by the real openers.

quint16 ConvertPortText(const QString&) {
    return 21;
}
HINTERNET OpenInternetSession() {
    return 0;
}
HINTERNET ConnectFtp(HINTERNET, const QString&, const QString&, const QString&, const QString&) {
    return 0;
}
void TestConnection(const QString&, const QString&, const QString&, const QString&) {}
