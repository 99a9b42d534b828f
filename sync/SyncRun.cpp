#include "sync/SyncRun.h"

#include "app/core/ErrorTrap.h"
#include "app/core/MessageSeam.h"
#include "app/core/NameCodec.h"
#include "app/core/UiYield.h"
#include "app/core/VbError.h"
#include "compare/BusyScope.h"
#include "compare/ResultListModel.h"
#include "compare/RunHost.h"
#include "ftp/FtpTranscript.h"
#include "ftp/wininet.h"
#include "localfs/AddFolder.h"
#include "sync/SyncSteps.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <utility>

namespace {

const QString kLocation = ErrorTrap::locationOf("Form1", "PushButton6_Click");

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

VbError badFileName() {
    return VbError(52, QStringLiteral("Bad file name or number"));
}

// Statement numbers shown by the error report.
enum Line {
    LineStart = 100,
    LineEmptyList = 102,
    LineRow = 106,
    LineDelete = 110,
    LineRemoteName = 112,
    LineOpenLocal = 114,
    LineRename = 116,
    LineCreateFolder = 118,
    LineOpenRemote = 120,
    LineRead = 124,
    LineClose = 130,
    LineMark = 132,
    LineEnd = 134,
};

// An upload's remote file handle, closed before the run moves on however the
// upload ends. An upload that is not closed on purpose (the window was closed
// in the middle of it) is cut off, never completed, and what the server
// received of it is removed where the server still answers.
class RemoteFile {
public:
    RemoteFile(const Session& session, HINTERNET handle, QString path)
        : session_(session), handle_(handle), path_(std::move(path)) {}
    ~RemoteFile() {
        if (!handle_)
            return;
        FtpAbortFile(std::exchange(handle_, 0));
        session_.deleteFile(path_);
    }
    RemoteFile(const RemoteFile&) = delete;
    RemoteFile& operator=(const RemoteFile&) = delete;

    HINTERNET handle() const { return handle_; }
    const QString& path() const { return path_; }
    // Answers whether the server confirmed the upload.
    bool close() {
        if (!handle_)
            return false;
        const HINTERNET h = std::exchange(handle_, 0);
        return InternetCloseHandle(h);
    }

private:
    const Session& session_;
    HINTERNET handle_;
    QString path_;
};

// Whether the server verifiably no longer holds the file. The SIZE answer
// alone is not enough: some servers refuse SIZE for a file that is there (in
// ASCII mode, for one), so a listing of its folder must agree, and only a
// listing that worked can say so.
bool RemoteFileGone(const Session& session, const QString& remotePath) {
    if (session.fileExists(remotePath))
        return false;
    const QString folder = RemoteParentFolder(remotePath);
    const QString name = remotePath.mid(folder.size());
    WIN32_FIND_DATAA data;
    const HINTERNET find = session.findFirstFile(folder + QStringLiteral("*.*"), &data);
    if (!find)
        return GetLastError() == ERROR_NO_MORE_FILES;
    bool present = false;
    do {
        present = data.cFileName == name;
    } while (!present && InternetFindNextFileA(find, &data));
    InternetCloseHandle(find);
    return !present;
}

// Waits until at most `target` bytes of the upload wait to go out, in steps
// between which the window works. False when the upload has failed.
bool waitForLine(HINTERNET file, qint64 target) {
    for (;;) {
        const qint64 waiting = FtpDrainUpload(file, target, kLineStepMs);
        if (waiting < 0)
            return false;
        if (waiting <= target)
            return true;
        UiYield::processPending();
    }
}

bool RemoteIsLink(const Session& session, const QString& remotePath) {
    const QString folder = RemoteParentFolder(remotePath);
    const QString name = remotePath.mid(folder.size());
    WIN32_FIND_DATAA data;
    const HINTERNET find = session.findFirstFile(folder + QStringLiteral("*.*"), &data);
    if (!find)
        return false;
    bool link = false;
    bool more = true;
    while (more) {
        if (data.cFileName == name) {
            link = data.isLink();
            break;
        }
        more = InternetFindNextFileA(find, &data);
    }
    InternetCloseHandle(find);
    return link;
}

class SyncRun {
public:
    explicit SyncRun(RunHost& host)
        : host_(host), session_(host.session()), model_(host.resultList()), trap_(kLocation) {}

    void run();

private:
    enum class Outcome { Done, Fail, Stop };

    Outcome deleteRow(int row);
    Outcome uploadRow(int row);
    HINTERNET openRemote(const QString& remotePath, const QString& target);
    Outcome send(int row, QFile& file, RemoteFile& remote, const QString& localPath);
    Outcome moveIntoPlace(int row, QFile& file, const QString& temporary, const QString& remotePath,
                          const QString& localPath);
    bool createFolders(const QString& remotePath, bool again);
    void mark(int row, Outcome outcome);

    RunHost& host_;
    const Session& session_;
    ResultListModel& model_;
    ErrorTrap trap_;
    // Folders this run has already asked the server to create.
    QSet<QString> createdFolders_;
    QByteArray buffer_;
    // Set once the server has shown that it keeps no renamed file: uploads
    // then go straight to their real names.
    bool renamesRefused_ = false;
};

void SyncRun::run() {
    UiYield::processNow();
    if (host_.isBusy())
        return;
    BusyScope busy(host_);
    const FtpTranscript::RunScope transcript("sync", host_.session().settings(),
                                             host_.remoteFolderText(), host_.localFolderText());

    if (model_.rowCount() == 0) {
        trap_.at(LineEmptyList, [] { MessageSeam::plain(QStringLiteral("No files selected.")); });
        return;
    }

    bool stopped = false;
    QList<int> failed;
    const int n = model_.rowCount();
    for (int i = 0; i < n && !stopped; ++i) {
        UiYield::processPending();
        // Nothing removes single rows during a run, but a list emptied behind
        // the run's back must not be read past its end.
        if (i >= model_.rowCount())
            break;
        if (!model_.isChecked(i))
            continue;
        const Outcome outcome = model_.kind(i) == RowKind::Delete ? deleteRow(i) : uploadRow(i);
        if (outcome == Outcome::Stop)
            stopped = true;
        else
            mark(i, outcome);
        if (outcome == Outcome::Fail)
            failed.append(i);
    }
    if (stopped)
        return;

    // Failed rows stay, ticked, so that the next run takes them up again.
    trap_.at(LineEnd, [&] {
        MessageSeam::plain(DoneMessage(int(failed.size())));
        if (failed.isEmpty())
            model_.clear();
        else
            model_.keepOnly(failed);
    });
}

SyncRun::Outcome SyncRun::deleteRow(int row) {
    const QString remotePath = model_.source(row);
    bool gone = false;
    trap_.at(LineDelete, [&] {
        if (!IsSendableRemotePath(remotePath))
            throw badFileName();
        // A refused delete still counts when the file is verifiably gone (it
        // was deleted before); without an answer the row fails.
        gone = session_.deleteFile(remotePath) || RemoteFileGone(session_, remotePath);
    });
    return gone ? Outcome::Done : Outcome::Fail;
}

SyncRun::Outcome SyncRun::uploadRow(int row) {
    const QString localPath = model_.source(row);
    const QString remotePath = model_.destination(row);

    if (!trap_.at(LineRemoteName, [&] {
            if (!IsSendableRemotePath(remotePath))
                throw badFileName();
        }))
        return Outcome::Fail;

    // The local file is opened before anything changes on the server, so that
    // a vanished or unreadable file leaves the remote side as it was.
    // Unbuffered: the blocks go straight into the send buffer.
    QFile file;
    if (!trap_.at(LineOpenLocal, [&] { OpenLocalFile(file, localPath); }))
        return Outcome::Fail;

    // The file goes up under a temporary name beside its destination and takes
    // the real name only once the server has confirmed all of it: an upload
    // that is refused, fails or is cut short leaves the old copy (or nothing)
    // under the real name, never a part.
    const QString target =
        renamesRefused_ ? remotePath
                        : TemporaryUploadName(remotePath, QRandomGenerator::global()->generate());
    HINTERNET handle = openRemote(remotePath, target);
    QString opened = target;
    if (!handle && target != remotePath) {
        // Some servers take only names they like; the real name may still do.
        handle = openRemote(remotePath, remotePath);
        opened = remotePath;
    }
    if (!handle) {
        file.close();
        trap_.at(LineOpenRemote, [] {
            MessageSeam::plain(QStringLiteral("Cant create requested file on server"));
        });
        return Outcome::Stop;
    }
    Outcome outcome = Outcome::Fail;
    {
        RemoteFile remote(session_, handle, opened);
        outcome = send(row, file, remote, localPath);
    }
    if (outcome != Outcome::Done || opened == remotePath)
        return outcome;
    return moveIntoPlace(row, file, opened, remotePath, localPath);
}

HINTERNET SyncRun::openRemote(const QString& remotePath, const QString& target) {
    bool skippedKnown = false;
    trap_.at(LineCreateFolder, [&] { skippedKnown = createFolders(remotePath, false); });
    // Straight onto a link, the upload would write through it into the file
    // it points to, which no row named: the link itself goes first.
    if (target == remotePath)
        trap_.at(LineOpenRemote, [&] {
            if (RemoteIsLink(session_, remotePath))
                session_.deleteFile(remotePath);
        });
    HINTERNET handle = 0;
    const auto open = [&] { handle = session_.openUpload(target); };
    trap_.at(LineOpenRemote, open);
    if (!handle && skippedKnown) {
        // A folder this run created earlier may have gone since; make sure of
        // every level once before giving up.
        trap_.at(LineCreateFolder, [&] { createFolders(remotePath, true); });
        trap_.at(LineOpenRemote, open);
    }
    return handle;
}

SyncRun::Outcome SyncRun::moveIntoPlace(int row, QFile& file, const QString& temporary,
                                        const QString& remotePath, const QString& localPath) {
    bool placed = false;
    trap_.at(LineRename, [&] { placed = session_.renameFile(temporary, remotePath); });
    if (placed)
        return Outcome::Done;

    // Some servers rename only onto a free name. Whether this one renames at
    // all is tried on the new copy first, so that the old copy is deleted only
    // when the new one can take its place.
    QString current = temporary;
    bool oldDeleted = false;
    const QString second = TemporaryUploadName(remotePath, QRandomGenerator::global()->generate());
    bool renames = false;
    trap_.at(LineRename, [&] { renames = session_.renameFile(temporary, second); });
    if (renames) {
        current = second;
        trap_.at(LineRename, [&] {
            oldDeleted = session_.deleteFile(remotePath);
            placed = session_.renameFile(second, remotePath);
        });
        if (placed)
            return Outcome::Done;
    }

    // The server keeps no renamed file: this file and the run's later ones go
    // straight to their real names.
    renamesRefused_ = true;
    Outcome outcome = Outcome::Fail;
    const bool reopened = trap_.at(LineRead, [&] {
        if (!file.isOpen())
            OpenLocalFile(file, localPath);
        if (!file.seek(0))
            throw VbError::deviceIOError();
    });
    if (reopened) {
        const HINTERNET handle = openRemote(remotePath, remotePath);
        if (!handle) {
            file.close();
            trap_.at(LineOpenRemote, [] {
                MessageSeam::plain(QStringLiteral("Cant create requested file on server"));
            });
            outcome = Outcome::Stop;
        } else {
            RemoteFile remote(session_, handle, remotePath);
            outcome = send(row, file, remote, localPath);
        }
    }
    // The whole new copy is kept while it is the only one left.
    if (outcome == Outcome::Done || !oldDeleted)
        trap_.at(LineClose, [&] { session_.deleteFile(current); });
    return outcome;
}

// Answers whether a level was left out because this run had created it already.
bool SyncRun::createFolders(const QString& remotePath, bool again) {
    bool skipped = false;
    for (const QString& level : RemoteFolderLevels(RemoteParentFolder(remotePath))) {
        if (!again && createdFolders_.contains(level)) {
            skipped = true;
            continue;
        }
        // Refused when the folder exists already, which is what is wanted.
        session_.createDirectory(level);
        createdFolders_.insert(level);
    }
    return skipped;
}

SyncRun::Outcome SyncRun::send(int row, QFile& file, RemoteFile& remote, const QString& localPath) {
    const qint64 size = file.size();
    if (buffer_.size() < kSendBlock)
        buffer_.resize(kSendBlock);
    char* const buffer = buffer_.data();

    model_.setAction(row, QStringLiteral("uploading 0%"));
    UiYield::processPending();

    int shown = 0;
    qint64 sent = 0;
    bool readFailed = false;
    bool writeFailed = false;
    while (sent < size) {
        // One read and one write per block; the chunks of 1024 bytes inside it
        // are counted and shown one by one, as if read and sent singly.
        const qint64 want = std::min(kSendBlock, size - sent);
        if (!waitForLine(remote.handle(), kSendAhead)) {
            writeFailed = true;
            break;
        }
        const bool read = trap_.at(LineRead, [&] {
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
        quint32 written = 0;
        if (!InternetWriteFile(remote.handle(), buffer, quint32(want), &written)) {
            writeFailed = true;
            break;
        }
        const qint64 blockEnd = sent + want;
        while (sent < blockEnd) {
            sent = std::min(sent + kChunk, blockEnd);
            const int percent = UploadPercent(sent, size);
            if (percent != shown) {
                shown = percent;
                model_.setAction(row, QStringLiteral("uploading %1%").arg(percent));
            }
        }
        UiYield::processPending();
    }
    if (!readFailed && !writeFailed && !waitForLine(remote.handle(), 0))
        writeFailed = true;
    if (size == 0)
        model_.setAction(row, QStringLiteral("uploading 100%"));

    if (writeFailed)
        MessageSeam::plain(QStringLiteral("Error uploading file..") + readableName(localPath));
    file.close();
    bool confirmed = false;
    trap_.at(LineClose, [&] { confirmed = remote.close(); });
    if (!readFailed && !writeFailed && !confirmed)
        MessageSeam::plain(QStringLiteral("Error uploading file..") + readableName(localPath));
    if (readFailed || writeFailed || !confirmed) {
        // Leave no partial copy behind.
        trap_.at(LineClose, [&] { session_.deleteFile(remote.path()); });
        return Outcome::Fail;
    }
    return Outcome::Done;
}

void SyncRun::mark(int row, Outcome outcome) {
    trap_.at(LineMark, [&] {
        model_.setAction(row, outcome == Outcome::Done ? QStringLiteral("Done")
                                                       : QStringLiteral("Fail"));
    });
}

} // namespace

void RunSync(RunHost& host) {
    SyncRun(host).run();
}
