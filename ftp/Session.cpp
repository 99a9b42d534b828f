#include "ftp/Session.h"

#include "app/core/ErrorTrap.h"
#include "app/core/MessageSeam.h"
#include "ftp/SessionGlobals.h"
#include "app/core/VbError.h"

#include <QRegularExpression>

#include <cmath>

namespace {

const QString kTestLocation = QStringLiteral("Gantrel2021/08/31.Form1.PushButton3_Click");

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

HINTERNET OpenInternetSession() {
    return InternetOpenA(QStringLiteral("quenlor"), INTERNET_OPEN_TYPE_DIRECT, QString(""),
                         QString(""), INTERNET_FLAG_NO_CACHE_WRITE);
}

HINTERNET ConnectFtp(HINTERNET internet, const QString& hostName, const QString& portText,
                     const QString& userName, const QString& password) {
    const quint16 port = ConvertPortText(portText);
    return InternetConnectA(internet, hostName, port, userName, password, INTERNET_SERVICE_FTP,
                            INTERNET_FLAG_PASSIVE, 0);
}

void TestConnection(const QString& hostName, const QString& portText, const QString& userName,
                    const QString& password) {
    ErrorTrap trap(kTestLocation);
    // Statement 100 (the passive flag) is part of ConnectFtp.
    if (!trap.at(102, [&] { hInternet = OpenInternetSession(); }))
        hInternet = 0;
    if (hInternet == 0) {
        trap.at(116, [] { MessageSeam::plain(QStringLiteral("Connection to service failed!")); });
        return;
    }
    // A connect that cannot even start (a port text that is no port) counts as
    // a refused one.
    if (!trap.at(106,
                 [&] { hConnect = ConnectFtp(hInternet, hostName, portText, userName, password); }))
        hConnect = 0;
    if (hConnect == 0) {
        trap.at(110, [] { MessageSeam::plain(QStringLiteral("Could not connect.")); });
        // The handle is cleared as well as closed, so nothing can use it later.
        trap.at(112, [] {
            InternetCloseHandle(hInternet);
            hInternet = 0;
        });
        return;
    }
    trap.at(114, [] { MessageSeam::plain(QStringLiteral("Connection OK.")); });
}
