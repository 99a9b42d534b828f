#include "ftp/ServerTrust.h"

#include "core/MessageSeam.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QThread>

#include <map>
#include <mutex>

namespace {

struct Locations {
    std::mutex mutex;
    QString settingsFile;
    QString knownHostsFile;
    std::map<QString, ServerTrust::Certificate> certificatesThisRun;
    std::map<QString, QByteArray> hostKeysThisRun;
};

Locations& locations() {
    static Locations l;
    return l;
}

const QString kCertificateGroup = QStringLiteral("TrustedCertificates");
const QStringList kTrustButtons = {QStringLiteral("Trust always"), QStringLiteral("This time"),
                                   QStringLiteral("Cancel")};
constexpr int kCancel = 2;

QString endpoint(const QByteArray& host, quint16 port) {
    return QString::fromUtf8(host) + QLatin1Char(':') + QString::number(port);
}

// OpenSSH writes a host on its default port bare, any other as [host]:port.
QByteArray knownHostsName(const QByteArray& host, quint16 port) {
    QByteArray bare = host;
    if (bare.startsWith('[') && bare.endsWith(']'))
        bare = bare.mid(1, bare.size() - 2);
    if (port == 22)
        return bare;
    return '[' + bare + "]:" + QByteArray::number(port);
}

ServerTrust::Answer answerOf(int index) {
    switch (index) {
    case 0:
        return ServerTrust::Answer::Always;
    case 1:
        return ServerTrust::Answer::ThisTime;
    default:
        return ServerTrust::Answer::Cancel;
    }
}

// One DER element: its tag and where its contents lie.
struct DerElement {
    quint8 tag = 0;
    qsizetype start = 0;   // first byte of the element
    qsizetype content = 0; // first byte of its contents
    qsizetype end = 0;     // one past its last byte
};

std::optional<DerElement> readDer(const QByteArray& der, qsizetype at, qsizetype limit) {
    if (at + 2 > limit)
        return std::nullopt;
    DerElement e;
    e.start = at;
    e.tag = quint8(der[at]);
    const auto first = quint8(der[at + 1]);
    qsizetype pos = at + 2;
    qsizetype length = 0;
    if (first < 0x80) {
        length = first;
    } else {
        const int bytes = first & 0x7F;
        if (bytes == 0 || bytes > 4 || pos + bytes > limit)
            return std::nullopt;
        for (int i = 0; i < bytes; ++i)
            length = (length << 8) | quint8(der[pos + i]);
        pos += bytes;
    }
    if (length < 0 || pos + length > limit)
        return std::nullopt;
    e.content = pos;
    e.end = pos + length;
    return e;
}

} // namespace

void ServerTrust::setLocations(const QString& settingsFile, const QString& knownHostsFile) {
    std::lock_guard lock(locations().mutex);
    locations().settingsFile = settingsFile;
    locations().knownHostsFile = knownHostsFile;
}

void ServerTrust::useSettingsFile(const QString& settingsFile) {
    setLocations(settingsFile,
                 QFileInfo(settingsFile).absolutePath() + QStringLiteral("/Pellmor/known_hosts"));
}

QString ServerTrust::settingsFile() {
    std::lock_guard lock(locations().mutex);
    return locations().settingsFile;
}

QString ServerTrust::knownHostsFile() {
    std::lock_guard lock(locations().mutex);
    return locations().knownHostsFile;
}

void ServerTrust::trustCertificateForThisRun(const QByteArray& host, quint16 port,
                                             const Certificate& cert) {
    std::lock_guard lock(locations().mutex);
    locations().certificatesThisRun[endpoint(host, port)] = cert;
}

void ServerTrust::trustHostKeyForThisRun(const QByteArray& host, quint16 port,
                                         const QByteArray& keyBlob) {
    std::lock_guard lock(locations().mutex);
    locations().hostKeysThisRun[endpoint(host, port)] = keyBlob;
}

void ServerTrust::forgetThisRun() {
    std::lock_guard lock(locations().mutex);
    locations().certificatesThisRun.clear();
    locations().hostKeysThisRun.clear();
}

std::optional<ServerTrust::Certificate> ServerTrust::trustedCertificate(const QByteArray& host,
                                                                        quint16 port) {
    {
        std::lock_guard lock(locations().mutex);
        const auto& run = locations().certificatesThisRun;
        if (const auto it = run.find(endpoint(host, port)); it != run.end())
            return it->second;
    }
    const QString file = settingsFile();
    if (file.isEmpty())
        return std::nullopt;
    QSettings settings(file, QSettings::IniFormat);
    const QStringList value =
        settings.value(kCertificateGroup + QLatin1Char('/') + endpoint(host, port)).toStringList();
    if (value.size() != 2)
        return std::nullopt;
    Certificate cert;
    cert.fingerprint = QByteArray::fromHex(value[0].toLatin1());
    cert.publicKeyPin = value[1].toLatin1();
    if (cert.fingerprint.size() != 32 || !cert.publicKeyPin.startsWith("sha256//"))
        return std::nullopt;
    return cert;
}

void ServerTrust::storeCertificate(const QByteArray& host, quint16 port, const Certificate& cert) {
    {
        std::lock_guard lock(locations().mutex);
        locations().certificatesThisRun.erase(endpoint(host, port));
    }
    const QString file = settingsFile();
    if (file.isEmpty())
        return;
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(
        kCertificateGroup + QLatin1Char('/') + endpoint(host, port),
        QStringList{colonHex(cert.fingerprint), QString::fromLatin1(cert.publicKeyPin)});
    settings.sync();
}

std::optional<QByteArray> ServerTrust::knownHostKey(const QByteArray& host, quint16 port) {
    {
        std::lock_guard lock(locations().mutex);
        const auto& run = locations().hostKeysThisRun;
        if (const auto it = run.find(endpoint(host, port)); it != run.end())
            return it->second;
    }
    const QString path = knownHostsFile();
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray name = knownHostsName(host, port);
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        if (fields.size() < 3 || fields[0].startsWith('#'))
            continue;
        if (!fields[0].split(',').contains(name))
            continue;
        const QByteArray blob = QByteArray::fromBase64(fields[2]);
        if (!blob.isEmpty())
            return blob;
    }
    return std::nullopt;
}

void ServerTrust::storeHostKey(const QByteArray& host, quint16 port, const QByteArray& keyBlob) {
    {
        std::lock_guard lock(locations().mutex);
        locations().hostKeysThisRun.erase(endpoint(host, port));
    }
    const QString path = knownHostsFile();
    if (path.isEmpty())
        return;
    const QByteArray name = knownHostsName(host, port);
    QByteArray kept;
    QFile old(path);
    if (old.open(QIODevice::ReadOnly)) {
        // Every other line stays as it is; the server's old key goes.
        while (!old.atEnd()) {
            const QByteArray line = old.readLine();
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (!fields.isEmpty() && fields[0].split(',').contains(name))
                continue;
            kept += line;
            if (!kept.endsWith('\n'))
                kept += '\n';
        }
        old.close();
    }
    kept += name + ' ' + sshKeyType(keyBlob).toLatin1() + ' ' + keyBlob.toBase64() + '\n';
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(kept);
        file.commit();
    }
}

namespace {

// A connection opened off the window's thread (one of a run's extra sessions)
// cannot put a question to the user; it is refused as Cancel would refuse it.
// The run's main session, opened first, has asked already.
bool canAsk() {
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}
} // namespace

ServerTrust::Answer ServerTrust::askCertificate(const QByteArray& host, quint16 port,
                                                const CertificateDetails& details, bool changed) {
    if (!canAsk())
        return Answer::Cancel;
    QString text;
    if (changed) {
        text = QStringLiteral(
            "WARNING: the server's certificate has changed since you trusted it. Someone may "
            "be impersonating the server to read your password and files, or the server may "
            "simply have a new certificate. Trust the new certificate only if you know why it "
            "changed.");
    } else {
        text = QStringLiteral("The server's certificate could not be verified.");
    }
    const QByteArray fingerprint =
        QCryptographicHash::hash(details.der, QCryptographicHash::Sha256);
    text += QStringLiteral("\n\nHost: ") + endpoint(host, port) + QStringLiteral("\nSubject: ") +
            details.subject + QStringLiteral("\nIssuer: ") + details.issuer +
            QStringLiteral("\nValid from: ") + details.validFrom +
            QStringLiteral("\nValid until: ") + details.validUntil + QStringLiteral("\nReason: ") +
            details.reason + QStringLiteral("\nSHA-256 fingerprint: ") + colonHex(fingerprint) +
            QStringLiteral("\n\nTrust this certificate?");
    return answerOf(MessageSeam::ask(text, kTrustButtons, kCancel));
}

ServerTrust::Answer ServerTrust::askHostKey(const QByteArray& host, quint16 port,
                                            const QByteArray& keyBlob,
                                            const std::optional<QByteArray>& previous) {
    if (!canAsk())
        return Answer::Cancel;
    QString text;
    if (previous) {
        text = QStringLiteral(
                   "WARNING: THE SERVER'S HOST KEY HAS CHANGED. Someone may be impersonating "
                   "the server (a man-in-the-middle attack) to read your password and files. "
                   "It is also possible that the server's key was replaced. The connection has "
                   "been refused; replace the stored key only if you know why it changed.\n\n"
                   "Stored key: ") +
               sshKeyType(*previous) + QLatin1Char(' ') + sshFingerprint(*previous);
    } else {
        text = QStringLiteral("The server's host key is not known yet.");
    }
    text += QStringLiteral("\n\nHost: ") + endpoint(host, port) + QStringLiteral("\nKey type: ") +
            sshKeyType(keyBlob) + QStringLiteral("\nSHA-256 fingerprint: ") +
            sshFingerprint(keyBlob) + QStringLiteral("\n\nTrust this host key?");
    return answerOf(MessageSeam::ask(text, kTrustButtons, kCancel));
}

QString ServerTrust::colonHex(const QByteArray& digest) {
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

QString ServerTrust::sshFingerprint(const QByteArray& keyBlob) {
    const QByteArray hash = QCryptographicHash::hash(keyBlob, QCryptographicHash::Sha256);
    return QStringLiteral("SHA256:") +
           QString::fromLatin1(hash.toBase64(QByteArray::OmitTrailingEquals));
}

QString ServerTrust::sshKeyType(const QByteArray& keyBlob) {
    if (keyBlob.size() < 4)
        return QStringLiteral("unknown");
    const quint32 length = (quint32(quint8(keyBlob[0])) << 24) |
                           (quint32(quint8(keyBlob[1])) << 16) |
                           (quint32(quint8(keyBlob[2])) << 8) | quint32(quint8(keyBlob[3]));
    if (length == 0 || length > 64 || qsizetype(length) + 4 > keyBlob.size())
        return QStringLiteral("unknown");
    const QByteArray type = keyBlob.mid(4, qsizetype(length));
    for (char c : type) {
        if (quint8(c) <= 0x20 || quint8(c) >= 0x7F)
            return QStringLiteral("unknown");
    }
    return QString::fromLatin1(type);
}

std::optional<QByteArray> ServerTrust::subjectPublicKeyInfo(const QByteArray& der) {
    // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version OPTIONAL,
    // serialNumber, signature, issuer, validity, subject, subjectPublicKeyInfo, ...
    const auto cert = readDer(der, 0, der.size());
    if (!cert || cert->tag != 0x30)
        return std::nullopt;
    const auto tbs = readDer(der, cert->content, cert->end);
    if (!tbs || tbs->tag != 0x30)
        return std::nullopt;
    qsizetype at = tbs->content;
    auto field = readDer(der, at, tbs->end);
    if (field && field->tag == 0xA0) {
        at = field->end;
        field = readDer(der, at, tbs->end);
    }
    // serialNumber, signature, issuer, validity, subject
    const quint8 expected[] = {0x02, 0x30, 0x30, 0x30, 0x30};
    for (quint8 tag : expected) {
        if (!field || field->tag != tag)
            return std::nullopt;
        at = field->end;
        field = readDer(der, at, tbs->end);
    }
    if (!field || field->tag != 0x30)
        return std::nullopt;
    return der.mid(field->start, field->end - field->start);
}

QByteArray ServerTrust::publicKeyPin(const QByteArray& der) {
    const auto spki = subjectPublicKeyInfo(der);
    if (!spki)
        return {};
    return "sha256//" + QCryptographicHash::hash(*spki, QCryptographicHash::Sha256).toBase64();
}

QByteArray ServerTrust::derFromPem(const QByteArray& pem) {
    const QByteArray begin = "-----BEGIN CERTIFICATE-----";
    const QByteArray end = "-----END CERTIFICATE-----";
    const qsizetype from = pem.indexOf(begin);
    if (from < 0)
        return {};
    const qsizetype to = pem.indexOf(end, from + begin.size());
    if (to < 0)
        return {};
    return QByteArray::fromBase64(pem.mid(from + begin.size(), to - from - begin.size()));
}
