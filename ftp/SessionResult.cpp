#include "ftp/SessionResult.h"

namespace {

QString kindText(FailureKind kind) {
    switch (kind) {
    case FailureKind::Refused:
        return QStringLiteral("refused by the server");
    case FailureKind::ConnectionLost:
        return QStringLiteral("the connection was lost");
    case FailureKind::TimedOut:
        return QStringLiteral("the server stopped answering");
    case FailureKind::Protocol:
        return QStringLiteral("the server's answer could not be understood");
    case FailureKind::Secure:
        return QStringLiteral("the secure connection failed");
    case FailureKind::BadName:
        return QStringLiteral("the name cannot be sent to the server");
    case FailureKind::Local:
        return QStringLiteral("a local error");
    case FailureKind::Cancelled:
        return QStringLiteral("cancelled");
    case FailureKind::NotConnected:
        return QStringLiteral("not connected");
    }
    return {};
}

} // namespace

QString Failure::describe() const {
    QString line = kindText(kind);
    if (replyCode != 0 && !text.isEmpty())
        line += QStringLiteral(": %1").arg(text);
    else if (replyCode != 0)
        line += QStringLiteral(" (%1)").arg(replyCode);
    else if (!text.isEmpty())
        line += QStringLiteral(": ") + text;
    return line;
}
