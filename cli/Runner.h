#pragma once

#include <QString>
#include <QStringList>

namespace comkeys::cli {

// Exit codes of the windowless runner.
enum ExitCode {
    Passed = 0, // every expect passed
    Failed = 1, // an expect failed or timed out, or a send was refused
    CannotStart = 2, // bad options, an unreadable key set, an unknown sequence, a port that won't open
    OverallTimeout = 3, // --timeout ran out
    Interrupted = 130, // Ctrl+C (SIGINT) or SIGTERM; the port was closed and the reports written
};

// Where the window keeps its files, so the runner finds the same ones.
struct Environment {
    QString workingCopy; // Modules/Temp.ini, the default key set
    QStringList portFolders; // folders whose Ports/COMn links name devices
};

// Whether the arguments ask for the runner rather than the window: the first one is an option.
bool isRunnerCommand(int argc, char** argv);

// Runs the command line (the arguments after the program name) in the QCoreApplication that
// exists; the result is the exit code.
int run(const QStringList& arguments, const Environment& environment);

// The text of --help; the man page lists the same options.
QString helpText();

} // namespace comkeys::cli
