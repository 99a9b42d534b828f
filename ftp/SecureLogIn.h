#pragma once

#include "ftp/ServerTrust.h"

#include <QString>

#include <functional>
#include <optional>

class CurlTransfer;

// The log-in over TLS or SSH, with the user's word where the server's
// certificate or host key needs it (asked through the message seam).
//
// Over TLS the certificate must verify against the system's authorities and
// the host name, or be one the user trusts: then every connection of the
// session, control and data alike, is held to that certificate's public key.
// Over SSH the host key must be the known one or one the user accepts.
class SecureLogIn {
public:
    // `attempt` logs in once with the transfer's current settings and
    // answers libcurl's result.
    SecureLogIn(CurlTransfer& transfer, std::function<int()> attempt)
        : transfer_(transfer), attempt_(std::move(attempt)) {}

    // True once logged in; false when the log-in failed or the user declined.
    bool overTls();
    bool overSsh();

private:
    std::optional<ServerTrust::CertificateDetails> probeCertificate(QString* nameProblem);
    std::optional<ServerTrust::CertificateDetails> peerCertificate() const;

    CurlTransfer& transfer_;
    std::function<int()> attempt_;
};
