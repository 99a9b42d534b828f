#include "ftp/Session.h"

#include "core/VbError.h"

#include <QRegularExpression>

#include <cmath>

namespace {

constexpr quint32 kListFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// Ties go to the even neighbour, as the port conversion has always done it.
double roundHalfEven(double value) {
    const double lower = std::floor(value);
    const double diff = value - lower;
    if (diff < 0.5)
        return lower;
    if (diff > 0.5)
        return lower + 1;
    return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

} // namespace

quint16 ConvertPortText(const QString& portText) {
    // Blanks around the number are tolerated; anything else that is not a plain
    // decimal number (with optional fraction and exponent) is not a port.
    static const QRegularExpression number(
        QStringLiteral(R"(^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?$)"));
    const QString text = portText.trimmed();
    if (!number.match(text).hasMatch())
        throw VbError::typeMismatch();
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        throw VbError::overflow();
    const double rounded = roundHalfEven(value);
    if (rounded < 0 || rounded > 65535)
        throw VbError::overflow();
    const auto port = quint16(rounded);
    return port == 0 ? quint16(21) : port;
}

Session::~Session() {
    close();
}

bool Session::openInternet() {
    close();
    hInternet_ = InternetOpenA(QStringLiteral("quenlor"), INTERNET_OPEN_TYPE_DIRECT, QString(""),
                               QString(""), INTERNET_FLAG_NO_CACHE_WRITE);
    return hInternet_ != 0;
}

bool Session::connect(const ConnectionSettings& settings) {
    if (hConnect_) {
        InternetCloseHandle(hConnect_);
        hConnect_ = 0;
    }
    settings_ = settings;
    const quint16 port = ConvertPortText(settings.portText);
    hConnect_ = InternetConnectA(hInternet_, settings.hostName, port, settings.userName,
                                 settings.password, INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    return hConnect_ != 0;
}

void Session::close() {
    if (hConnect_)
        InternetCloseHandle(std::exchange(hConnect_, 0));
    closeInternet();
}

void Session::closeInternet() {
    if (hInternet_)
        InternetCloseHandle(std::exchange(hInternet_, 0));
}

std::unique_ptr<Session> Session::openAnother() const {
    auto another = std::make_unique<Session>();
    if (!another->openInternet())
        return nullptr;
    try {
        if (!another->connect(settings_))
            return nullptr;
    } catch (const VbError&) {
        return nullptr;
    }
    return another;
}

HINTERNET Session::findFirstFile(const QString& pattern, WIN32_FIND_DATAA* data) const {
    return FtpFindFirstFileA(hConnect_, pattern, data, kListFlags, 0);
}

bool Session::currentDirectory(QString* directory) const {
    quint32 length = MAX_PATH;
    return FtpGetCurrentDirectoryA(hConnect_, directory, &length);
}

HINTERNET Session::openUpload(const QString& remotePath) const {
    return FtpOpenFileA(hConnect_, remotePath, GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
}

bool Session::createDirectory(const QString& remotePath) const {
    return FtpCreateDirectoryA(hConnect_, remotePath);
}

bool Session::deleteFile(const QString& remotePath) const {
    return FtpDeleteFileA(hConnect_, remotePath);
}

bool Session::renameFile(const QString& remotePath, const QString& newPath) const {
    return FtpRenameFileA(hConnect_, remotePath, newPath);
}

bool Session::fileExists(const QString& remotePath) const {
    return FtpFileExists(hConnect_, remotePath);
}

void Session::sendCommandsTogether(bool on) const {
    FtpSendCommandsTogether(hConnect_, on);
}
