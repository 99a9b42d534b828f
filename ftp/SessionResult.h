#pragma once

#include <QString>

#include <optional>
#include <utility>

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
template <typename T = void> class Result {
public:
    using Value = T;

    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : failure_(std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return *value_; }
    T& value() & { return *value_; }
    T&& value() && { return std::move(*value_); }
    const T& operator*() const& { return *value_; }
    T& operator*() & { return *value_; }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }

    // Only for a result that is not ok().
    const Failure& failure() const { return failure_; }
    bool is(FailureKind kind) const { return !ok() && failure_.kind == kind; }

private:
    std::optional<T> value_;
    Failure failure_;
};

template <> class Result<void> {
public:
    // What a successful result holds: nothing.
    struct Value {};
    Result(Value) {}

    Result() = default;
    Result(Failure failure) : ok_(false), failure_(std::move(failure)) {}

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const Failure& failure() const { return failure_; }
    bool is(FailureKind kind) const { return !ok_ && failure_.kind == kind; }

private:
    bool ok_ = true;
    Failure failure_;
};
