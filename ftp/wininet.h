#pragma once

// A small FTP session layer with the handle-based calls the program uses,
// built on libcurl. Handles are non-zero numbers; 0 means none. A closed or
// unknown handle is never used: every call on it fails (0 or false).
//
// Every call blocks until it completes. Connecting gives up after 20 seconds,
// a server that stops answering after 60 seconds.
//
// Texts are converted to UTF-8 for the server. A remote name whose bytes are
// not valid UTF-8 arrives with each invalid byte b escaped as the lone
// surrogate U+DC00 + b, and such a text is turned back into the same bytes
// when it is sent, so the name round-trips byte for byte.
//
// A text that would reach the server as anything but itself is never sent:
// the call fails instead. That covers line ends and NUL, and, in every call
// but a listing, byte 0xFF: servers that follow the Telnet rules of the
// control connection take it for the start of a command while others take it
// as it is, so neither the byte nor its doubled form names one file on every
// server.

#include <QString>
#include <QtGlobal>

#include <functional>

using HINTERNET = quint32;

constexpr quint32 INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr quint32 INTERNET_SERVICE_FTP = 1;
constexpr quint32 INTERNET_FLAG_RELOAD = 0x80000000u;
constexpr quint32 INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000u;
constexpr quint32 INTERNET_FLAG_PASSIVE = 0x08000000u;
constexpr quint32 GENERIC_WRITE = 0x40000000u;
constexpr quint32 FTP_TRANSFER_TYPE_BINARY = 2;
constexpr quint32 FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr quint32 FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr int MAX_PATH = 260;
constexpr quint32 ERROR_NO_MORE_FILES = 18;
// The server answered the request with a refusal of its own.
constexpr quint32 ERROR_INTERNET_EXTENDED_ERROR = 12003;

// One listing entry. Sizes are 64-bit: high and low words as the record has
// them, fileSize() joins them.
struct WIN32_FIND_DATAA {
    quint32 dwFileAttributes = 0;
    quint32 nFileSizeHigh = 0;
    quint32 nFileSizeLow = 0;
    QString cFileName;

    qint64 fileSize() const { return (qint64(nFileSizeHigh) << 32) | nFileSizeLow; }
    bool isDirectory() const { return dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY; }
    // A link: never a folder, whatever it points to; its size is what the
    // listing showed (often the length of the target's path).
    bool isLink() const { return dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT; }
};

// Starts a session object; no network traffic yet.
HINTERNET InternetOpenA(const QString& agent, quint32 accessType, const QString& proxyName,
                        const QString& proxyBypass, quint32 flags);

// Connects and logs in. The server name may name the protocol (ftp://,
// ftpes://, ftps://, sftp://; see HostAddress.h); port 0 or 21 then means the
// protocol's default port. A certificate or host key that needs the user's
// word is asked about through the message seam. Answers 0 when the server
// cannot be reached, the host text is bad, the log-in is refused or the user
// does not trust the server.
// An empty user name logs in as "anonymous", with the password "anonymous@"
// when none is given.
HINTERNET InternetConnectA(HINTERNET hInternet, const QString& serverName, quint16 port,
                           const QString& userName, const QString& password, quint32 service,
                           quint32 flags, quintptr context);

// While set, the calls of this thread call `callback` every few milliseconds
// while they wait for the server, for instance to keep a window working; a
// call gives up and fails when it answers false. The callback must not throw,
// and is not called again from within itself. An empty one unsets it.
void FtpSetWaitCallback(std::function<bool()> callback);

// Lists the folder of the pattern (a folder path followed by a name pattern
// such as "*.*"). Answers a find handle with the first entry in *data, or 0
// when there is nothing to list. Entries "." and ".." are never delivered.
// After a 0, GetLastError() tells an empty listing (ERROR_NO_MORE_FILES) from
// a folder that could not be listed.
HINTERNET FtpFindFirstFileA(HINTERNET hConnect, const QString& searchFile, WIN32_FIND_DATAA* data,
                            quint32 flags, quintptr context);
bool InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATAA* data);

// The server's current folder. Fails when the connection is unusable or the
// folder does not fit a buffer of *bufferLength characters (with its NUL).
bool FtpGetCurrentDirectoryA(HINTERNET hConnect, QString* currentDirectory, quint32* bufferLength);

// Starts an upload. Answers a file handle only once the server has accepted
// the upload, 0 when it refuses.
HINTERNET FtpOpenFileA(HINTERNET hConnect, const QString& fileName, quint32 access, quint32 flags,
                       quintptr context);

// Sends exactly the given bytes of an upload; false when they cannot be sent.
// The bytes go into a send buffer of FTP_UPLOAD_BUFFER bytes; the call waits
// only while they do not fit (see FtpDrainUpload).
bool InternetWriteFile(HINTERNET hFile, const void* buffer, quint32 numberOfBytesToWrite,
                       quint32* numberOfBytesWritten);

constexpr qint64 FTP_UPLOAD_BUFFER = 1024 * 1024;

// Lets the buffered bytes of an upload go out for at most maxWaitMs
// milliseconds, returning as soon as at most `target` bytes wait; with a
// target of 0 only once the server has acknowledged every byte written, so
// that closing the handle then waits for no more than the server's reply.
// Answers the bytes still waiting, or -1 when the upload has failed. A caller
// that must stay responsive waits in such steps, then writes no more than
// FTP_UPLOAD_BUFFER minus the answer, and InternetWriteFile does not wait.
qint64 FtpDrainUpload(HINTERNET hFile, qint64 target, int maxWaitMs);

// Gives a remote file another name; true once the server confirmed it. Where
// the new name is taken, the server decides whether it is replaced.
bool FtpRenameFileA(HINTERNET hConnect, const QString& existing, const QString& newName);

// Lets the pair of commands of a rename go out together, in one write, where
// the server copes (tried once per connection): one round trip instead of
// two. For runs that use several connections; off unless set.
bool FtpSendCommandsTogether(HINTERNET hConnect, bool on);

// Ends an upload without completing it and closes its file handle: the
// transfer is cut off. The server may keep what it received so far under the
// name the upload was opened with.
bool FtpAbortFile(HINTERNET hFile);

bool FtpCreateDirectoryA(HINTERNET hConnect, const QString& directory);
bool FtpDeleteFileA(HINTERNET hConnect, const QString& fileName);

// Closes any handle. Closing an upload's file handle completes the upload and
// answers false when the server did not confirm it. Closing a connection
// closes its open find and file handles too.
bool InternetCloseHandle(HINTERNET handle);

// Whether a remote file is (still) there, asked with SIZE. Answers false only
// when the server says there is no such file: when the question cannot be
// answered (no connection, an upload open on it, an unencodable name) the
// answer is true, the safe one for a caller checking whether a delete failed.
bool FtpFileExists(HINTERNET hConnect, const QString& path);

// Why the last failed call of this thread failed, where a caller needs to
// know: ERROR_NO_MORE_FILES for a listing that worked but held nothing;
// ERROR_INTERNET_EXTENDED_ERROR for an upload the server refused to open (as
// opposed to one whose connection failed, after which the server may already
// have created or emptied the file);
// 0 otherwise.
quint32 GetLastError();
