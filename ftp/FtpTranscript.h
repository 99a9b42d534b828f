#pragma once

#include "ftp/ConnectionSettings.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

// The FTP transcript: every command sent and every reply line received, each
// with a timestamp, libcurl's verdict when a transfer fails, and one line at
// the start and at the end of each compare and sync run. The password never
// appears: PASS is written as "PASS ******" and the runs leave it out.
//
// Off by default. On through the logging category "pellmor.ftp" at debug level
// (QT_LOGGING_RULES="pellmor.ftp.debug=true"), or through the environment
// variable PELLMOR_FTP_LOG: "1" turns the category on, any other text is a file
// that the lines are appended to instead. The variable is read as lines are
// written, so it may change while the program runs.
Q_DECLARE_LOGGING_CATEGORY(lcFtp)

namespace FtpTranscript {

// Whether lines are written at all (cheap; callers test it before building a
// line).
bool enabled();

// A command line as sent (a PASS line is masked here) and a reply line as
// received, both without their line ending. connection numbers the connection
// in the order the program opened them, so that the lines of several at once
// can be told apart ("#2 > STOR ...").
void sent(const QByteArray& line, int connection);
void received(const QByteArray& line, int connection);

// A transfer that libcurl ended with an error: its result code and text.
void failure(int code, const char* text, int connection);

// A note of the program's own about a connection ("trying again ...").
void note(const QString& text, int connection);

// Writes the start line of a run when made and its end line when destroyed,
// whichever way the run leaves. run names it ("compare", "sync").
class RunScope {
public:
    RunScope(const char* run, const ConnectionSettings& settings, const QString& remoteFolder,
             const QString& localFolder);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    const char* run_;
};

} // namespace FtpTranscript
