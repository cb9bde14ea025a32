#pragma once

#include "config/settings.h"
#include "core/filter.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// The command line: lists, watches and stops servers from a terminal or a
// script, with neither a display nor a session bus.

// What one call asks for.
struct CommandLineRequest {
    enum class Command { List, Watch, Stop, Forward };

    Command command = Command::List;
    bool json = false;
    bool all = false;     // every process and every port, not the stored filter
    bool initial = false; // --watch: the servers already running, as started
    bool force = false;   // --stop: SIGKILL instead of SIGTERM
    std::optional<std::pair<qint64, qint64>> range;
    qint64 stopPort = 0;
    // --host: that SSH destination's servers instead of this machine's.
    QString host = {};
    // --forward PORT[:LOCAL]: the remote port, and the local one (0: the same
    // when free, else any free one).
    std::pair<qint64, qint64> forward = {};
};

struct ParsedCommandLine {
    enum class Outcome { Run, Help, Version, Error };

    Outcome outcome = Outcome::Error;
    CommandLineRequest request = {};
    QString text = {}; // the help, the version or the error, without a newline
};

// Exit statuses.
inline constexpr int exitOk = 0;
// nothing listed to stop, a refused stop, a failed scan, a host out of reach
inline constexpr int exitFailed = 1;
inline constexpr int exitUsage = 2; // an unknown option or a bad value

// The arguments after the program's name without Qt's own display options
// ("-platform xcb", "--style=Fusion", ...), which belong to the tray program.
QStringList commandLineArguments(int argc, char** argv);

// Whether the call is for the command line: any argument other than Qt's
// display options. Without one the tray program starts.
bool wantsCommandLine(int argc, char** argv);

// Reads the arguments (after the program's name). Needs a QCoreApplication
// for the help and version texts.
ParsedCommandLine parseCommandLine(const QStringList& arguments);

// What the call lists under the stored settings: their range and allowlist,
// every process and every port with --all, the ports of --range.
ScanFilter filterFor(const CommandLineRequest& request, const settings::Values& stored);

// Creates a QCoreApplication, runs the call and returns its exit status.
int runCommandLine(int argc, char** argv);
