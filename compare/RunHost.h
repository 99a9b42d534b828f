#pragma once

#include "compare/CompareRules.h"
#include "core/MessageSeam.h"
#include "ftp/Session.h"

#include <QString>

class FolderQueue;
class ResultListModel;
class RunProgress;
class SessionPool;

// The narrow window interface that the compare and sync runs talk to. The
// main window implements it; tests and the command line may implement it
// without any widget. Messages go through the message seam and yields through
// UiYield.
class RunHost {
public:
    virtual ~RunHost() = default;

    // The current texts of the six boxes, read at the moment of the call.
    virtual QString hostNameText() const = 0;
    virtual QString portText() const = 0;
    virtual QString userNameText() const = 0;
    virtual QString passwordText() const = 0;
    virtual QString remoteFolderText() const = 0;
    virtual QString localFolderText() const = 0;

    // The four connection boxes, read now.
    ConnectionSettings connectionSettings() const {
        return {hostNameText(), portText(), userNameText(), passwordText()};
    }

    // The main session: the compare run opens it, the sync run works over it.
    virtual Session& session() = 0;

    // How many logged-in sessions, the main one included, a run may use at
    // once (1 to 8, see compare/Transfers.h). One: every command goes over the
    // main session, one after another.
    virtual int transfers() const { return 1; }

    // How a compare run matches files and when it proposes an overwrite, read
    // when a run starts; the sync run reads it too, to know whether uploads
    // are to carry the local files' modification times.
    virtual CompareRules compareRules() const { return {}; }
    // What a compare run has to say about how the chosen rules worked out on
    // this server (a rule that falls back to a simpler one), once each, at the
    // end of the run.
    virtual void compareNote(const QString& text) { MessageSeam::plain(text); }
    // The extra sessions the host keeps between runs, as it keeps the main
    // one: those of a compare serve the sync after it. Null where the host
    // keeps none: each run then logs its own in and out.
    virtual SessionPool* sessionPool() { return nullptr; }

    virtual ResultListModel& resultList() = 0;
    // Removes every column of the list and adds "Source", "Action" and
    // "Destination" with their widths.
    virtual void recreateColumns() = 0;
    // Scrolls the list so that the row is visible (the host may do so lazily).
    virtual void makeRowVisible(int row) = 0;
    // The list's boolean display option that the compare run switches on.
    virtual void setListOption(bool on) = 0;

    virtual FolderQueue& folderQueue() = 0;

    // The line that tells the user how far a run has got; the runs tell it
    // where they are. Null where nobody watches.
    virtual RunProgress* progress() { return nullptr; }

    virtual bool isBusy() const = 0;
    virtual void setBusy(bool busy) = 0;
    virtual void setHourglass(bool on) = 0;
};
