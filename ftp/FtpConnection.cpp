#include "ftp/FtpConnection.h"

#include "ftp/SecureLogIn.h"

#include <curl/curl.h>

namespace {

// How long a server may take to answer two commands sent together, the first
// time a connection tries it.
constexpr qint64 kTogetherTrialMs = 5000;
// libcurl's largest upload buffer.
constexpr long kSftpUploadBuffer = 2 * 1024 * 1024;

// A path in an SFTP quote command: in double quotes, with the quote and the
// backslash escaped, so that blanks and quotes in names survive.
QByteArray sftpQuoted(const QByteArray& path) {
    QByteArray out = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\')
            out.append('\\');
        out.append(c);
    }
    out.append('"');
    return out;
}

} // namespace

FtpConnection::FtpConnection() = default;

FtpConnection::~FtpConnection() {
    upload_.abort();
}

Result<> FtpConnection::busy() const {
    if (upload_.active())
        return Failure{FailureKind::Local, 0, QStringLiteral("an upload is under way")};
    return {};
}

int FtpConnection::attemptLogIn() {
    transfer_.resetOptions();
    const QByteArray url = transfer_.baseUrl() + '/';
    CURL* e = transfer_.easy();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    curl_slist* quote = nullptr;
    if (!isSftp()) {
        curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
        quote = curl_slist_append(nullptr, "*FEAT");
        curl_easy_setopt(e, CURLOPT_QUOTE, quote);
    }
    const int rc = transfer_.perform();
    curl_easy_setopt(e, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    return rc;
}

Result<> FtpConnection::logIn(const HostAddress& address, const QByteArray& user,
                              const QByteArray& password) {
    if (!isUsable())
        return Failure{FailureKind::Local, 0, QStringLiteral("libcurl could not start")};
    transfer_.setAddress(address);
    curl_easy_setopt(transfer_.easy(), CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(transfer_.easy(), CURLOPT_PASSWORD, password.constData());
    SecureLogIn secure(transfer_, [this] { return attemptLogIn(); });
    bool ok = false;
    if (address.usesTls())
        ok = secure.overTls();
    else if (isSftp())
        ok = secure.overSsh();
    else
        ok = attemptLogIn() == CURLE_OK;
    transfer_.trust().wantCertInfo = false;
    transfer_.trust().freshConnect = false;
    if (!ok)
        return transfer_.lastFailed()
                   ? transfer_.lastFailure()
                   : Failure{FailureKind::Secure, 0, QStringLiteral("the server is not trusted")};

    char* entry = nullptr;
    if (curl_easy_getinfo(transfer_.easy(), CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
        entryPath_ = entry;
    if (entryPath_.isEmpty())
        entryPath_ = "/";
    if (isSftp())
        return {};

    bool utf8 = false;
    if (const auto* feat = transfer_.channel().replyTo("FEAT"); feat && feat->code == 211) {
        for (const QByteArray& line : feat->lines) {
            const QByteArray f = line.trimmed().toUpper();
            if (f == "UTF8")
                utf8 = true;
            if (f == "MLSD" || f.startsWith("MLST"))
                mlsd_ = true;
        }
    }
    if (utf8) {
        // Servers that offer UTF8 may still want to be told.
        (void)command("OPTS", "UTF8 ON");
    }
    return {};
}

QByteArray FtpConnection::absolutePath(const QByteArray& path) const {
    if (path.startsWith('/'))
        return path;
    QByteArray base = entryPath_;
    if (!base.endsWith('/'))
        base.append('/');
    return base + path;
}

Result<ParsedListing> FtpConnection::list(const QByteArray& folder) {
    if (auto idle = busy(); !idle)
        return idle.failure();
    QByteArray path = folder;
    if (!path.isEmpty() && !path.endsWith('/'))
        path.append('/');
    transfer_.resetOptions();
    CURL* e = transfer_.easy();
    const QByteArray url = transfer_.urlFor(path);
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    // "-a" asks servers that hide dot files by default to show them. An SFTP
    // folder URL lists in the style of "ls -l".
    if (!isSftp())
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, mlsd_ ? "MLSD" : "LIST -a");
    const int rc = transfer_.perform();
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
    const QByteArray data = transfer_.takeReceived();
    if (rc != CURLE_OK)
        return transfer_.lastFailure();
    if (transfer_.receiveOverflowed())
        return Failure{FailureKind::Protocol, 0, QStringLiteral("the listing is too large")};
    return parseListing(data, mlsd_ ? ListingFormat::Mlsd : ListingFormat::List);
}

int FtpConnection::performCommands(const QList<QByteArray>& commands) {
    // "*": a refused command must not make curl drop the control connection;
    // the reply codes come from the reply lines instead.
    curl_slist* quote = nullptr;
    for (const QByteArray& command : commands)
        quote = curl_slist_append(quote, ('*' + command).constData());
    // The server's root, absolute: with no folder to change to, curl sends no
    // CWD around the commands (their arguments are absolute paths).
    const QByteArray url = transfer_.baseUrl() + "/%2F";
    CURL* e = transfer_.easy();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(e, CURLOPT_QUOTE, quote);
    const int rc = transfer_.perform();
    curl_easy_setopt(e, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    return rc;
}

Result<int> FtpConnection::command(const QByteArray& verb, const QByteArray& argument) {
    if (auto idle = busy(); !idle)
        return idle.failure();
    transfer_.resetOptions();
    const QByteArray cmd = argument.isEmpty() ? verb : verb + ' ' + argument;
    if (performCommands({cmd}) != CURLE_OK)
        return transfer_.lastFailure();
    const auto* reply = transfer_.channel().replyTo(cmd);
    if (!reply || reply->code == 0)
        return Failure{FailureKind::Protocol, 0, QStringLiteral("no reply to ") + verb};
    return reply->code;
}

Failure FtpConnection::refusal(const QByteArray& command) const {
    const auto* reply = transfer_.channel().replyTo(command);
    if (!reply)
        return {FailureKind::Protocol, 0, QStringLiteral("no reply")};
    // "421": the server is closing the connection, whatever the command was.
    return {reply->code == 421 ? FailureKind::ConnectionLost : FailureKind::Refused, reply->code,
            QString::fromUtf8(reply->text())};
}

int FtpConnection::sftpQuote(const QByteArray& line) {
    transfer_.resetOptions();
    curl_slist* quote = curl_slist_append(nullptr, line.constData());
    const QByteArray url = transfer_.baseUrl() + '/';
    CURL* e = transfer_.easy();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(e, CURLOPT_QUOTE, quote);
    const int rc = transfer_.perform();
    curl_easy_setopt(e, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    return rc;
}

Result<> FtpConnection::sftpOutcome(int result) const {
    if (result == CURLE_OK)
        return {};
    return transfer_.lastFailure();
}

Result<> FtpConnection::makeDirectory(const QByteArray& path) {
    if (auto idle = busy(); !idle)
        return idle;
    if (isSftp())
        return sftpOutcome(sftpQuote("mkdir " + sftpQuoted(path)));
    const auto code = command("MKD", path);
    if (!code)
        return code.failure();
    if (*code != 257)
        return refusal("MKD " + path);
    return {};
}

Result<> FtpConnection::deleteFile(const QByteArray& path) {
    if (auto idle = busy(); !idle)
        return idle;
    if (isSftp())
        return sftpOutcome(sftpQuote("rm " + sftpQuoted(path)));
    const auto code = command("DELE", path);
    if (!code)
        return code.failure();
    if (*code / 100 != 2)
        return refusal("DELE " + path);
    return {};
}

Result<bool> FtpConnection::fileExists(const QByteArray& path) {
    if (auto idle = busy(); !idle)
        return idle.failure();
    if (isSftp()) {
        transfer_.resetOptions();
        const QByteArray url = transfer_.urlFor(path);
        curl_easy_setopt(transfer_.easy(), CURLOPT_URL, url.constData());
        curl_easy_setopt(transfer_.easy(), CURLOPT_NOBODY, 1L);
        const int rc = transfer_.perform();
        if (rc == CURLE_REMOTE_FILE_NOT_FOUND)
            return false;
        if (rc != CURLE_OK)
            return transfer_.lastFailure();
        return true;
    }
    // Some servers refuse SIZE in ASCII mode, which the last listing may have
    // left on.
    (void)command("TYPE", "I");
    const auto code = command("SIZE", path);
    if (!code)
        return code.failure();
    if (*code == 421)
        return refusal("SIZE " + path);
    return *code != 550;
}

Result<> FtpConnection::rename(const QByteArray& from, const QByteArray& to) {
    if (auto idle = busy(); !idle)
        return idle;
    if (isSftp())
        return sftpOutcome(sftpQuote("rename " + sftpQuoted(from) + ' ' + sftpQuoted(to)));
    transfer_.resetOptions();
    // Both in one exchange; an RNTO after a refused RNFR is refused in turn.
    const QByteArray rnfr = "RNFR " + from;
    const QByteArray rnto = "RNTO " + to;
    if (canSendTogether()) {
        if (auto sent = sendTogether({rnfr, rnto}, CurlTransfer::kResponseTimeoutS * 1000); !sent) {
            together_ = Together::Untried; // the next connection is tried afresh
            return sent;
        }
    } else if (performCommands({rnfr, rnto}) != CURLE_OK) {
        return transfer_.lastFailure();
    }
    const auto* first = transfer_.channel().replyTo(rnfr);
    const auto* second = transfer_.channel().replyTo(rnto);
    if (!first || first->code != 350)
        return refusal(rnfr);
    if (!second || second->code / 100 != 2)
        return refusal(rnto);
    return {};
}

void FtpConnection::setSendTogether(bool on) {
    together_ = !on                            ? Together::Off
                : together_ == Together::Works ? Together::Works
                                               : Together::Untried;
}

bool FtpConnection::canSendTogether() {
    const int socket = transfer_.controlSocket();
    if (together_ == Together::Off || transfer_.address().protocol != RemoteProtocol::Ftp ||
        socket < 0 || upload_.active())
        return false;
    // Anything the server sent unasked (a "421" before it closes an idle
    // connection, the close itself) is curl's to find: it then logs in
    // afresh.
    if (ControlChannel::hasUnread(socket))
        return false;
    if (together_ == Together::Works)
        return true;
    // Some servers, and some firewalls that watch FTP, lose or refuse a
    // command sent before the reply to the one before. Two NOOPs tell, once
    // per connection: a server that does not answer both soon gets every
    // command one at a time, over a new connection (the old one may still
    // owe a reply).
    together_ = sendTogether({"NOOP", "NOOP"}, kTogetherTrialMs) ? Together::Works : Together::Off;
    return together_ == Together::Works;
}

Result<> FtpConnection::sendTogether(const QList<QByteArray>& commands, qint64 limitMs) {
    // Only on a plain connection (a TLS one is curl's to read and write) and
    // while no transfer runs, so curl has nothing in flight on it. Replies
    // that do not come, or bytes beyond them, leave the connection's state
    // unknown: it is dropped, and the next operation logs in afresh.
    const char* why = nullptr;
    if (!transfer_.channel().sendTogether(transfer_.controlSocket(), commands, limitMs, &why)) {
        transfer_.dropConnection(why);
        return transfer_.lastFailure();
    }
    transfer_.noteOutcome(true);
    return {};
}

Result<> FtpConnection::checkAlive() {
    if (auto idle = busy(); !idle)
        return idle;
    if (isSftp()) {
        transfer_.resetOptions();
        const QByteArray url = transfer_.baseUrl() + '/';
        curl_easy_setopt(transfer_.easy(), CURLOPT_URL, url.constData());
        curl_easy_setopt(transfer_.easy(), CURLOPT_NOBODY, 1L);
        return sftpOutcome(transfer_.perform());
    }
    const auto code = command("NOOP", QByteArray());
    if (!code)
        return code.failure();
    if (*code / 100 != 2)
        return refusal("NOOP");
    return {};
}

Result<> FtpConnection::beginUpload(const QByteArray& path) {
    if (auto idle = busy(); !idle)
        return idle;
    transfer_.resetOptions();
    CURL* e = transfer_.easy();
    const QByteArray url = transfer_.urlFor(path);
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    // An SFTP upload keeps in flight what one call of the SSH library was
    // handed, and the library waits for the server's answers to all of it
    // before it takes more: libcurl's default of 64 KiB left the line idle
    // between every two such rounds.
    if (isSftp())
        curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, kSftpUploadBuffer);
    // An absolute path goes with STOR as it is: no CWD before every file,
    // which costs a round trip each, and more where commands come between.
    if (path.startsWith('/'))
        curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    return upload_.begin();
}
