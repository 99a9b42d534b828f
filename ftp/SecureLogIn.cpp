#include "ftp/SecureLogIn.h"

#include "ftp/CurlTransfer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <QTimeZone>

#include <curl/curl.h>

namespace {

// A certificate date as the TLS library prints it ("Dec  6 14:34:43 2026 GMT").
QDateTime certificateDate(const QString& text) {
    QString s = text.simplified();
    if (s.endsWith(QLatin1String(" GMT")))
        s.chop(4);
    const QDateTime t = QLocale::c().toDateTime(s, QStringLiteral("MMM d HH:mm:ss yyyy"));
    return t.isValid() ? QDateTime(t.date(), t.time(), QTimeZone::utc()) : QDateTime();
}

// Every problem with a certificate that did not verify, the first one the
// authorities' check met leading.
QString problemsOf(const QString& firstProblem, const QString& nameProblem, const QByteArray& host,
                   const ServerTrust::CertificateDetails& details) {
    QStringList problems;
    if (!firstProblem.isEmpty() && firstProblem != nameProblem)
        problems << firstProblem;
    if (!nameProblem.isEmpty())
        problems << QStringLiteral("the certificate's name does not match %1")
                        .arg(QString::fromUtf8(host));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime from = certificateDate(details.validFrom);
    const QDateTime until = certificateDate(details.validUntil);
    const bool told = firstProblem.contains(QLatin1String("expired")) ||
                      firstProblem.contains(QLatin1String("not yet valid"));
    if (!told && until.isValid() && until < now)
        problems << QStringLiteral("the certificate has expired");
    else if (!told && from.isValid() && now < from)
        problems << QStringLiteral("the certificate is not yet valid");
    return problems.join(QStringLiteral("; "));
}

} // namespace

std::optional<ServerTrust::CertificateDetails> SecureLogIn::peerCertificate() const {
    curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(transfer_.easy(), CURLINFO_CERTINFO, &info) != CURLE_OK || !info ||
        info->num_of_certs < 1)
        return std::nullopt;
    ServerTrust::CertificateDetails details;
    // The first certificate of the chain is the server's own.
    for (curl_slist* field = info->certinfo[0]; field; field = field->next) {
        const QByteArray line(field->data);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon);
        const QString value = QString::fromUtf8(line.mid(colon + 1)).trimmed();
        if (name == "Subject")
            details.subject = value;
        else if (name == "Issuer")
            details.issuer = value;
        else if (name == "Start date")
            details.validFrom = value;
        else if (name == "Expire date")
            details.validUntil = value;
        else if (name == "Cert")
            details.der = ServerTrust::derFromPem(line.mid(colon + 1));
    }
    if (details.der.isEmpty())
        return std::nullopt;
    return details;
}

std::optional<ServerTrust::CertificateDetails> SecureLogIn::probeCertificate(QString* nameProblem) {
    CurlTransfer::Trust& trust = transfer_.trust();
    // A pin that no key has ends the connection right after the handshake,
    // before the user name and password go to a server nobody vouches for;
    // the certificate is in hand by then. The authorities name only the first
    // problem they meet, so the name is checked on its own.
    const QByteArray savedPin = trust.pin;
    trust.pin = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
    trust.wantCertInfo = true;
    trust.freshConnect = true;
    trust.checkNameOnly = true;
    if (attempt_() == CURLE_PEER_FAILED_VERIFICATION)
        *nameProblem = QString::fromUtf8(transfer_.errorText());
    trust.checkNameOnly = false;
    auto details = peerCertificate();
    if (!details) {
        // The name check ended the handshake before the chain was read.
        attempt_();
        details = peerCertificate();
    }
    trust.pin = savedPin;
    return details;
}

bool SecureLogIn::overTls() {
    CurlTransfer::Trust& trust = transfer_.trust();
    const QByteArray host = transfer_.address().hostForUrl;
    const quint16 port = transfer_.address().port;
    const auto trusted = ServerTrust::trustedCertificate(host, port);
    QByteArray fingerprint;
    if (trusted) {
        trust.pin = trusted->publicKeyPin;
        fingerprint = trusted->fingerprint;
    }
    trust.wantCertInfo = true;
    int rc = attempt_();
    QString reason;
    bool changed = false;
    if (rc == CURLE_OK) {
        if (!trusted)
            return true; // vouched for by the authorities
        // A resumed TLS session may carry no chain; the key was checked.
        const auto peer = peerCertificate();
        if (!peer || QCryptographicHash::hash(peer->der, QCryptographicHash::Sha256) == fingerprint)
            return true;
        changed = true;
        reason = QStringLiteral("The certificate differs from the one trusted before.");
    } else if (rc == CURLE_PEER_FAILED_VERIFICATION && !trusted) {
        reason = QString::fromUtf8(transfer_.errorText());
    } else if (rc == CURLE_SSL_PINNEDPUBKEYNOTMATCH && trusted) {
        changed = true;
        reason = QStringLiteral("The certificate's key differs from the one trusted before.");
    } else {
        return false;
    }

    QString nameProblem;
    auto details = probeCertificate(&nameProblem);
    if (!details)
        return false;
    details->reason = changed ? reason : problemsOf(reason, nameProblem, host, *details);
    const auto answer = ServerTrust::askCertificate(host, port, *details, changed);
    if (answer == ServerTrust::Answer::Cancel)
        return false;
    const QByteArray pin = ServerTrust::publicKeyPin(details->der);
    if (pin.isEmpty())
        return false;
    trust.pin = pin;
    fingerprint = QCryptographicHash::hash(details->der, QCryptographicHash::Sha256);
    if (answer == ServerTrust::Answer::Always)
        ServerTrust::storeCertificate(host, port, {fingerprint, trust.pin});
    else
        ServerTrust::trustCertificateForThisRun(host, port, {fingerprint, trust.pin});
    trust.freshConnect = true;
    rc = attempt_();
    trust.freshConnect = false;
    return rc == CURLE_OK;
}

bool SecureLogIn::overSsh() {
    CurlTransfer::Trust& trust = transfer_.trust();
    const QByteArray host = transfer_.address().hostForUrl;
    const quint16 port = transfer_.address().port;
    const auto known = ServerTrust::knownHostKey(host, port);
    trust.acceptedHostKey = known.value_or(QByteArray());
    trust.offeredHostKey.clear();
    if (attempt_() == CURLE_OK)
        return true;
    // Only a key that the session did not accept is a question for the user;
    // a refused password or an unreachable server is not.
    if (trust.offeredHostKey.isEmpty() || trust.offeredHostKey == trust.acceptedHostKey)
        return false;
    const QByteArray offered = trust.offeredHostKey;
    const auto answer = ServerTrust::askHostKey(host, port, offered, known);
    if (answer == ServerTrust::Answer::Cancel)
        return false;
    trust.acceptedHostKey = offered;
    if (answer == ServerTrust::Answer::Always)
        ServerTrust::storeHostKey(host, port, offered);
    else
        ServerTrust::trustHostKeyForThisRun(host, port, offered);
    return attempt_() == CURLE_OK;
}
