#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// The host box names the protocol: a bare host or ftp:// is plain FTP,
// ftpes:// FTP that switches to TLS before the log-in (AUTH TLS) and never
// falls back to plain, ftps:// FTP inside TLS from the first byte, sftp:// the
// SSH file transfer protocol.
enum class RemoteProtocol { Ftp, FtpExplicitTls, FtpImplicitTls, Sftp };

struct HostAddress {
    RemoteProtocol protocol = RemoteProtocol::Ftp;
    // The host as it goes into a URL: IPv6 literals in brackets.
    QByteArray hostForUrl;
    quint16 port = 21;

    bool usesTls() const {
        return protocol == RemoteProtocol::FtpExplicitTls ||
               protocol == RemoteProtocol::FtpImplicitTls;
    }
};

// The port a protocol listens on unless told otherwise.
quint16 defaultPort(RemoteProtocol protocol);

// Reads the host text and the port. The port is taken as given, except that
// 21, the plain FTP default, stands for the scheme's own default (990 for
// ftps://, 22 for sftp://). Nothing when the text is not a host, with or
// without one of the four schemes: a path, a user part, a port inside the
// text, blanks or control characters are refused. Schemes ignore letter case.
std::optional<HostAddress> parseHostAddress(const QString& hostText, quint16 port);
