#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

#include <curl/curl.h>

#include "ftp/ListingParsers.h"

// One logged-in FTP control connection, kept open across operations: every
// operation runs on the same libcurl easy handle inside a private multi
// handle, whose connection cache keeps the log-in alive between them.
// Private to the FTP layer (it exposes libcurl). Paths are raw bytes for the server, absolute
// ("/a/b") or relative to the log-in folder.
class FtpSession {
public:
    FtpSession();
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // hostForUrl: a checked host name, IPv6 literals in brackets.
    bool logIn(const QByteArray& hostForUrl, quint16 port, const QByteArray& user,
               const QByteArray& password);

    // The entries of a folder, or nothing when it cannot be listed.
    std::optional<QList<RemoteEntry>> list(const QByteArray& folder);

    // The server's reply code to a command outside a transfer (0 when none
    // arrived). The argument must be checked for control bytes by the caller.
    int command(const QByteArray& verb, const QByteArray& argument);

    QByteArray absolutePath(const QByteArray& path) const;
    QByteArray entryPath() const { return entryPath_; }
    bool isAlive();

    bool uploadActive() const { return upload_.active; }
    bool beginUpload(const QByteArray& path);
    bool writeUpload(const char* data, qsizetype size);
    bool finishUpload();
    void abortUpload();

private:
    struct Reply {
        QByteArray command;
        int code = 0;
        QList<QByteArray> lines;
    };
    struct Upload {
        bool active = false;
        bool started = false; // the server accepted STOR: curl asked for data
        bool paused = false;
        bool finishing = false;
        bool done = false;
        int result = 0;
        // Filled up to `filled`, handed to curl from `offset`; allocated once
        // per upload so that small writes cost a copy and nothing more.
        std::vector<char> buffer;
        qsizetype filled = 0;
        qsizetype offset = 0;
    };

    static int onDebug(CURL* easy, curl_infotype type, char* data, size_t size, void* self);
    static size_t onWrite(char* data, size_t size, size_t count, void* self);
    static size_t onRead(char* data, size_t size, size_t count, void* self);

    void resetOptions();
    QByteArray urlFor(const QByteArray& path) const;
    int perform();
    template <typename Done> bool drive(Done done);
    bool flushUpload();
    const Reply* replyTo(const QByteArray& command) const;

    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    bool inMulti_ = false;
    QByteArray baseUrl_;
    QByteArray entryPath_;
    bool mlsd_ = false;
    QList<Reply> replies_;
    QByteArray received_;
    bool receiveOverflow_ = false;
    Upload upload_;
    bool lastFailed_ = false;
};
