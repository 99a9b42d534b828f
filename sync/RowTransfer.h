#pragma once

#include "compare/RowKind.h"
#include "core/ErrorTrap.h"
#include "ftp/Session.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

class RemoteUpload;
class RowSink;
class SyncRunState;

// The work of one ticked row of a sync run over one session: the delete of a
// remote file, or the upload of a local file under a temporary name that takes
// the real name once the server has all of it. Progress, messages and error
// reports go to the sink; what the run has learnt about the server is shared
// through the state. One object serves one thread at a time.
class RowTransfer {
public:
    enum class Outcome {
        Done,
        Fail,
        // The server would not create the remote file: the run stops, and the
        // row keeps its text. The run shows the message.
        Stop,
    };

    // A row as the run read it from the list.
    struct Row {
        int index = 0;
        RowKind kind = RowKind::Upload;
        QString source;
        QString destination;
        // The remote path the row changes.
        QString remotePath() const { return kind == RowKind::Delete ? source : destination; }
    };

    // Whether other sessions work for the same run. A shared one makes sure
    // that its session still answers before it takes a refusal for the
    // server's rule, which the other sessions would then follow.
    enum class Sharing { Alone, Shared };

    RowTransfer(const Session& session, SyncRunState& state, RowSink& sink,
                Sharing sharing = Sharing::Alone);
    RowTransfer(const RowTransfer&) = delete;
    RowTransfer& operator=(const RowTransfer&) = delete;

    Outcome carryOut(const Row& row);

    const Session& session() const { return session_; }

private:
    class RemoteFile;

    Outcome deleteRow(const Row& row);
    Outcome uploadRow(const Row& row);
    void stampTime(const QString& remotePath, qint64 modified);
    using Opened = Result<std::unique_ptr<RemoteUpload>>;
    Opened openRemote(const QString& remotePath, const QString& target);
    // Sends the file from where it stands. On a lost connection before the
    // last try, sets *lost and leaves the file open and the remote copy as it
    // is, for another try.
    Outcome send(int row, QFile& file, RemoteFile& remote, const QString& localPath, bool lastTry,
                 bool* lost);
    // Sends the file over the opened upload, again from the start over a
    // fresh log-in where the connection broke on the way.
    Outcome sendWithRetries(int row, QFile& file, std::unique_ptr<RemoteUpload> upload,
                            const QString& localPath);
    Outcome moveIntoPlace(int row, QFile& file, const QString& temporary, const QString& remotePath,
                          const QString& localPath);
    bool createFolders(const QString& remotePath, bool again);
    Result<> waitForLine(RemoteUpload& upload, qint64 target);

    const Session& session_;
    SyncRunState& state_;
    RowSink& sink_;
    Sharing sharing_;
    ErrorTrap trap_;
    QByteArray buffer_;
};
