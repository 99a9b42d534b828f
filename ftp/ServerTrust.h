#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// What the user has decided to trust beyond the system's certificate
// authorities, and the questions that lead there. Certificates are trusted by
// their SHA-256 fingerprint per host and port, kept in the settings file (an
// INI file, group "TrustedCertificates"); SSH host keys are kept in a
// known-hosts file in OpenSSH's format. Until the program names the two
// files, nothing is stored. What the user trusts "This time" holds until the
// program ends, so that the further connections of one use (a compare run
// after the connection test, extra connections of a sync run) do not ask
// again.
class ServerTrust {
public:
    static void setLocations(const QString& settingsFile, const QString& knownHostsFile);
    // The program's places: certificates in its settings file, host keys in
    // Pellmor/known_hosts in the same configuration folder.
    static void useSettingsFile(const QString& settingsFile);
    static QString settingsFile();
    static QString knownHostsFile();

    // A trusted certificate: its fingerprint, and the hash of its public key
    // in curl's pinning form ("sha256//" and base64), which every connection
    // to the server is held to.
    struct Certificate {
        QByteArray fingerprint; // SHA-256 of the DER, 32 bytes
        QByteArray publicKeyPin;
    };
    // The certificate trusted for this run, else the stored one.
    static std::optional<Certificate> trustedCertificate(const QByteArray& host, quint16 port);
    static void storeCertificate(const QByteArray& host, quint16 port, const Certificate& cert);
    static void trustCertificateForThisRun(const QByteArray& host, quint16 port,
                                           const Certificate& cert);

    // The SSH host key blob (the key in SSH wire format) accepted for this
    // run, else the stored one.
    static std::optional<QByteArray> knownHostKey(const QByteArray& host, quint16 port);
    static void storeHostKey(const QByteArray& host, quint16 port, const QByteArray& keyBlob);
    static void trustHostKeyForThisRun(const QByteArray& host, quint16 port,
                                       const QByteArray& keyBlob);
    // Forgets what was trusted for this run only.
    static void forgetThisRun();

    enum class Answer { Always, ThisTime, Cancel };

    // What the certificate dialog shows of a certificate.
    struct CertificateDetails {
        QString subject;
        QString issuer;
        QString validFrom;
        QString validUntil;
        QByteArray der;
        QString reason; // why it did not verify
    };
    // Asks through the message seam whether to trust a certificate that did
    // not verify; `changed` when another one was trusted for the server before.
    static Answer askCertificate(const QByteArray& host, quint16 port,
                                 const CertificateDetails& details, bool changed);
    // Asks about an SSH host key that is not known, or, with `previous`, one
    // that differs from the key stored for the server.
    static Answer askHostKey(const QByteArray& host, quint16 port, const QByteArray& keyBlob,
                             const std::optional<QByteArray>& previous);

    // "AB:CD:..." of SHA-256 over the bytes.
    static QString colonHex(const QByteArray& digest);
    // OpenSSH's form: "SHA256:" and the unpadded base64 of the key's hash.
    static QString sshFingerprint(const QByteArray& keyBlob);
    // The key type named at the start of a key blob ("ssh-ed25519", ...).
    static QString sshKeyType(const QByteArray& keyBlob);
    // The SubjectPublicKeyInfo of a DER certificate, as DER; nothing when the
    // bytes are not a certificate.
    static std::optional<QByteArray> subjectPublicKeyInfo(const QByteArray& der);
    static QByteArray publicKeyPin(const QByteArray& der);
    // The DER of the first certificate of a PEM text.
    static QByteArray derFromPem(const QByteArray& pem);
};
