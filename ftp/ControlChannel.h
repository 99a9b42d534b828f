#pragma once

#include <QByteArray>
#include <QList>

// The replies on an FTP control connection, and commands sent on it without
// libcurl: libcurl sends the commands of a list one at a time, each after the
// reply to the one before, a round trip each; sent together they cost one.
//
// Replies arrive line by line, from libcurl's debug stream or read here, and
// are kept per operation: cleared when the next one starts.
class ControlChannel {
public:
    struct Reply {
        QByteArray command; // empty for a greeting or a reply nothing asked for
        int code = 0;       // 0 until the reply's last line arrived
        QList<QByteArray> lines;
        // Adds a received line; true once it ended the reply (code is set).
        bool take(const QByteArray& line);
        // The reply's text: its lines joined, without their ends.
        QByteArray text() const;
    };

    explicit ControlChannel(int connection) : connection_(connection) {}

    void clear() { replies_.clear(); }
    // A command line as sent (a PASS line masked by the caller) and a reply
    // line as received, both without their line end; both go to the
    // transcript.
    void noteSent(const QByteArray& line);
    void noteReceived(const QByteArray& line);

    const QList<Reply>& replies() const { return replies_; }
    // The last reply to this exact command line.
    const Reply* replyTo(const QByteArray& command) const;
    // The last complete reply that refused something (4xx or 5xx).
    const Reply* lastRefusal() const;
    // The reply in which the server said it is closing the connection
    // ("421"), if it did.
    const Reply* serverClosing() const;

    // Whether bytes wait unread on the socket (or it has been closed): then
    // the connection is no longer in step for commands sent together.
    static bool hasUnread(int socket);

    // Sends the commands in one write on the socket and reads their replies
    // in order, within limitMs. False, with *why, when a reply did not come,
    // went on without end, or more came than commands went out: the
    // connection's state is then unknown and the caller must drop it.
    bool sendTogether(int socket, const QList<QByteArray>& commands, qint64 limitMs,
                      const char** why);

private:
    const int connection_;
    QList<Reply> replies_;
};
