#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

namespace QKeychain {
class Job;
}

// Where the FTP password is kept: in the desktop's keyring (the Secret Service,
// or KWallet on KDE), one entry per server account under the key the caller
// names (see ftp/PasswordKey.h), or, where no keyring answers, in the settings
// file as the key "Password" of the section, which the file keeps readable by
// its owner only.
//
// The window opens one store at start-up; that decides where its passwords go
// for the whole run. Edits are stored without waiting for the keyring. A
// keyring that does not answer within a few seconds counts as none: the
// password the window holds then goes to the file, and place() says so from
// then on. Nothing here ever deletes an entry of the keyring.
//
// PELLMOR_NO_KEYRING=1 in the environment keeps the keyring out altogether:
// the password stays in the file, as where none answers.
class PasswordStore : public QObject {
    Q_OBJECT
public:
    enum class Place { Keyring, File };

    // How long a call waits for the keyring before it counts as absent.
    static constexpr int kAnswerMs = 5000;

    PasswordStore(const QString& appName, const QString& section, QObject* parent = nullptr);
    ~PasswordStore() override;
    PasswordStore(const PasswordStore&) = delete;
    PasswordStore& operator=(const PasswordStore&) = delete;

    // Asks the keyring whether it answers, waiting at most kAnswerMs. A
    // password the file still holds belongs to the server the stored settings
    // name (storedKey); it is moved into the keyring under that key and taken
    // out of the file once the keyring has it. Until open() the store keeps
    // passwords in the file.
    void open(const QString& storedKey);

    Place place() const { return place_; }
    // Where the password is kept, for the user, when that is the file; empty
    // while the keyring keeps it.
    QString notice() const;

    // The password stored for the server: the keyring's (empty when it holds
    // none), or the file's. May wait for the keyring as open() does.
    QString password(const QString& key);

    // The password box changed while it names this server: stored at once,
    // replacing what the keyring held for the server.
    void setPassword(const QString& key, const QString& password);

    // The server boxes changed and the password box kept its text: stored for
    // the server they now name, unless the keyring holds a password for it
    // already, which stays as it is.
    void keepFor(const QString& key, const QString& password);

    // Waits, at most twice kAnswerMs, until the keyring has every edit; what
    // it has not taken by then goes to the file.
    void finishWrites();

    // For the command line, which never stores: what the window would show
    // for the server. That is the file's password where the file holds one
    // and names this server (storedKey): a keyring took none of it, so it is
    // the newest. Otherwise the keyring's, else the file's.
    static QString lookUp(const QString& appName, const QString& section, const QString& key,
                          const QString& storedKey);

signals:
    // The keyring stopped answering: the password is in the file from now on.
    void movedToFile();

private:
    struct Write {
        QString key;
        QString password;
        // Only where the keyring holds nothing for the key yet.
        bool onlyIfAbsent = false;
    };

    // What this run knows of the keyring: a password, or known to be absent.
    std::optional<std::optional<QString>> known(const QString& key) const;
    Write* queued(const QString& key);
    void enqueue(const Write& write);
    void startNext();
    void startWriteJob(const Write& write);
    void finished(quint64 generation, QKeychain::Job* job);
    void fallBackToFile();
    void saveToFile(const QString& password);

    QString appName_;
    QString section_;
    Place place_ = Place::File;
    QHash<QString, std::optional<QString>> known_;
    QList<Write> queue_;
    std::optional<Write> flying_;
    // Results of jobs from before a time-out or a fall-back are ignored.
    quint64 generation_ = 0;
    QTimer flightTimeout_;
    // The password box's text as last handed in.
    std::optional<QString> current_;
    bool asked_ = false;
    bool turnedOff_ = false;
};
