#include "ftp/ControlChannel.h"

#include "ftp/FtpTranscript.h"

#include <QDeadlineTimer>

#include <cctype>
#include <cerrno>

#include <poll.h>
#include <sys/socket.h>

namespace {

// Bounds on a reply read by this program rather than by libcurl.
constexpr qsizetype kMaxReplyBytes = 64 * 1024;
constexpr qsizetype kMaxReplyLines = 1000;

bool isFinalReplyLine(const QByteArray& line) {
    return line.size() >= 3 && std::isdigit(quint8(line[0])) && std::isdigit(quint8(line[1])) &&
           std::isdigit(quint8(line[2])) && (line.size() == 3 || line[3] == ' ');
}

// Waits until the socket is ready for `events`; false once the deadline has
// passed or the wait failed.
bool waitForSocket(int sock, short events, const QDeadlineTimer& deadline) {
    for (;;) {
        if (deadline.hasExpired())
            return false;
        pollfd p{sock, events, 0};
        const int n = ::poll(&p, 1, int(deadline.remainingTime()));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// Writes all of `bytes` to a non-blocking socket before the deadline.
bool sendAll(int sock, const QByteArray& bytes, const QDeadlineTimer& deadline) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(sock, bytes.constData() + sent, size_t(bytes.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            sent += n;
        else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        else if (!waitForSocket(sock, POLLOUT, deadline))
            return false;
    }
    return true;
}

// Appends what the socket has (waiting for something until the deadline);
// false when the connection closed, failed or stayed silent.
bool receiveSome(int sock, QByteArray* into, const QDeadlineTimer& deadline) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(sock, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            into->append(chunk, n);
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        if (!waitForSocket(sock, POLLIN, deadline))
            return false;
    }
}

} // namespace

bool ControlChannel::Reply::take(const QByteArray& line) {
    lines.append(line);
    // A reply of several lines ends with its code and a blank.
    if (!isFinalReplyLine(line) || (lines.size() > 1 && line.left(3) != lines[0].left(3)))
        return false;
    code = line.left(3).toInt();
    return true;
}

QByteArray ControlChannel::Reply::text() const {
    return lines.join(' ');
}

void ControlChannel::noteSent(const QByteArray& line) {
    FtpTranscript::sent(line, connection_);
    replies_.append({line, 0, {}});
}

void ControlChannel::noteReceived(const QByteArray& line) {
    FtpTranscript::received(line, connection_);
    if (replies_.isEmpty() || replies_.last().code != 0)
        replies_.append({QByteArray(), 0, {}});
    replies_.last().take(line);
}

const ControlChannel::Reply* ControlChannel::replyTo(const QByteArray& command) const {
    for (qsizetype i = replies_.size() - 1; i >= 0; --i) {
        if (replies_[i].command == command)
            return &replies_[i];
    }
    return nullptr;
}

const ControlChannel::Reply* ControlChannel::lastRefusal() const {
    for (qsizetype i = replies_.size() - 1; i >= 0; --i) {
        if (replies_[i].code >= 400)
            return &replies_[i];
    }
    return nullptr;
}

const ControlChannel::Reply* ControlChannel::serverClosing() const {
    for (const Reply& reply : replies_) {
        if (reply.code == 421)
            return &reply;
    }
    return nullptr;
}

bool ControlChannel::hasUnread(int socket) {
    // Anything the server sent unasked (a "421" before it closes an idle
    // connection, the close itself) shows as readable.
    pollfd p{socket, POLLIN, 0};
    return ::poll(&p, 1, 0) != 0;
}

bool ControlChannel::sendTogether(int sock, const QList<QByteArray>& commands, qint64 limitMs,
                                  const char** why) {
    replies_.clear();
    QByteArray out;
    for (const QByteArray& command : commands) {
        out.append(command);
        out.append("\r\n");
        noteSent(command);
    }
    const QDeadlineTimer deadline(limitMs);
    if (!sendAll(sock, out, deadline)) {
        *why = "the commands could not be sent";
        return false;
    }
    QByteArray in;
    qsizetype answered = 0;
    while (answered < commands.size()) {
        const qsizetype end = in.indexOf('\n');
        if (end < 0) {
            if (in.size() > kMaxReplyBytes) {
                *why = "a reply went on without end";
                return false;
            }
            if (!receiveSome(sock, &in, deadline)) {
                *why = "the replies did not come";
                return false;
            }
            continue;
        }
        QByteArray line = in.left(end);
        in.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        FtpTranscript::received(line, connection_);
        if (replies_[answered].take(line)) {
            ++answered;
        } else if (replies_[answered].lines.size() > kMaxReplyLines) {
            *why = "a reply went on without end";
            return false;
        }
    }
    if (!in.isEmpty()) {
        *why = "more replies came than commands went out";
        return false;
    }
    return true;
}
