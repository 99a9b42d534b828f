#include "sync/SyncRun.h"

#include "app/core/ErrorTrap.h"
#include "app/core/MessageSeam.h"
#include "app/core/NameCodec.h"
#include "app/core/UiYield.h"
#include "app/core/VbError.h"
#include "compare/BusyScope.h"
#include "compare/ResultListModel.h"
#include "compare/RunHost.h"
#include "ftp/wininet.h"
#include "localfs/AddFolder.h"
#include "sync/SyncSteps.h"

#include <QByteArray>
#include <QFile>
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
    LineOverwriteDelete = 116,
    LineCreateFolder = 118,
    LineOpenRemote = 120,
    LineRead = 124,
    LineClose = 130,
    LineMark = 132,
    LineEnd = 134,
};

// An upload's remote file handle, closed before the run moves on however the
// upload ends.
class RemoteFile {
public:
    explicit RemoteFile(HINTERNET handle) : handle_(handle) {}
    ~RemoteFile() { close(); }
    RemoteFile(const RemoteFile&) = delete;
    RemoteFile& operator=(const RemoteFile&) = delete;

    HINTERNET handle() const { return handle_; }
    // Answers whether the server confirmed the upload.
    bool close() {
        if (!handle_)
            return false;
        const HINTERNET h = std::exchange(handle_, 0);
        return InternetCloseHandle(h);
    }

private:
    HINTERNET handle_;
};

// Whether the server verifiably no longer holds the file. The SIZE answer
// alone is not enough: some servers refuse SIZE for a file that is there (in
// ASCII mode, for one), so a listing of its folder must agree.
bool RemoteFileGone(const Session& session, const QString& remotePath) {
    if (session.fileExists(remotePath))
        return false;
    const QString folder = RemoteParentFolder(remotePath);
    const QString name = remotePath.mid(folder.size());
    WIN32_FIND_DATAA data;
    const HINTERNET find = session.findFirstFile(folder + QStringLiteral("*.*"), &data);
    if (!find)
        return true;
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

class SyncRun {
public:
    explicit SyncRun(RunHost& host)
        : host_(host), session_(host.session()), model_(host.resultList()), trap_(kLocation) {}

    void run();

private:
    enum class Outcome { Done, Fail, Stop };

    Outcome deleteRow(int row);
    Outcome uploadRow(int row);
    Outcome send(int row, QFile& file, RemoteFile& remote, const QString& localPath,
                 const QString& remotePath);
    bool createFolders(const QString& remotePath, bool again);
    void mark(int row, Outcome outcome);

    RunHost& host_;
    const Session& session_;
    ResultListModel& model_;
    ErrorTrap trap_;
    // Folders this run has already asked the server to create.
    QSet<QString> createdFolders_;
    QByteArray buffer_;
};

void SyncRun::run() {
    UiYield::processNow();
    if (host_.isBusy())
        return;
    BusyScope busy(host_);

    if (model_.rowCount() == 0) {
        trap_.at(LineEmptyList, [] { MessageSeam::plain(QStringLiteral("No files selected.")); });
        return;
    }

    bool stopped = false;
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
    }
    if (stopped)
        return;

    trap_.at(LineEnd, [&] {
        MessageSeam::plain(QStringLiteral("Done."));
        model_.clear();
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
    const bool overwrite = model_.kind(row) == RowKind::Overwrite;

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

    if (overwrite)
        trap_.at(LineOverwriteDelete, [&] { session_.deleteFile(remotePath); });

    bool skippedKnown = false;
    trap_.at(LineCreateFolder, [&] { skippedKnown = createFolders(remotePath, false); });

    HINTERNET handle = 0;
    const auto openRemote = [&] { handle = session_.openUpload(remotePath); };
    trap_.at(LineOpenRemote, openRemote);
    if (!handle && skippedKnown) {
        // A folder this run created earlier may have gone since; make sure of
        // every level once before giving up.
        trap_.at(LineCreateFolder, [&] { createFolders(remotePath, true); });
        trap_.at(LineOpenRemote, openRemote);
    }
    if (!handle) {
        file.close();
        trap_.at(LineOpenRemote, [] {
            MessageSeam::plain(QStringLiteral("Cant create requested file on server"));
        });
        return Outcome::Stop;
    }
    RemoteFile remote(handle);
    return send(row, file, remote, localPath, remotePath);
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

SyncRun::Outcome SyncRun::send(int row, QFile& file, RemoteFile& remote, const QString& localPath,
                               const QString& remotePath) {
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
        // Leave no partial copy behind that looks like the file.
        trap_.at(LineClose, [&] { session_.deleteFile(remotePath); });
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
