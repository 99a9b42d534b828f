#include "ftp/HostAddress.h"

#include <cstring>

namespace {

struct Scheme {
    const char* prefix;
    RemoteProtocol protocol;
};

const Scheme kSchemes[] = {
    {"ftp://", RemoteProtocol::Ftp},
    {"ftpes://", RemoteProtocol::FtpExplicitTls},
    {"ftps://", RemoteProtocol::FtpImplicitTls},
    {"sftp://", RemoteProtocol::Sftp},
};

std::optional<QByteArray> checkedHost(const QByteArray& host) {
    if (host.isEmpty())
        return std::nullopt;
    for (char ch : host) {
        const auto c = quint8(ch);
        if (c <= 0x20 || c == 0x7F)
            return std::nullopt;
        if (std::strchr("/\\@?#%;,\"'<>`{}|^", ch))
            return std::nullopt;
    }
    if (host.startsWith('[')) {
        if (!host.endsWith(']') || host.count('[') != 1 || host.count(']') != 1 || host.size() < 3)
            return std::nullopt;
        return host;
    }
    if (host.contains('[') || host.contains(']'))
        return std::nullopt;
    // A colon is only ever part of an IPv6 address here: a port written
    // into the host box would be silently different from the Port box.
    if (host.contains(':'))
        return '[' + host + ']';
    return host;
}

} // namespace

quint16 defaultPort(RemoteProtocol protocol) {
    switch (protocol) {
    case RemoteProtocol::FtpImplicitTls:
        return 990;
    case RemoteProtocol::Sftp:
        return 22;
    case RemoteProtocol::Ftp:
    case RemoteProtocol::FtpExplicitTls:
        break;
    }
    return 21;
}

std::optional<HostAddress> parseHostAddress(const QString& hostText, quint16 port) {
    QByteArray text = hostText.toUtf8();
    HostAddress address;
    bool schemeGiven = false;
    for (const Scheme& scheme : kSchemes) {
        const qsizetype n = qsizetype(std::strlen(scheme.prefix));
        if (text.size() >= n && text.left(n).toLower() == scheme.prefix) {
            address.protocol = scheme.protocol;
            text.remove(0, n);
            schemeGiven = true;
            break;
        }
    }
    // ftp://host/ is still a bare host; anything after that slash is a path.
    if (schemeGiven && text.endsWith('/'))
        text.chop(1);
    const auto host = checkedHost(text);
    if (!host)
        return std::nullopt;
    // An IPv6 literal without brackets cannot follow a scheme: "sftp://::1"
    // reads like a port.
    if (schemeGiven && !text.startsWith('[') && text.contains(':'))
        return std::nullopt;
    address.hostForUrl = *host;
    address.port = (port == 0 || port == 21) ? defaultPort(address.protocol) : port;
    return address;
}
