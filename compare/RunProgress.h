#pragma once

#include <QElapsedTimer>
#include <QMetaObject>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

class QModelIndex;
class ResultListModel;

// One line that tells the user how far a run has got, the same in the window
// and on a terminal: which folder the compare run lists and how many folders
// and files it has seen; how many files and bytes the sync run has carried
// out, how fast, and about how long it will still take; and at the end what
// was done in how long. The runs say where they are; during a sync it follows
// the action texts the run writes into the result list, so the run itself
// counts nothing.
//
// changed() comes at once when a run starts or ends, and otherwise at most
// four times a second (the latest state always follows), so that a window
// that announces every change to a screen reader, or a terminal that redraws
// it, costs the run nothing.
class RunProgress : public QObject {
    Q_OBJECT
public:
    enum class Phase { Idle, Listing, Compared, Syncing, Synced, Stopped };

    // Everything the line says, at one moment.
    struct State {
        Phase phase = Phase::Idle;
        // Listing: the folder taken in last, and the counts so far of its tree.
        QString folder = {};
        int folders = 0;
        qint64 files = 0;
        // Compared.
        qint64 localFiles = 0;
        qint64 remoteFiles = 0;
        qint64 rows = 0;
        // Syncing, Synced, Stopped. Uploads count overwrites too; bytes are
        // those of the local files.
        int uploads = 0;
        int uploadsStarted = 0;
        int uploadsDone = 0;
        qint64 bytes = 0;
        // Of the uploads that ended, and what has gone of those under way.
        qint64 bytesMoved = 0;
        // Of the uploads that ended well.
        qint64 bytesDone = 0;
        int deletes = 0;
        int deletesDone = 0;
        int failed = 0;
        qint64 elapsedMs = 0;
        // Since the first upload started (-1: none has).
        qint64 uploadingMs = -1;
    };

    explicit RunProgress(QObject* parent = nullptr);

    void compareStarts();
    // The compare run has taken in the files of one more folder, of the local
    // tree or, after it, of the remote one: the folder, and how many folders
    // and files of that tree it has taken in so far.
    void listed(const QString& folder, int folders, qint64 files);
    void compareEnds(qint64 localFiles, qint64 remoteFiles, qint64 rows);

    // Takes the ticked rows and the sizes of their local files from the list
    // as it is now, and follows its action texts until syncEnds().
    void syncStarts(const ResultListModel& model);
    // stopped: the run ended early, at a file the server would not create.
    void syncEnds(bool stopped);

    // A run that ended with nothing to show for it: the line goes blank.
    void clear();

    // The line as it stands now, however recently changed() came.
    QString text() const;

    // The line for a state.
    static QString describe(const State& state);

signals:
    void changed(const QString& text);
    // The last word of a run, after changed() has brought it: a terminal
    // keeps it on a line of its own.
    void ended(const QString& text);

private:
    // What the line knows of one row of the list during a sync.
    struct Row {
        qint64 size = 0;
        int percent = -1; // of an upload under way; -1: not started
        bool counted = false;
        bool finished = false;
    };

    State current() const;
    void countRow(int row);
    void onActionsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void stopFollowing();
    void publish(bool now);
    void publishNow();

    State state_;
    QElapsedTimer run_;
    QElapsedTimer uploading_;
    QElapsedTimer sincePublished_;
    QTimer pending_;
    QString published_;
    const ResultListModel* model_ = nullptr;
    QMetaObject::Connection actions_;
    QMetaObject::Connection reset_;
    std::vector<Row> rows_;
};

Q_DECLARE_METATYPE(RunProgress::State)
