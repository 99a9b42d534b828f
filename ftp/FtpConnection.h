#pragma once

#include "ftp/CurlTransfer.h"
#include "ftp/HostAddress.h"
#include "ftp/ListingParsers.h"
#include "ftp/ServerFeatures.h"
#include "ftp/SessionResult.h"
#include "ftp/UploadStream.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

#include <functional>

#include <optional>

// One logged-in connection to a server and what the program does over it,
// in the server's terms: paths are the bytes the server gets, absolute ("/a/b")
// or relative to the log-in folder. The protocol (plain FTP, FTP over TLS,
// SFTP) is chosen at the log-in and stays inside: callers see the same
// operations for each. Every operation runs on the one transfer driver, so the
// log-in is kept between them; after a lost connection the next operation
// logs in afresh. Used by one thread at a time. Private to the FTP layer,
// beneath Session.
class FtpConnection {
public:
    FtpConnection();
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    bool isUsable() const { return transfer_.isUsable(); }
    // This connection's number in the transcript.
    int number() const { return transfer_.number(); }

    // Asks through the message seam when the server's certificate or host key
    // needs the user's word.
    Result<> logIn(const HostAddress& address, const QByteArray& user, const QByteArray& password);

    // The entries of a folder, and the lines no parser could read.
    // Entries without a time where the server lists facts and `withTimes`
    // is false.
    Result<ParsedListing> list(const QByteArray& folder, bool withTimes = true);

    Result<> makeDirectory(const QByteArray& path);
    Result<> deleteFile(const QByteArray& path);
    // False only when the server says there is no such file.
    Result<bool> fileExists(const QByteArray& path);
    // Gives a file a new name (RNFR and RNTO, or the SFTP rename).
    Result<> rename(const QByteArray& from, const QByteArray& to);
    // Whether the connection still answers (NOOP, or an SFTP round trip).
    Result<> checkAlive();

    // Lets go of the connection, whatever its state: the next operation logs
    // in afresh.
    void forgetConnection() { transfer_.forgetConnection(); }

    QByteArray absolutePath(const QByteArray& path) const;
    QByteArray entryPath() const { return entryPath_; }

    // Lets the commands of a pair (the rename) go out in one write where the
    // connection and the server allow it, which saves a round trip per pair.
    // Off unless set; the server is tried once per connection.
    void setSendTogether(bool on);

    // The modification time the server keeps for a file, in UTC to the second
    // (MDTM; over SFTP the file's attributes); an invalid time when the server
    // tells no times.
    Result<QDateTime> modifiedTime(const QByteArray& path);
    // Sets a file's modification time (UTC, whole seconds) by the first of
    // MFMT, "MDTM time path", SITE UTIME (both forms) that the server takes,
    // or over SFTP by its attributes. False when it takes none of them, which
    // is then remembered for the connection.
    Result<bool> setModifiedTime(const QByteArray& path, const QDateTime& utc);
    // Whether FEAT offered MFMT.
    bool announcesTimeSetting() const { return features_.mfmt; }
    // The strongest hash the server computes and how to ask for it: from FEAT,
    // else each X command asked once without a file. None over SFTP.
    Result<HashMethod> hashMethod();
    // A file's hash by that method, in lower-case hex.
    Result<QByteArray> hashOf(const QByteArray& path, const HashMethod& method);

    // Starts an upload to an absolute path; the stream then takes its bytes.
    Result<> beginUpload(const QByteArray& path);
    UploadStream& upload() { return upload_; }

private:
    int attemptLogIn();
    // Sends FTP commands, one after another, outside any transfer and without
    // changing folder; the replies are in the channel.
    int performCommands(const QList<QByteArray>& commands);
    // The reply code to one FTP command outside a transfer.
    Result<int> command(const QByteArray& verb, const QByteArray& argument);
    // One FTP command whose reply code `accepted` takes for success; any
    // other reply is a refusal.
    Result<> commandAnswered(const QByteArray& verb, const QByteArray& argument,
                             const std::function<bool(int)>& accepted);
    // A refusal made of the reply to this command.
    Failure refusal(const QByteArray& command) const;
    int sftpQuote(const QByteArray& line);
    Result<> sftpOutcome(int result) const;
    bool isSftp() const { return transfer_.isSftp(); }
    bool canSendTogether();
    Result<> sendTogether(const QList<QByteArray>& commands, qint64 limitMs);
    // Fails while an upload is under way; after the connection was let go,
    // tells the next one what the log-in told the first.
    Result<> ready();
    // The whole reply to one FTP command outside a transfer.
    Result<ControlChannel::Reply> ask(const QByteArray& line);
    // Has the server list the facts a listing reads (with or without times)
    // where it lists others now.
    Result<> askForFacts(bool withTimes);

    CurlTransfer transfer_;
    UploadStream upload_{transfer_};
    QByteArray entryPath_;
    bool mlsd_ = false;
    // Whether the server offers UTF8 (and is told at every log-in).
    bool utf8_ = false;
    // The MLST facts the server offers, those it lists at log-in, and those
    // it lists now.
    QByteArray mlstOffered_;
    QByteArray mlstByDefault_;
    QByteArray mlstListed_;
    // The transfer's count of connections let go at the last log-in.
    int settledAt_ = 0;
    ServerFeatures features_;
    enum class TimeSetter { Unknown, Mfmt, MdtmWrite, SiteUtime, SiteUtimeLong, Attributes, None };
    TimeSetter timeSetter_ = TimeSetter::Unknown;
    bool mdtmOffered_ = true;
    std::optional<HashMethod> hashMethod_;
    // The algorithm HASH uses on this connection.
    HashAlgorithm hashSelected_ = HashAlgorithm::None;
    enum class Together { Off, Untried, Works };
    Together together_ = Together::Off;
};
