#pragma once

#include <QStringList>

// The command line of the program: "pellmor compare" and "pellmor sync" run
// the same compare and sync runs as the window, without a display.

// What the process answers; scripts rely on these numbers.
enum ExitStatus {
    ExitDone = 0,         // compare: identical; sync: every row done
    ExitDifferences = 1,  // compare: rows to carry out; sync: declined
    ExitBadInput = 2,     // bad options, no connection, missing folder
    ExitRowsFailed = 3,   // sync: a row failed or the run stopped
    ExitNotConfirmed = 4, // sync: no terminal to ask and no --yes
};

// Whether the arguments ask for the command line rather than the window: a
// first argument that is a word (a command), a long option, -h or -v. Other
// single-dash arguments (such as -platform) stay with the window.
bool IsCommandLineInvocation(int argc, char* argv[]);

// Runs the command given by the arguments that follow the program name and
// answers the exit status. Needs a QCoreApplication and nothing more.
int RunCommandLine(const QStringList& arguments);
