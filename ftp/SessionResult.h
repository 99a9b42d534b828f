#pragma once

#include "core/Expected.h"

#include <QString>

// What went wrong with an operation on a server, in terms a caller can act
// on: a refusal is the server's answer and will be the same next time; a lost
// connection or a silent server says nothing about the file, and a fresh
// log-in may well carry the operation out.
enum class FailureKind {
    // The server answered the command with a refusal of its own (replyCode and
    // text hold its reply; over SFTP the code is 0).
    Refused,
    // The connection could not be made, broke, or the server closed it ("421").
    ConnectionLost,
    // The server stopped answering for longer than it may.
    TimedOut,
    // An answer the program cannot work with.
    Protocol,
    // TLS or SSH: a handshake, certificate or host key that failed.
    Secure,
    // A name that cannot reach the server as itself (line ends, NUL, 0xFF, a
    // text no stored name can hold).
    BadName,
    // A failure on this machine.
    Local,
    // Given up on the user's word: the window was closed meanwhile.
    Cancelled,
    // No logged-in session to work over.
    NotConnected,
};

struct Failure {
    FailureKind kind = FailureKind::Protocol;
    int replyCode = 0;
    QString text;

    // A failure that says nothing about the server's rules: another try over
    // a fresh log-in may work.
    bool isConnectionProblem() const {
        return kind == FailureKind::ConnectionLost || kind == FailureKind::TimedOut;
    }
    // One line for a message or the transcript: the kind, the reply code and
    // the text.
    QString describe() const;
};

// The value of an operation, or the failure that kept it from one. A plain
// `Result<>` says only whether the operation was carried out.
template <typename T = void> class Result : public Expected<T, Failure> {
public:
    using Expected<T, Failure>::Expected;

    const Failure& failure() const { return this->error(); }
    bool is(FailureKind kind) const { return !this->ok() && failure().kind == kind; }
};
