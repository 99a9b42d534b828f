#include "sync/RowTransfer.h"

#include "core/NameCodec.h"
#include "core/VbError.h"
#include "ftp/RemoteUpload.h"
#include "localfs/AddFolder.h"
#include "sync/RowSink.h"
#include "sync/SyncRunLines.h"
#include "sync/SyncRunState.h"
#include "sync/SyncSteps.h"

#include <QRandomGenerator>

#include <algorithm>
#include <optional>
#include <utility>

using namespace SyncRunLines;

namespace {

// The file is read and its progress reported in chunks of this size.
constexpr qint64 kChunk = 1024;
// Chunks are read and sent in blocks of this size: a system call and a library
// round per kilobyte would cap the throughput. A multiple of kChunk, so that
// the progress steps stay those of 1024-byte chunks.
constexpr qint64 kSendBlock = 256 * 1024;
// A block is written once no more than this waits to go out: enough to keep a
// fast line busy while the next block is read, little enough that the
// progress shown runs only a little ahead of the line.
constexpr qint64 kSendAhead = kSendBlock;
// The longest the run waits for a slow line before it lets the window work.
constexpr int kLineStepMs = 50;
// How often a file is sent in all when the connection breaks on the way.
constexpr int kUploadTries = 3;

VbError badFileName() {
    return VbError(52, QStringLiteral("Bad file name or number"));
}

// Whether the server verifiably no longer holds the file. The SIZE answer
// alone is not enough: some servers refuse SIZE for a file that is there (in
// ASCII mode, for one), so a listing of its folder must agree, and only a
// listing that worked can say so.
bool RemoteFileGone(const Session& session, const QString& remotePath) {
    const auto exists = session.fileExists(remotePath);
    if (!exists || *exists)
        return false;
    const auto entry = session.entryOf(remotePath);
    return entry && !entry->has_value();
}

bool RemoteIsLink(const Session& session, const QString& remotePath) {
    const auto entry = session.entryOf(remotePath);
    return entry && entry->has_value() && (*entry)->kind == RemoteEntryKind::Link;
}

} // namespace

// An upload under way, ended before the row is done however the upload ends.
// An upload that is not closed on purpose (the window was closed in the middle
// of it) is cut off, never completed, and what the server received of it is
// removed where the server still answers.
class RowTransfer::RemoteFile {
public:
    RemoteFile(const Session& session, std::unique_ptr<RemoteUpload> upload)
        : session_(session), upload_(std::move(upload)), path_(upload_->path()) {}
    ~RemoteFile() {
        if (!upload_)
            return;
        upload_.reset();
        (void)session_.deleteFile(path_);
    }
    RemoteFile(const RemoteFile&) = delete;
    RemoteFile& operator=(const RemoteFile&) = delete;

    RemoteUpload& upload() { return *upload_; }
    const QString& path() const { return path_; }
    // Succeeds once the server confirmed the upload.
    Result<> close() {
        if (!upload_)
            return Failure{FailureKind::NotConnected, 0, QStringLiteral("closed already")};
        const std::unique_ptr<RemoteUpload> upload = std::move(upload_);
        return upload->finish();
    }
    // Cuts the upload off and keeps what the server received: a try that
    // follows writes the same name again.
    void abandon() { upload_.reset(); }

private:
    const Session& session_;
    std::unique_ptr<RemoteUpload> upload_;
    QString path_;
};

RowTransfer::RowTransfer(const Session& session, SyncRunState& state, RowSink& sink,
                         Sharing sharing)
    : session_(session), state_(state), sink_(sink), sharing_(sharing),
      trap_(location(),
            [&sink](const QString& description, int line) { sink.report(description, line); }) {}

RowTransfer::Outcome RowTransfer::carryOut(const Row& row) {
    if (row.kind == RowKind::Delete)
        return deleteRow(row);
    if (!state_.stampsTimes())
        return uploadRow(row);
    // The time from before the upload: a file changed while it was read
    // then shows a later time than its remote copy, and is proposed again.
    std::optional<qint64> modified;
    try {
        modified = LocalFileStatus(row.source).modified;
    } catch (const VbError&) {
    }
    const Outcome outcome = uploadRow(row);
    if (outcome == Outcome::Done && modified)
        stampTime(row.destination, *modified);
    return outcome;
}

void RowTransfer::stampTime(const QString& remotePath, qint64 modified) {
    // A server that keeps no times still has the whole file: the row is done
    // either way, and the next compare says that times cannot decide there.
    (void)session_.setModifiedTime(remotePath, QDateTime::fromSecsSinceEpoch(modified, Qt::UTC));
}

RowTransfer::Outcome RowTransfer::deleteRow(const Row& row) {
    const QString& remotePath = row.source;
    bool gone = false;
    trap_.at(Delete, [&] {
        if (!IsSendableRemotePath(remotePath))
            throw badFileName();
        // A refused delete still counts when the file is verifiably gone (it
        // was deleted before); without an answer the row fails.
        gone = session_.deleteFile(remotePath) || RemoteFileGone(session_, remotePath);
    });
    return gone ? Outcome::Done : Outcome::Fail;
}

RowTransfer::Outcome RowTransfer::uploadRow(const Row& row) {
    const QString& localPath = row.source;
    const QString& remotePath = row.destination;

    if (!trap_.at(RemoteName, [&] {
            if (!IsSendableRemotePath(remotePath))
                throw badFileName();
        }))
        return Outcome::Fail;

    // The local file is opened before anything changes on the server, so that
    // a vanished or unreadable file leaves the remote side as it was.
    // Unbuffered: the blocks go straight into the send buffer.
    QFile file;
    if (!trap_.at(OpenLocal, [&] { OpenLocalFile(file, localPath); }))
        return Outcome::Fail;

    // The file goes up under a temporary name beside its destination and takes
    // the real name only once the server has confirmed all of it: an upload
    // that is refused, fails or is cut short leaves the old copy (or nothing)
    // under the real name, never a part.
    const QString target =
        state_.renamesRefused()
            ? remotePath
            : TemporaryUploadName(remotePath, QRandomGenerator::global()->generate());
    Opened upload = openRemote(remotePath, target);
    QString opened = target;
    if (!upload && target != remotePath && upload.is(FailureKind::Refused)) {
        // Some servers take only names they like; the real name may still do.
        // Not after a failed connection: the server may have emptied the real
        // name's file before the data came, and would do it again.
        upload = openRemote(remotePath, remotePath);
        opened = remotePath;
    }
    if (!upload)
        return Outcome::Stop;
    const Outcome outcome = sendWithRetries(row.index, file, std::move(*upload), localPath);
    if (outcome != Outcome::Done || opened == remotePath)
        return outcome;
    // The server may confirm the upload well after the window was closed: its
    // receive buffer takes the last bytes in at once, so the wait for the
    // confirmation is no step the run can be cut off in. A closed window still
    // never lets the new copy take the real name.
    try {
        sink_.yield();
    } catch (const RunAborted&) {
        (void)session_.deleteFile(opened);
        throw;
    }
    return moveIntoPlace(row.index, file, opened, remotePath, localPath);
}

RowTransfer::Opened RowTransfer::openRemote(const QString& remotePath, const QString& target) {
    bool skippedKnown = false;
    trap_.at(CreateFolder, [&] { skippedKnown = createFolders(remotePath, false); });
    // Straight onto a link, the upload would write through it into the file
    // it points to, which no row named: the link itself goes first.
    if (target == remotePath)
        trap_.at(OpenRemote, [&] {
            if (RemoteIsLink(session_, remotePath))
                (void)session_.deleteFile(remotePath);
        });
    Opened upload = Failure{FailureKind::Local, 0, QStringLiteral("the upload was not opened")};
    const auto open = [&] { upload = session_.openUpload(target); };
    trap_.at(OpenRemote, open);
    if (!upload && skippedKnown) {
        // A folder this run created earlier may have gone since; make sure of
        // every level once before giving up.
        trap_.at(CreateFolder, [&] { createFolders(remotePath, true); });
        trap_.at(OpenRemote, open);
    }
    return upload;
}

RowTransfer::Outcome RowTransfer::moveIntoPlace(int row, QFile& file, const QString& temporary,
                                                const QString& remotePath,
                                                const QString& localPath) {
    bool placed = false;
    trap_.at(Rename, [&] { placed = session_.rename(temporary, remotePath).ok(); });
    if (placed)
        return Outcome::Done;

    // Some servers rename only onto a free name. Whether this one renames at
    // all is tried on the new copy first, so that the old copy is deleted only
    // when the new one can take its place.
    QString current = temporary;
    bool oldDeleted = false;
    const QString second = TemporaryUploadName(remotePath, QRandomGenerator::global()->generate());
    bool renames = false;
    trap_.at(Rename, [&] { renames = session_.rename(temporary, second).ok(); });
    if (renames) {
        current = second;
        trap_.at(Rename, [&] {
            oldDeleted = session_.deleteFile(remotePath).ok();
            placed = session_.rename(second, remotePath).ok();
        });
        if (placed)
            return Outcome::Done;
    }

    // A lost connection refuses everything; that says nothing about the
    // server's rules. What the server received stays under its temporary
    // name, which no compare takes for a file of the site.
    if (sharing_ == Sharing::Shared && !session_.currentDirectory())
        return Outcome::Fail;

    // The server keeps no renamed file: this file and the run's later ones go
    // straight to their real names.
    state_.setRenamesRefused();
    Outcome outcome = Outcome::Fail;
    const bool reopened = trap_.at(Read, [&] {
        if (!file.isOpen())
            OpenLocalFile(file, localPath);
        if (!file.seek(0))
            throw VbError::deviceIOError();
    });
    if (reopened) {
        Opened upload = openRemote(remotePath, remotePath);
        if (!upload) {
            file.close();
            outcome = Outcome::Stop;
        } else {
            outcome = sendWithRetries(row, file, std::move(*upload), localPath);
        }
    }
    // The whole new copy is kept while it is the only one left.
    if (outcome == Outcome::Done || !oldDeleted)
        trap_.at(Close, [&] { (void)session_.deleteFile(current); });
    return outcome;
}

// Answers whether a level was left out because this run had created it already.
bool RowTransfer::createFolders(const QString& remotePath, bool again) {
    bool skipped = false;
    for (const QString& level : RemoteFolderLevels(RemoteParentFolder(remotePath))) {
        if (!again && !state_.claimFolder(level)) {
            skipped = true;
            continue;
        }
        // Whatever happens, a claimed level is answered, or another session
        // would wait for it for ever.
        struct Answer {
            SyncRunState& state;
            const QString& level;
            ~Answer() { state.folderCreated(level); }
        } answer{state_, level};
        // Refused when the folder exists already, which is what is wanted.
        (void)session_.createDirectory(level);
    }
    return skipped;
}

// Waits until at most `target` bytes of the upload wait to go out, in steps
// between which the window works. False when the upload has failed.
Result<> RowTransfer::waitForLine(RemoteUpload& upload, qint64 target) {
    for (;;) {
        const auto waiting = upload.drain(target, kLineStepMs);
        if (!waiting)
            return waiting.failure();
        if (*waiting <= target)
            return {};
        sink_.yield();
    }
}

RowTransfer::Outcome RowTransfer::sendWithRetries(int row, QFile& file,
                                                  std::unique_ptr<RemoteUpload> upload,
                                                  const QString& localPath) {
    const QString path = upload->path();
    for (int attempt = 1;; ++attempt) {
        const bool lastTry = attempt >= kUploadTries;
        bool lost = false;
        Outcome outcome = Outcome::Fail;
        {
            RemoteFile remote(session_, std::move(upload));
            outcome = send(row, file, remote, localPath, lastTry, &lost);
        }
        if (!lost)
            return outcome;
        // The connection broke in the middle of the file: the whole file goes
        // again, from its first byte and under the same name, over a fresh
        // log-in.
        const bool rewound = trap_.at(Read, [&] {
            if (!file.isOpen())
                OpenLocalFile(file, localPath);
            if (!file.seek(0))
                throw VbError::deviceIOError();
        });
        Opened again = Failure{FailureKind::Local, 0, QStringLiteral("the file could not be read")};
        if (rewound)
            trap_.at(OpenRemote, [&] { again = session_.openUpload(path); });
        if (!again) {
            sink_.message(QStringLiteral("Error uploading file..") + readableName(localPath));
            file.close();
            trap_.at(Close, [&] { (void)session_.deleteFile(path); });
            return Outcome::Fail;
        }
        upload = std::move(*again);
    }
}

RowTransfer::Outcome RowTransfer::send(int row, QFile& file, RemoteFile& remote,
                                       const QString& localPath, bool lastTry, bool* lost) {
    const qint64 size = file.size();
    if (buffer_.size() < kSendBlock)
        buffer_.resize(kSendBlock);
    char* const buffer = buffer_.data();

    sink_.setAction(row, QStringLiteral("uploading 0%"));
    sink_.yield();

    int shown = 0;
    qint64 sent = 0;
    bool readFailed = false;
    bool writeFailed = false;
    Failure failure;
    const auto failWrite = [&](const Result<>& result) {
        writeFailed = !result.ok();
        if (writeFailed)
            failure = result.failure();
        return writeFailed;
    };
    while (sent < size) {
        // One read and one write per block; the chunks of 1024 bytes inside it
        // are counted and shown one by one, as if read and sent singly.
        const qint64 want = std::min(kSendBlock, size - sent);
        if (failWrite(waitForLine(remote.upload(), kSendAhead)))
            break;
        const bool read = trap_.at(Read, [&] {
            const qint64 got = file.read(buffer, want);
            if (got < 0)
                throw VbError::deviceIOError();
            // The file shrank since it was opened; sending on would fill the
            // remote copy with bytes that are not the file's.
            if (got < want)
                throw VbError(62, QStringLiteral("Input past end of file"));
        });
        if (!read) {
            readFailed = true;
            break;
        }
        if (failWrite(remote.upload().write(buffer, want)))
            break;
        const qint64 blockEnd = sent + want;
        while (sent < blockEnd) {
            sent = std::min(sent + kChunk, blockEnd);
            const int percent = UploadPercent(sent, size);
            if (percent != shown) {
                shown = percent;
                sink_.setAction(row, QStringLiteral("uploading %1%").arg(percent));
            }
        }
        sink_.yield();
    }
    if (!readFailed && !writeFailed)
        failWrite(waitForLine(remote.upload(), 0));
    if (size == 0)
        sink_.setAction(row, QStringLiteral("uploading 100%"));

    if (writeFailed && !lastTry && failure.isConnectionProblem()) {
        *lost = true;
        remote.abandon();
        return Outcome::Fail;
    }
    if (writeFailed)
        sink_.message(QStringLiteral("Error uploading file..") + readableName(localPath));
    file.close();
    Result<> closed = Failure{};
    trap_.at(Close, [&] { closed = remote.close(); });
    const bool confirmed = closed.ok();
    if (!readFailed && !writeFailed && !confirmed) {
        // The server got the whole file, or did not: the reply was lost.
        if (!lastTry && closed.failure().isConnectionProblem()) {
            *lost = true;
            return Outcome::Fail;
        }
        sink_.message(QStringLiteral("Error uploading file..") + readableName(localPath));
    }
    if (readFailed || writeFailed || !confirmed) {
        // Leave no partial copy behind.
        trap_.at(Close, [&] { (void)session_.deleteFile(remote.path()); });
        return Outcome::Fail;
    }
    return Outcome::Done;
}
