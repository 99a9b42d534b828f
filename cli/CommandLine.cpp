#include "cli/CommandLine.h"

#include "cli/CommandOptions.h"
#include "cli/ConsoleHost.h"
#include "cli/ConsoleMessages.h"
#include "cli/ConsoleProgress.h"
#include "cli/RemoteFolderCheck.h"
#include "compare/CompareRun.h"
#include "core/NameCodec.h"
#include "core/SettingsStore.h"
#include "core/UiYield.h"
#include "core/VbError.h"
#include "ftp/ServerTrust.h"
#include "sync/SyncRun.h"

#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

const QString kIdentical = QStringLiteral("No synchronization necessary -- folders are identical");
const QString kDone = QStringLiteral("Done");
const QString kFail = QStringLiteral("Fail");

void complain(const QString& message) {
    std::fprintf(stderr, "pellmor: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

// How the rows go out on standard output. By default one row a line, its
// three fields (action, source, destination) tab-separated; a tab, CR, LF or
// backslash in a name is written as \t, \r, \n or \\, so that any name keeps
// its row one line of three fields. With --null every field ends in a NUL
// byte, which no name can hold, and names go out as they are. The action
// texts of the list start with a blank that only a window has use for. Paths
// go out with the bytes of their names, also where a name is not UTF-8, so
// that a script can use them as they are.
class RowWriter {
public:
    explicit RowWriter(bool nullSeparated) : nullSeparated_(nullSeparated) {}

    void write(const QString& action, const QString& source, const QString& destination) const {
        const QByteArray fields[] = {action.trimmed().toLocal8Bit(), nameField(source),
                                     nameField(destination)};
        QByteArray row;
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            row += fields[i];
            if (nullSeparated_)
                row += '\0';
            else
                row += i + 1 < std::size(fields) ? '\t' : '\n';
        }
        std::fwrite(row.constData(), 1, size_t(row.size()), stdout);
        std::fflush(stdout);
    }

    void writeAll(const ResultListModel& model) const {
        for (int row = 0; row < model.rowCount(); ++row)
            write(model.action(row), model.source(row), model.destination(row));
    }

private:
    QByteArray nameField(const QString& path) const {
        const QByteArray bytes = encodeNameBytes(path).value_or(path.toLocal8Bit());
        if (nullSeparated_)
            return bytes;
        QByteArray out;
        out.reserve(bytes.size());
        for (const char c : bytes) {
            switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
            }
        }
        return out;
    }

    bool nullSeparated_;
};

// The compare run reports its problems as messages, as the window shows them;
// a clean run shows none, or only that the folders are identical.
int compare(ConsoleHost& host, ConsoleMessages& messages) {
    messages.clear();
    // Held until the remote folder is known to exist: "identical" would be
    // wrong for a folder that is not there.
    messages.hold();
    try {
        RunCompare(host);
    } catch (const RunAborted&) {
        messages.release();
        return ExitBadInput;
    }
    const QStringList shown = messages.texts();
    const bool identical = shown == QStringList{kIdentical};
    if (!shown.isEmpty() && !identical) {
        messages.release();
        complain(QStringLiteral("the folders could not be compared; nothing was changed"));
        return ExitBadInput;
    }
    if (!identical && host.resultList().rowCount() == 0) {
        messages.release();
        complain(QStringLiteral("could not open an FTP session"));
        return ExitBadInput;
    }
    if (!RemoteFolderExists(host.session(), host.remoteFolderText())) {
        messages.release(false);
        complain(
            QStringLiteral("the remote folder does not exist: %1").arg(host.remoteFolderText()));
        return ExitBadInput;
    }
    messages.release();
    return identical ? ExitDone : ExitDifferences;
}

bool confirm(int rows, const QString& hostName) {
    std::fprintf(
        stderr, "Carry out %s on %s? [y/N] ",
        (rows == 1 ? QStringLiteral("this row") : QStringLiteral("these %1 rows").arg(rows))
            .toLocal8Bit()
            .constData(),
        hostName.toLocal8Bit().constData());
    std::fflush(stderr);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    const QString text = QString::fromLocal8Bit(answer).trimmed().toLower();
    return text == QLatin1String("y") || text == QLatin1String("yes");
}

// Carries out every row and prints each one's outcome as the run marks it, in
// list order: a row marked while one before it is still under way (on another
// session) waits for it. The rows a stopped run never reached are printed
// after it with their texts.
int sync(ConsoleHost& host, ConsoleMessages& messages, ConsoleProgress& progress,
         const RowWriter& rowWriter) {
    ResultListModel& model = host.resultList();
    struct Row {
        QString action, source, destination;
        bool printed = false;
    };
    QList<Row> rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows.append({model.action(row), model.source(row), model.destination(row)});

    qsizetype nextToPrint = 0;

    const auto marks = QObject::connect(
        &model, &ResultListModel::dataChanged, &model,
        [&](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
            for (int row = topLeft.row(); row <= bottomRight.row() && row < rows.size(); ++row)
                rows[row].action = model.action(row);
            for (; nextToPrint < rows.size(); ++nextToPrint) {
                Row& r = rows[nextToPrint];
                if (r.action != kDone && r.action != kFail)
                    break;
                progress.clearLine();
                rowWriter.write(r.action, r.source, r.destination);
                r.printed = true;
            }
        });

    messages.clear();
    try {
        RunSync(host);
    } catch (const RunAborted&) {
    }
    QObject::disconnect(marks);
    progress.clearLine();

    bool allDone = true;
    for (const Row& r : std::as_const(rows)) {
        allDone = allDone && r.action == kDone;
        if (!r.printed)
            rowWriter.write(r.action, r.source, r.destination);
    }
    return allDone ? ExitDone : ExitRowsFailed;
}

int compareAndSync(const CommandOptions& options, ConsoleHost& host, ConsoleMessages& messages,
                   ConsoleProgress& progress) {
    const RowWriter rowWriter(options.nullSeparated);
    const int compared = compare(host, messages);
    progress.clearLine();
    const bool syncing = options.command == CommandOptions::Command::Sync;
    if (!syncing) {
        if (compared != ExitBadInput)
            rowWriter.writeAll(host.resultList());
        return compared;
    }
    if (compared != ExitDifferences)
        return compared;
    if (!options.yes) {
        rowWriter.writeAll(host.resultList());
        if (!confirm(host.resultList().rowCount(), options.hostName)) {
            complain(QStringLiteral("nothing was changed"));
            return ExitDifferences;
        }
    }
    return sync(host, messages, progress, rowWriter);
}

} // namespace

bool IsCommandLineInvocation(int argc, char* argv[]) {
    if (argc < 2)
        return false;
    const char* first = argv[1];
    return first[0] != '-' || std::strncmp(first, "--", 2) == 0 || std::strcmp(first, "-h") == 0 ||
           std::strcmp(first, "-v") == 0;
}

int RunCommandLine(const QStringList& arguments) {
    const auto options = CommandOptions::parse(arguments);
    if (!options) {
        complain(options.error());
        return ExitBadInput;
    }
    switch (options->command) {
    case CommandOptions::Command::Help:
        std::fputs(CommandOptions::usage().toLocal8Bit().constData(), stdout);
        return ExitDone;
    case CommandOptions::Command::Version:
        std::printf("pellmor %s\n", PELLMOR_VERSION);
        return ExitDone;
    case CommandOptions::Command::Compare:
    case CommandOptions::Command::Sync:
        break;
    }

    const bool syncing = options->command == CommandOptions::Command::Sync;
    const bool canAsk = ::isatty(STDIN_FILENO);
    if (syncing && !options->yes && !canAsk) {
        complain(QStringLiteral("standard input is not a terminal to ask on, and --yes was not "
                                "given: nothing was changed"));
        return ExitNotConfirmed;
    }

    // The certificates and host keys trusted in the window hold here too. A
    // question about a new one is printed and, with nobody to answer it,
    // refused.
    ServerTrust::useSettingsFile(SettingsFilePath(QStringLiteral("Tarvex")));
    ConsoleMessages messages;
    ConsoleHost host(*options);
    // The line the window shows, on a terminal only.
    ConsoleProgress progress(*host.progress(), stderr, ::isatty(STDERR_FILENO));
    messages.setBeforeWrite([&] { progress.clearLine(); });
    const int status = compareAndSync(*options, host, messages, progress);
    progress.clearLine();
    messages.setBeforeWrite({});
    return status;
}
