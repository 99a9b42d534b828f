#include "ftp/PasswordKey.h"

#include "core/VbError.h"
#include "ftp/HostAddress.h"
#include "ftp/Session.h"

#include <QUrl>

#include <optional>

namespace {

QString schemeOf(RemoteProtocol protocol) {
    switch (protocol) {
    case RemoteProtocol::FtpExplicitTls:
        return QStringLiteral("ftpes");
    case RemoteProtocol::FtpImplicitTls:
        return QStringLiteral("ftps");
    case RemoteProtocol::Sftp:
        return QStringLiteral("sftp");
    case RemoteProtocol::Ftp:
        break;
    }
    return QStringLiteral("ftp");
}

std::optional<quint16> portOf(const QString& portText) {
    if (portText.trimmed().isEmpty())
        return quint16(21);
    try {
        return ConvertPortText(portText);
    } catch (const VbError&) {
        return std::nullopt;
    }
}

// The user part with every character that could be read as a separator
// escaped, so that "a@b" at "c" and "a" at "b@c" never meet.
QString userPart(const QString& userName) {
    if (userName.isEmpty())
        return {};
    return QString::fromLatin1(QUrl::toPercentEncoding(userName)) + QLatin1Char('@');
}

} // namespace

QString passwordKey(const QString& hostText, const QString& portText, const QString& userName) {
    const QString host = hostText.trimmed();
    const std::optional<quint16> port = portOf(portText);
    if (port) {
        if (const auto address = parseHostAddress(host, *port)) {
            return schemeOf(address->protocol) + QStringLiteral("://") + userPart(userName) +
                   QString::fromUtf8(address->hostForUrl.toLower()) + QLatin1Char(':') +
                   QString::number(address->port);
        }
    }
    // Whatever makes a host unusable (a blank, a slash, an '@', a colon, a
    // bracket) shows escaped as '%', which no usable host holds; an empty host
    // or a port that is no number from 0 to 65535 is no part of a usable
    // account's key either.
    return QStringLiteral("ftp://") + userPart(userName) +
           QString::fromLatin1(QUrl::toPercentEncoding(host)) + QLatin1Char(':') +
           QString::fromLatin1(QUrl::toPercentEncoding(portText.trimmed()));
}
