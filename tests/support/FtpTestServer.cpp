#include "FtpTestServer.h"

// Placeholder; the launcher replaces it.
FtpTestServer::FtpTestServer(Kind kind) : kind_(kind) {}
FtpTestServer::FtpTestServer(Kind kind, Options options) : kind_(kind), options_(options) {}
FtpTestServer::~FtpTestServer() {
    stop();
}
bool FtpTestServer::start(QString* reason) {
    if (reason)
        *reason = QStringLiteral("not yet available");
    return false;
}
void FtpTestServer::stop() {}
QString FtpTestServer::user() const {
    return QStringLiteral("user");
}
QString FtpTestServer::password() const {
    return QStringLiteral("secret");
}
QString FtpTestServer::rootPath() const {
    return dir_ ? dir_->path() : QString();
}
void FtpTestServer::addFault(const Fault&) {}
void FtpTestServer::clearFaults() {}
