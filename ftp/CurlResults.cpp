#include "ftp/CurlResults.h"

#include <curl/curl.h>

namespace CurlResults {

Failure failureOf(int result, const ControlChannel& channel, const char* errorText) {
    Failure failure;
    failure.text =
        QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(CURLcode(result)));
    // "421": the server is closing the connection, whatever libcurl made of it.
    if (const ControlChannel::Reply* closing = channel.serverClosing()) {
        failure.kind = FailureKind::ConnectionLost;
        failure.replyCode = 421;
        failure.text = QString::fromUtf8(closing->text());
        return failure;
    }
    switch (result) {
    // The server refused with a reply of its own; the exchange is complete.
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_UPLOAD_FAILED:
    case CURLE_QUOTE_ERROR:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_LOGIN_DENIED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
        failure.kind = FailureKind::Refused;
        if (const ControlChannel::Reply* refusal = channel.lastRefusal()) {
            failure.replyCode = refusal->code;
            failure.text = QString::fromUtf8(refusal->text());
            // "425", "426": the data connection could not be opened or broke,
            // which says nothing about the file.
            if (refusal->code == 425 || refusal->code == 426)
                failure.kind = FailureKind::ConnectionLost;
        }
        return failure;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        failure.kind = FailureKind::TimedOut;
        return failure;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_PORT_FAILED:
        failure.kind = FailureKind::ConnectionLost;
        return failure;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSH:
        failure.kind = FailureKind::Secure;
        return failure;
    case CURLE_ABORTED_BY_CALLBACK:
        failure.kind = FailureKind::Cancelled;
        return failure;
    case CURLE_OUT_OF_MEMORY:
    case CURLE_READ_ERROR:
    case CURLE_FAILED_INIT:
        failure.kind = FailureKind::Local;
        return failure;
    default:
        failure.kind = FailureKind::Protocol;
        return failure;
    }
}

bool leavesControlOutOfStep(int result) {
    switch (result) {
    // A data connection that could not be set up: when it fails after the
    // next command went out, curl keeps the control connection, and every
    // later command would be answered with the reply to the one before.
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_FTP_WEIRD_SERVER_REPLY:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return true;
    default:
        return false;
    }
}

} // namespace CurlResults
