#pragma once

#include "ftp/ConnectionSettings.h"
#include "ftp/wininet.h"

#include <QString>

#include <memory>

// The port text as a port: rounded to the nearest whole number, halves to the
// even one; 0 to 65535 (0 means 21). Throws VbError "Type mismatch" for a text
// that is not a number (or is empty) and "Overflow" outside that range.
quint16 ConvertPortText(const QString& portText);

// One FTP session: an internet handle and the logged-in connection handle
// opened over it, owned together. The handles keep the names the program has
// always given them (hInternet, hConnect); 0 means none. Whatever the session
// holds is closed in one place: close(), called by the destructor and before
// the session is opened again, so no handle is ever left open unreferenced or
// used after it was closed.
//
// Opening happens in two steps, as every opener reports them separately:
// openInternet(), then connect(). A run that wants more connections opens
// them with openAnother(), which logs in with the same settings.
class Session {
public:
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    HINTERNET hInternet() const { return hInternet_; }
    HINTERNET hConnect() const { return hConnect_; }
    // True while a logged-in connection is held.
    bool isConnected() const { return hConnect_ != 0; }

    // Closes what the session held, then opens a new internet handle with the
    // program's fixed arguments. Answers whether it got one.
    bool openInternet();
    // Connects and logs in over the internet handle (passive mode). Throws
    // VbError when the port text cannot be converted: nothing is sent then and
    // hConnect stays 0. Answers whether the server accepted the log-in.
    bool connect(const ConnectionSettings& settings);
    // Closes the connection handle, then the internet handle, each if open.
    void close();
    // Closes the internet handle alone, after a refused connect.
    void closeInternet();

    // The settings of the last connect().
    const ConnectionSettings& settings() const { return settings_; }

    // A new session logged in with the same settings, or nullptr when it
    // cannot be opened. Never throws.
    std::unique_ptr<Session> openAnother() const;

    // The operations of the runs, over hConnect (see wininet.h for their
    // answers). Each fails like the platform call when nothing is connected.
    HINTERNET findFirstFile(const QString& pattern, WIN32_FIND_DATAA* data) const;
    bool currentDirectory(QString* directory) const;
    HINTERNET openUpload(const QString& remotePath) const;
    bool createDirectory(const QString& remotePath) const;
    bool deleteFile(const QString& remotePath) const;
    bool renameFile(const QString& remotePath, const QString& newPath) const;
    bool fileExists(const QString& remotePath) const;
    // See FtpSendCommandsTogether.
    void sendCommandsTogether(bool on) const;

private:
    HINTERNET hInternet_ = 0;
    HINTERNET hConnect_ = 0;
    ConnectionSettings settings_;
};
