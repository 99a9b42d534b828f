#include "tests/support/FtpTestServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kPython = "/usr/bin/python3";
const int kStartTimeoutMs = 15000;

QString setReason(QString* reason, const QString& text) {
    if (reason)
        *reason = text;
    return text;
}

} // namespace

FtpTestServer::FtpTestServer(Kind kind) : kind_(kind) {}
FtpTestServer::FtpTestServer(Kind kind, Options options) : kind_(kind), options_(options) {}
FtpTestServer::~FtpTestServer() {
    stop();
}

bool FtpTestServer::start(QString* reason) {
    stop();
    dir_ = std::make_unique<QTemporaryDir>();
    workDir_ = std::make_unique<QTemporaryDir>();
    if (!dir_->isValid() || !workDir_->isValid()) {
        setReason(reason, QStringLiteral("cannot create a temporary folder"));
        return false;
    }
    switch (kind_) {
    case Kind::Pyftpdlib:
        return startPyftpdlib(reason);
    case Kind::Vsftpd:
        return startVsftpd(reason);
    case Kind::RcloneSftp:
        return startRclone(reason);
    case Kind::OpenSshSftp:
        return startSshd(reason);
    }
    return false;
}

bool FtpTestServer::startPyftpdlib(QString* reason) {
    const QString script = QStringLiteral(PELLMOR_TEST_SUPPORT_DIR "/ftpserver.py");
    if (!QFileInfo::exists(QString::fromLatin1(kPython)) || !QFileInfo::exists(script)) {
        setReason(reason, QStringLiteral("/usr/bin/python3 or ftpserver.py missing"));
        return false;
    }
    writeFaults();
    QStringList args{script,
                     QStringLiteral("--root"),
                     dir_->path(),
                     QStringLiteral("--user"),
                     user(),
                     QStringLiteral("--password"),
                     password(),
                     QStringLiteral("--port"),
                     QStringLiteral("0"),
                     QStringLiteral("--faults"),
                     workDir_->filePath(QStringLiteral("faults.json")),
                     QStringLiteral("--log"),
                     workDir_->filePath(QStringLiteral("commands.log"))};
    if (options_.hideMlsd)
        args << QStringLiteral("--hide-mlsd");
    if (options_.dosListing)
        args << QStringLiteral("--dos-list");
    if (!options_.listStyle.isEmpty())
        args << QStringLiteral("--list-style") << options_.listStyle;
    if (options_.uploadBytesPerSecond > 0)
        args << QStringLiteral("--upload-bps") << QString::number(options_.uploadBytesPerSecond);
    if (options_.anonymous)
        args << QStringLiteral("--anonymous");
    if (!options_.timeSetting.isEmpty())
        args << QStringLiteral("--time-setting") << options_.timeSetting;
    if (!options_.hashCommands.isEmpty())
        args << QStringLiteral("--hash-commands") << options_.hashCommands;
    if (options_.maxConnectionsPerAddress > 0)
        args << QStringLiteral("--max-cons-per-ip")
             << QString::number(options_.maxConnectionsPerAddress);
    if (options_.idleTimeoutS > 0)
        args << QStringLiteral("--idle-timeout") << QString::number(options_.idleTimeoutS);
    if (options_.dropEvery > 0)
        args << QStringLiteral("--drop-every") << QString::number(options_.dropEvery);
    if (options_.logInDelayMs > 0)
        args << QStringLiteral("--login-delay-ms") << QString::number(options_.logInDelayMs);
    if (options_.tls != Tls::None) {
        if (!makeCertificate(reason))
            return false;
        args << QStringLiteral("--tls-cert") << workDir_->filePath(QStringLiteral("server.pem"));
    }
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    process_->start(QString::fromLatin1(kPython), args);
    if (!process_->waitForStarted(kStartTimeoutMs)) {
        setReason(reason,
                  QStringLiteral("cannot start /usr/bin/python3: ") + process_->errorString());
        process_.reset();
        return false;
    }
    return waitForPortLine(reason);
}

bool FtpTestServer::waitForPortLine(QString* reason) {
    QDeadlineTimer deadline(kStartTimeoutMs);
    QByteArray out;
    while (!deadline.hasExpired()) {
        if (!process_->canReadLine() &&
            !process_->waitForReadyRead(int(deadline.remainingTime()))) {
            if (process_->state() == QProcess::NotRunning)
                break;
            continue;
        }
        while (process_->canReadLine()) {
            const QByteArray line = process_->readLine().trimmed();
            if (line.startsWith("PORT ")) {
                bool ok = false;
                const uint port = line.mid(5).toUInt(&ok);
                if (ok && port > 0 && port < 65536) {
                    port_ = quint16(port);
                    return true;
                }
            }
        }
    }
    const QString err = QString::fromLocal8Bit(process_->readAllStandardError()).trimmed();
    setReason(reason, QStringLiteral("the FTP server did not start: ") + err.right(500));
    stop();
    return false;
}

namespace {

const char* const kVsftpd = "/usr/sbin/vsftpd";
const char* const kPamService = "pellmor-ftptest";
// The account is a guest login mapped to root inside the chroot, so that it
// can change the files a test (running as root) put there. PAM lets in only
// the test user name; vsftpd cannot check a password by itself, so any
// password is taken.
const char* const kPamConfig = "auth required pam_succeed_if.so user = user\n"
                               "auth required pam_permit.so\n"
                               "account required pam_permit.so\n"
                               "session required pam_permit.so\n";

sockaddr_in loopback(quint16 port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

bool canBind(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr = loopback(port);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

quint16 freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

bool acceptsConnections(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

bool ensurePamService(QString* reason) {
    const QString path = QStringLiteral("/etc/pam.d/") + QLatin1String(kPamService);
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == kPamConfig)
        return true;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(kPamConfig) < 0 || !file.commit()) {
        setReason(reason, QStringLiteral("cannot write ") + path);
        return false;
    }
    return true;
}

} // namespace

bool FtpTestServer::startVsftpd(QString* reason) {
    if (!QFileInfo::exists(QString::fromLatin1(kVsftpd))) {
        setReason(reason, QStringLiteral("vsftpd is not installed"));
        return false;
    }
    if (::geteuid() != 0) {
        setReason(reason, QStringLiteral("vsftpd needs root for its log-in"));
        return false;
    }
    if (!ensurePamService(reason))
        return false;
    const quint16 port = freePort();
    // Passive ports: a small free range, tried at a few random places.
    quint16 pasvMin = 0;
    const int rangeSize = 16;
    for (int attempt = 0; attempt < 50 && pasvMin == 0; ++attempt) {
        const auto base = quint16(20000 + QRandomGenerator::global()->bounded(40000));
        bool free = true;
        for (int i = 0; i < rangeSize && free; ++i)
            free = canBind(quint16(base + i));
        if (free)
            pasvMin = base;
    }
    if (port == 0 || pasvMin == 0) {
        setReason(reason, QStringLiteral("no free ports for vsftpd"));
        return false;
    }
    QDir(workDir_->path()).mkpath(QStringLiteral("empty"));
    QString tlsConfig;
    if (options_.tls != Tls::None) {
        if (!makeCertificate(reason))
            return false;
        // Log-ins and data both protected, and data connections must resume
        // the control connection's TLS session (vsftpd's default, kept on
        // purpose so that the client is shown to do it). Its log tells of
        // every handshake whether it resumed a session.
        tlsConfig =
            QStringLiteral("ssl_enable=YES\n"
                           "rsa_cert_file=%1\n"
                           "force_local_logins_ssl=YES\n"
                           "force_local_data_ssl=YES\n"
                           "require_ssl_reuse=YES\n"
                           "implicit_ssl=%2\n"
                           "debug_ssl=%4\n"
                           "vsftpd_log_file=%3\n")
                .arg(workDir_->filePath(QStringLiteral("server.pem")),
                     options_.tls == Tls::Implicit ? QStringLiteral("YES") : QStringLiteral("NO"),
                     workDir_->filePath(QStringLiteral("vsftpd.log")))
                .arg(options_.logTls ? QStringLiteral("YES") : QStringLiteral("NO"));
    }
    // vsftpd's rate limit holds for every transfer, uploads among them.
    QString rateConfig = options_.uploadBytesPerSecond > 0
                             ? QStringLiteral("local_max_rate=%1\nanon_max_rate=%1\n")
                                   .arg(options_.uploadBytesPerSecond)
                             : QString();
    if (options_.idleTimeoutS > 0)
        rateConfig += QStringLiteral("idle_session_timeout=%1\n").arg(options_.idleTimeoutS);
    const QString config =
        QStringLiteral("listen=YES\n"
                       "listen_ipv6=NO\n"
                       "background=NO\n"
                       "listen_address=127.0.0.1\n"
                       "listen_port=%1\n"
                       "pasv_enable=YES\n"
                       "pasv_min_port=%2\n"
                       "pasv_max_port=%3\n"
                       "pasv_address=127.0.0.1\n"
                       "port_enable=NO\n"
                       "seccomp_sandbox=NO\n"
                       "anonymous_enable=%7\n"
                       "anon_root=%5\n"
                       "local_enable=YES\n"
                       "write_enable=YES\n"
                       "local_umask=022\n"
                       "guest_enable=YES\n"
                       "guest_username=root\n"
                       "virtual_use_local_privs=YES\n"
                       "chroot_local_user=YES\n"
                       "allow_writeable_chroot=YES\n"
                       "secure_chroot_dir=%4\n"
                       "local_root=%5\n"
                       "pam_service_name=%6\n"
                       "utf8_filesystem=YES\n"
                       "xferlog_enable=%9\n"
                       "syslog_enable=NO\n"
                       "use_localtime=NO\n"
                       "mdtm_write=%10\n"
                       "max_per_ip=%8\n")
            .arg(port)
            .arg(pasvMin)
            .arg(pasvMin + rangeSize - 1)
            .arg(workDir_->filePath(QStringLiteral("empty")), dir_->path(),
                 QLatin1String(kPamService),
                 options_.anonymous ? QStringLiteral("YES") : QStringLiteral("NO"))
            .arg(options_.maxConnectionsPerAddress > 0 ? options_.maxConnectionsPerAddress : 50)
            // The log is written only where transfers are logged.
            .arg(options_.tls != Tls::None && options_.logTls ? QStringLiteral("YES")
                                                              : QStringLiteral("NO"))
            .arg(options_.mdtmWrite ? QStringLiteral("YES") : QStringLiteral("NO")) +
        tlsConfig + rateConfig;
    const QString configPath = workDir_->filePath(QStringLiteral("vsftpd.conf"));
    QFile configFile(configPath);
    if (!configFile.open(QIODevice::WriteOnly) || configFile.write(config.toUtf8()) < 0) {
        setReason(reason, QStringLiteral("cannot write the vsftpd configuration"));
        return false;
    }
    configFile.close();
    return startWatched(QString::fromLatin1(kVsftpd), {configPath}, port, reason);
}

bool FtpTestServer::startWatched(const QString& program, const QStringList& args, quint16 port,
                                 QString* reason) {
    // These servers do not watch their input: a small shell ends them when
    // the test process goes away and closes the pipe, so no server outlives
    // a crash; and it ends with the server, so a server that gives up at once
    // is noticed at once.
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    QStringList shellArgs{QStringLiteral("-c"),
                          QStringLiteral("exec 3<&0; \"$0\" \"$@\" & pid=$!; "
                                         "{ cat <&3 >/dev/null; kill $pid; } & wait $pid"),
                          program};
    shellArgs += args;
    process_->start(QStringLiteral("/bin/sh"), shellArgs);
    if (!process_->waitForStarted(kStartTimeoutMs)) {
        setReason(reason, QStringLiteral("cannot start ") + program);
        process_.reset();
        return false;
    }
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (acceptsConnections(port)) {
            port_ = port;
            return true;
        }
        if (process_->waitForFinished(20))
            break;
    }
    setReason(reason, program + QStringLiteral(" did not start: ") +
                          QString::fromLocal8Bit(process_->readAll()).trimmed().right(500));
    stop();
    return false;
}

namespace {

bool runTool(const QString& program, const QStringList& args, QString* reason) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(kStartTimeoutMs) || !p.waitForFinished(kStartTimeoutMs) ||
        p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        setReason(reason, program + QStringLiteral(" failed: ") +
                              QString::fromLocal8Bit(p.readAll()).trimmed().right(300));
        return false;
    }
    return true;
}

} // namespace

bool FtpTestServer::makeCertificate(QString* reason) {
    const QString key = workDir_->filePath(QStringLiteral("server.key"));
    const QString cert = workDir_->filePath(QStringLiteral("server.crt"));
    if (options_.certificate != Certificate::SelfSigned) {
        // openssl's command line cannot date a certificate in the past.
        if (!runTool(QString::fromLatin1(kPython),
                     {QStringLiteral(PELLMOR_TEST_SUPPORT_DIR "/makecert.py"),
                      QStringLiteral("--dir"), workDir_->path(), QStringLiteral("--kind"),
                      options_.certificate == Certificate::Expired ? QStringLiteral("expired")
                                                                   : QStringLiteral("other-name")},
                     reason))
            return false;
    } else if (!runTool(QStringLiteral("openssl"),
                        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                         QStringLiteral("rsa:2048"), QStringLiteral("-nodes"),
                         QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                         QStringLiteral("/CN=localhost"), QStringLiteral("-keyout"), key,
                         QStringLiteral("-out"), cert},
                        reason))
        return false;
    QFile k(key);
    QFile c(cert);
    QFile both(workDir_->filePath(QStringLiteral("server.pem")));
    if (!k.open(QIODevice::ReadOnly) || !c.open(QIODevice::ReadOnly) ||
        !both.open(QIODevice::WriteOnly) || both.write(k.readAll() + c.readAll()) < 0) {
        setReason(reason, QStringLiteral("cannot write the server's certificate"));
        return false;
    }
    return true;
}

bool FtpTestServer::makeHostKey(QString* reason) {
    return runTool(QStringLiteral("ssh-keygen"),
                   {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                    QStringLiteral("-N"), QString(), QStringLiteral("-f"),
                    workDir_->filePath(QStringLiteral("hostkey"))},
                   reason);
}

bool FtpTestServer::startRclone(QString* reason) {
    const QString rclone = QStringLiteral("/usr/bin/rclone");
    if (!QFileInfo::exists(rclone)) {
        setReason(reason, QStringLiteral("rclone is not installed"));
        return false;
    }
    if (!makeHostKey(reason))
        return false;
    // No keys: the account logs in by password only.
    const QString authorizedKeys = workDir_->filePath(QStringLiteral("authorized_keys"));
    QFile(authorizedKeys).open(QIODevice::WriteOnly);
    const quint16 port = freePort();
    if (port == 0) {
        setReason(reason, QStringLiteral("no free port for rclone"));
        return false;
    }
    return startWatched(rclone,
                        {QStringLiteral("serve"), QStringLiteral("sftp"), dir_->path(),
                         QStringLiteral("--addr"), QStringLiteral("127.0.0.1:%1").arg(port),
                         QStringLiteral("--user"), user(), QStringLiteral("--pass"), password(),
                         QStringLiteral("--key"), workDir_->filePath(QStringLiteral("hostkey")),
                         QStringLiteral("--config"),
                         workDir_->filePath(QStringLiteral("rclone.conf")),
                         QStringLiteral("--authorized-keys"), authorizedKeys,
                         // Listings come from the disk, as from any other
                         // server, also after a test changed it behind the
                         // server's back.
                         QStringLiteral("--dir-cache-time"), QStringLiteral("0s")},
                        port, reason);
}

namespace {

const char* const kSshd = "/usr/sbin/sshd";
// A system account for the tests, made once on a machine where the tests run
// as root; it logs in with its password and reaches nothing but SFTP.
const char* const kSshUser = "pellmortest";

bool ensureSshAccount(const QString& password, QString* reason) {
    if (!runTool(QStringLiteral("/usr/bin/getent"),
                 {QStringLiteral("passwd"), QLatin1String(kSshUser)}, nullptr) &&
        !runTool(QStringLiteral("/usr/sbin/useradd"),
                 {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                  QStringLiteral("--home-dir"), QStringLiteral("/nonexistent"),
                  QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"),
                  QLatin1String(kSshUser)},
                 reason))
        return false;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/usr/sbin/chpasswd"), {});
    p.write(QByteArray(kSshUser) + ':' + password.toUtf8() + '\n');
    p.closeWriteChannel();
    if (!p.waitForFinished(kStartTimeoutMs) || p.exitCode() != 0) {
        setReason(reason,
                  QStringLiteral("chpasswd failed: ") + QString::fromLocal8Bit(p.readAll()));
        return false;
    }
    return true;
}

} // namespace

bool FtpTestServer::startSshd(QString* reason) {
    if (!QFileInfo::exists(QString::fromLatin1(kSshd))) {
        setReason(reason, QStringLiteral("OpenSSH's sshd is not installed"));
        return false;
    }
    if (::geteuid() != 0) {
        setReason(reason, QStringLiteral("sshd needs root for its password log-in"));
        return false;
    }
    if (!ensureSshAccount(password(), reason) || !makeHostKey(reason))
        return false;
    QDir().mkpath(QStringLiteral("/run/sshd"));
    ownFiles();
    const quint16 port = freePort();
    if (port == 0) {
        setReason(reason, QStringLiteral("no free port for sshd"));
        return false;
    }
    const QString config = QStringLiteral("Port %1\n"
                                          "ListenAddress 127.0.0.1\n"
                                          "HostKey %2\n"
                                          "PidFile none\n"
                                          "UsePAM no\n"
                                          "PasswordAuthentication yes\n"
                                          "KbdInteractiveAuthentication no\n"
                                          "PubkeyAuthentication no\n"
                                          "AuthorizedKeysFile none\n"
                                          "PermitRootLogin no\n"
                                          "AllowUsers %3\n"
                                          "StrictModes no\n"
                                          "Subsystem sftp internal-sftp\n"
                                          "ForceCommand internal-sftp -d %4\n")
                               .arg(port)
                               .arg(workDir_->filePath(QStringLiteral("hostkey")),
                                    QLatin1String(kSshUser), dir_->path());
    const QString configPath = workDir_->filePath(QStringLiteral("sshd_config"));
    QFile configFile(configPath);
    if (!configFile.open(QIODevice::WriteOnly) || configFile.write(config.toUtf8()) < 0) {
        setReason(reason, QStringLiteral("cannot write the sshd configuration"));
        return false;
    }
    configFile.close();
    return startWatched(
        QString::fromLatin1(kSshd),
        {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), configPath}, port,
        reason);
}

void FtpTestServer::ownFiles() {
    if (kind_ != Kind::OpenSshSftp || !dir_)
        return;
    runTool(QStringLiteral("/bin/chown"),
            {QStringLiteral("-R"), QLatin1String(kSshUser) + QLatin1Char(':'), dir_->path()},
            nullptr);
}

void FtpTestServer::stop() {
    if (process_) {
        process_->closeWriteChannel();
        if (process_->waitForFinished(5000))
            process_.reset();
    }
    if (process_) {
        process_->terminate();
        if (!process_->waitForFinished(5000)) {
            process_->kill();
            process_->waitForFinished(5000);
        }
        process_.reset();
    }
    port_ = 0;
}

QString FtpTestServer::hostText() const {
    if (kind_ == Kind::RcloneSftp || kind_ == Kind::OpenSshSftp)
        return QStringLiteral("sftp://") + host();
    switch (options_.tls) {
    case Tls::Explicit:
        return QStringLiteral("ftpes://") + host();
    case Tls::Implicit:
        return QStringLiteral("ftps://") + host();
    case Tls::None:
        break;
    }
    return host();
}

QString FtpTestServer::remoteRoot() const {
    if (kind_ == Kind::OpenSshSftp)
        return rootPath() + QLatin1Char('/');
    return QStringLiteral("/");
}

QByteArray FtpTestServer::certificatePem() const {
    if (!workDir_)
        return {};
    QFile f(workDir_->filePath(QStringLiteral("server.crt")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray FtpTestServer::hostKeyBlob() const {
    if (!workDir_)
        return {};
    QFile f(workDir_->filePath(QStringLiteral("hostkey.pub")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> fields = f.readAll().simplified().split(' ');
    return fields.size() >= 2 ? QByteArray::fromBase64(fields[1]) : QByteArray();
}

QString FtpTestServer::user() const {
    return kind_ == Kind::OpenSshSftp ? QLatin1String(kSshUser) : QStringLiteral("user");
}
QString FtpTestServer::password() const {
    return password_;
}
QString FtpTestServer::rootPath() const {
    return dir_ ? dir_->path() : QString();
}

void FtpTestServer::addFault(const Fault& fault) {
    faults_.append(fault);
    faultIds_.append(nextFaultId_++);
    writeFaults();
}

void FtpTestServer::clearFaults() {
    faults_.clear();
    faultIds_.clear();
    writeFaults();
}

void FtpTestServer::writeFaults() {
    if (!workDir_)
        return;
    QJsonArray list;
    // Ids let the server count firings per fault, so a rewritten file does
    // not reset the faults that already fired.
    for (qsizetype i = 0; i < faults_.size(); ++i) {
        const Fault& f = faults_[i];
        QJsonObject o;
        o[QStringLiteral("id")] = faultIds_[i];
        o[QStringLiteral("command")] = f.command.toUpper();
        o[QStringLiteral("action")] = f.action;
        o[QStringLiteral("afterBytes")] = double(f.afterBytes);
        o[QStringLiteral("delayMs")] = f.delayMs;
        o[QStringLiteral("count")] = f.count;
        o[QStringLiteral("pathContains")] = f.pathContains;
        o[QStringLiteral("bytesPerSecond")] = double(f.bytesPerSecond);
        o[QStringLiteral("fromConnection")] = f.fromConnection;
        o[QStringLiteral("untilConnection")] = f.untilConnection;
        list.append(o);
    }
    QSaveFile file(workDir_->filePath(QStringLiteral("faults.json")));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(list).toJson(QJsonDocument::Compact));
        file.commit();
    }
}

QList<QByteArray> FtpTestServer::commandLog() const {
    if (!workDir_)
        return {};
    QFile file(workDir_->filePath(QStringLiteral("commands.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QList<bool> FtpTestServer::dataConnectionsResumed() const {
    QList<bool> resumed;
    if (!workDir_)
        return resumed;
    QFile file(workDir_->filePath(QStringLiteral("vsftpd.log")));
    if (!file.open(QIODevice::ReadOnly))
        return resumed;
    // "[pid 12] [user] DEBUG: Client "127.0.0.1", "SSL version: TLSv1.2, SSL
    // cipher: ..., reused, no cert"", or "not reused". Handshakes after the
    // log-in, which name the user, are those of data connections.
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.contains("SSL version:") || !line.contains("] [" + user().toUtf8() + "] "))
            continue;
        resumed.append(!line.contains(", not reused"));
    }
    return resumed;
}

quint16 FtpTestServer::freeLoopbackPort() {
    return freePort();
}

int FtpTestServer::openControlConnections() const {
    // Lines read "sl local_address rem_address st ...", addresses as hex
    // "ADDR:PORT"; state 01 is ESTABLISHED. The client's end of a control
    // connection is the one whose remote port is the server's.
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    const QByteArray port = QByteArray::number(port_, 16).toUpper().rightJustified(4, '0');
    table.readLine();
    for (QByteArray line = table.readLine(); !line.isEmpty(); line = table.readLine()) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[2].endsWith(':' + port) && fields[3] == "01")
            ++count;
    }
    return count;
}
