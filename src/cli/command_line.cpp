#include "cli/command_line.h"

#include "cli/command_line_output.h"
#include "config/settings_store.h"
#include "core/display_text.h"
#include "core/integers.h"
#include "core/presentation.h"
#include "core/process_time.h"
#include "core/translation.h"
#include "monitor/forward_states.h"
#include "monitor/forwards.h"
#include "monitor/port_monitor.h"
#include "sources/registry.h"
#include "system/procfs.h"
#include "system/termination_signals.h"

#include "harborwatch_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The context of this file's texts for translation.
struct CommandLine {
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

using Command = CommandLineRequest::Command;

// Qt's display options, which QGuiApplication takes out of the arguments,
// with and without a value.
const QStringList qtOptionsWithValue = {
    QStringLiteral("platform"),      QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"), QStringLiteral("plugin"),
    QStringLiteral("qmljsdebugger"), QStringLiteral("qwindowgeometry"),
    QStringLiteral("qwindowicon"),   QStringLiteral("qwindowtitle"),
    QStringLiteral("session"),       QStringLiteral("display"),
    QStringLiteral("geometry"),      QStringLiteral("style"),
    QStringLiteral("stylesheet"),
};
const QStringList qtFlags = {
    QStringLiteral("reverse"),
    QStringLiteral("widgetcount"),
    QStringLiteral("nograb"),
    QStringLiteral("dograb"),
};

constexpr qint64 highestPort = 65535;
// How long --list waits for the looks at what answers on its servers; a
// server not looked at by then is printed without.
constexpr int answersWaitMs = 3000;

// --- options -------------------------------------------------------------------

// Reads an option's value into the request; the error, without the option's
// name, when the value cannot be taken.
using ValueReader = std::function<std::optional<QString>(const QString&, CommandLineRequest&)>;

// One option: its name, help text and value, the command it is (none for a
// modifier), the commands it works with (empty: any), and its value's reader.
struct OptionSpec {
    const char* name;
    const char* help;
    const char* valueName = nullptr;
    std::optional<Command> command = std::nullopt;
    QList<Command> with = {};
    ValueReader read = {};
};

std::optional<qint64> portValue(QStringView text) {
    return parsePort(text.trimmed());
}

// "LO-HI", or "PORT" for one port.
std::optional<QString> readRange(const QString& value, CommandLineRequest& request) {
    const QStringView text = value;
    const qsizetype dash = text.indexOf(u'-');
    const auto low = portValue(dash < 0 ? text : text.first(dash));
    const auto high = portValue(dash < 0 ? text : text.sliced(dash + 1));
    if (!low || !high || *low > *high)
        return CommandLine::tr("bad value for --range: '%1' (expected LO-HI, ports from 1 to "
                               "65535)")
            .arg(value);
    request.range = std::pair{*low, *high};
    return std::nullopt;
}

std::optional<QString> readStopPort(const QString& value, CommandLineRequest& request) {
    const auto port = portValue(value);
    if (!port)
        return CommandLine::tr("bad value for --stop: '%1' (expected a port from 1 to 65535)")
            .arg(value);
    request.stopPort = *port;
    return std::nullopt;
}

std::optional<QString> readHost(const QString& value, CommandLineRequest& request) {
    request.host = value.trimmed();
    if (!settings::isSshDestination(request.host))
        return CommandLine::tr("bad value for --host: '%1' (expected an SSH destination such as "
                               "box or me@box)")
            .arg(value);
    return std::nullopt;
}

// "PORT" or "PORT:LOCAL".
std::optional<QString> readForward(const QString& value, CommandLineRequest& request) {
    const QStringView text = value;
    const qsizetype colon = text.indexOf(u':');
    const auto remote = portValue(colon < 0 ? text : text.first(colon));
    const auto local = colon < 0 ? std::optional<qint64>(0) : portValue(text.sliced(colon + 1));
    if (!remote || !local)
        return CommandLine::tr("bad value for --forward: '%1' (expected PORT or PORT:LOCAL, ports "
                               "from 1 to 65535)")
            .arg(value);
    request.forward = {*remote, *local};
    return std::nullopt;
}

// The options in the order the help lists them.
const QList<OptionSpec>& optionTable() {
    static const QList<OptionSpec> table = {
        {"list",
         QT_TRANSLATE_NOOP("CommandLine", "Print the servers as a table, or as JSON with --json."),
         nullptr, Command::List},
        {"watch",
         QT_TRANSLATE_NOOP("CommandLine",
                           "Print a line for each server that starts or stops, until interrupted."),
         nullptr, Command::Watch},
        {"stop",
         QT_TRANSLATE_NOOP("CommandLine", "Stop the server listed on PORT with SIGTERM."),
         "PORT",
         Command::Stop,
         {},
         readStopPort},
        {"json",
         QT_TRANSLATE_NOOP("CommandLine", "Print JSON: one array with --list, one object per line "
                                          "with --watch."),
         nullptr,
         std::nullopt,
         {Command::List, Command::Watch}},
        {"all",
         QT_TRANSLATE_NOOP("CommandLine",
                           "Every listening TCP port of any process you may inspect, whatever the "
                           "stored range and allowlist."),
         nullptr,
         std::nullopt,
         {Command::List, Command::Watch, Command::Stop}},
        {"range",
         QT_TRANSLATE_NOOP("CommandLine", "Ports LO to HI instead of the stored range."),
         "LO-HI",
         std::nullopt,
         {Command::List, Command::Watch, Command::Stop},
         readRange},
        {"initial",
         QT_TRANSLATE_NOOP("CommandLine",
                           "With --watch: first print the servers already running, as started."),
         nullptr,
         std::nullopt,
         {Command::Watch}},
        {"force",
         QT_TRANSLATE_NOOP("CommandLine", "With --stop: send SIGKILL instead of SIGTERM."),
         nullptr,
         std::nullopt,
         {Command::Stop}},
        {"host",
         QT_TRANSLATE_NOOP("CommandLine",
                           "The servers of DEST, an SSH destination as ssh takes it, instead of "
                           "this machine's."),
         "DEST",
         std::nullopt,
         {},
         readHost},
        {"forward",
         QT_TRANSLATE_NOOP("CommandLine",
                           "With --host: forward PORT of the host to LOCAL here (the same port "
                           "when free, else a free one), print the URL, then the forward's "
                           "state as it changes, and hold it until interrupted."),
         "PORT[:LOCAL]",
         Command::Forward,
         {},
         readForward},
    };
    return table;
}

const OptionSpec* optionNamed(const QString& name) {
    for (const OptionSpec& option : optionTable()) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

// "--list, --watch or --stop": the commands an option works with.
QString commandsText(const QList<Command>& commands) {
    QStringList names;
    for (const OptionSpec& option : optionTable()) {
        if (option.command && commands.contains(*option.command))
            names.append(QStringLiteral("--") + QLatin1String(option.name));
    }
    const QString last = names.takeLast();
    return names.isEmpty() ? last
                           : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

// Qt's help names the program by the path it was started with: the usage line
// names it "harborwatch" instead.
QString helpNamingTheProgram(QString help) {
    help = help.trimmed();
    const QString started = QCoreApplication::arguments().value(0);
    const qsizetype at = started.isEmpty() ? -1 : help.indexOf(started);
    if (at >= 0 && at < help.indexOf(QLatin1Char('\n')))
        help.replace(at, started.size(), QStringLiteral("harborwatch"));
    return help;
}

ParsedCommandLine usageError(const QString& text) {
    return {ParsedCommandLine::Outcome::Error, {}, text};
}

// --- output ----------------------------------------------------------------------

void printError(const QString& text) {
    std::fprintf(stderr, "harborwatch: %s\n", qPrintable(text));
}

// False when standard output cannot take it (a full disk, a closed pipe).
bool printOut(const QByteArray& bytes) {
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) ==
               size_t(bytes.size()) &&
           std::fflush(stdout) == 0;
}

int finishOutput(bool written) {
    if (written)
        return exitOk;
    printError(CommandLine::tr("cannot write to standard output"));
    return exitFailed;
}

// The width of the terminal on standard output; 0 when it is not one.
int terminalWidth() {
    if (!::isatty(STDOUT_FILENO))
        return 0;
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

// --- waiting -------------------------------------------------------------------

// SIGINT and SIGTERM end the call in every mode: every wait returns, and the
// sources, with every process of theirs, go as the call unwinds. The one
// place the command line waits. One per process.
class Interruption {
public:
    Interruption() {
        QObject::connect(&m_signals, &TerminationSignals::received, [this](int signalNumber) {
            if (m_signal == 0)
                m_signal = signalNumber;
            QCoreApplication::exit(); // every event loop of the thread
        });
    }

    bool happened() const { return m_signal != 0; }
    // The status of a call cut short, as a shell tells a signal's: 128 and its number.
    int status() const { return 128 + m_signal; }

    // Runs the event loop until `done` holds, `timeoutMs` has passed (when
    // above 0) or the call is interrupted, checking `done` at least every
    // 20 ms; whether it holds.
    bool waitUntil(const std::function<bool()>& done, int timeoutMs = 0) const {
        QElapsedTimer clock;
        clock.start();
        const auto over = [&] {
            return done() || happened() || (timeoutMs > 0 && clock.elapsed() >= timeoutMs);
        };
        if (!over()) {
            QEventLoop loop;
            QTimer check;
            QObject::connect(&check, &QTimer::timeout, &loop, [&] {
                if (over())
                    loop.quit();
            });
            check.start(20);
            loop.exec();
        }
        return done();
    }

    // Starts an asynchronous call with the callback it takes and waits for
    // the value it hands over; none when the call was interrupted first.
    template <typename T>
    std::optional<T> waitFor(const std::function<void(std::function<void(T)>)>& start) const {
        auto value = std::make_shared<std::optional<T>>();
        start([value](T v) { *value = std::move(v); });
        waitUntil([&value] { return value->has_value(); });
        return *value;
    }

private:
    TerminationSignals m_signals;
    int m_signal = 0;
};

// --- the calls -------------------------------------------------------------------

// The sources the call lists: those in force for the stored settings, as the
// tray has them, or with --host that host's alone.
Registry registryFor(const CommandLineRequest& request) {
    if (request.host.isEmpty())
        return sourceRegistry();
    return [host = request.host](const settings::Values&) { return hostSourcesFor(host); };
}

// Why the list failed; for a host, as the tray tells it.
void printScanError(const CommandLineRequest& request, const QString& error) {
    printError(request.host.isEmpty() ? error : hostProblemText(request.host, error));
}

// The tray's model for one call: the sources the call lists, under its filter.
class CallMonitor {
public:
    CallMonitor(const CommandLineRequest& request, SettingsStore& store,
                const Interruption& interruption)
        : m_request(request), m_interruption(interruption), m_monitor(store, registryFor(request)) {
        m_monitor.setFilterOf(
            [request](const settings::Values& stored) { return filterFor(request, stored); });
    }

    PortMonitor& monitor() { return m_monitor; }

    // One scan, waited for. False (the reason printed) when it failed or
    // the call was interrupted.
    bool scanOnce() {
        bool finished = false;
        const auto done = [&finished] { finished = true; };
        QObject::connect(&m_monitor, &PortMonitor::portsChanged, &m_monitor, done);
        QObject::connect(&m_monitor, &PortMonitor::scanErrorChanged, &m_monitor, done);
        m_monitor.scan();
        if (!m_interruption.waitUntil([&finished] { return finished; }))
            return false;
        if (!m_monitor.scanError().isEmpty()) {
            printScanError(m_request, m_monitor.scanError());
            return false;
        }
        return true;
    }

private:
    const CommandLineRequest& m_request;
    const Interruption& m_interruption;
    PortMonitor m_monitor;
};

// The listed record with what is known of it, as the table and JSON print it.
ServerRow serverRowOf(const ServerPresentation& shown, std::optional<qint64> bootTime) {
    const ListeningPort& port = shown.record();
    const ServerDetails& details = shown.details();
    ServerRow row{port.port, port.pid, port.process, shown.url(), port.address};
    const auto known = [](const QString& text) {
        return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
    };
    row.framework = known(details.framework);
    row.container = details.container;
    row.host = port.host;
    row.folder = known(details.folder);
    row.project = known(details.project);
    if (!details.arguments.isEmpty())
        row.command = details.arguments;
    // Another machine's start time counts from its own boot.
    if (const auto ms = bootTime && port.host.isEmpty() ? startedAtMs(details.startTime, *bootTime)
                                                        : std::nullopt)
        row.started = QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC);
    if (const std::optional<PortAnswer>& answer = details.answer) {
        using Kind = PortAnswer::Kind;
        if (answer->kind == Kind::Http || answer->kind == Kind::Https ||
            answer->kind == Kind::Other || answer->kind == Kind::Silent)
            row.probe = answer;
        row.title = known(answer->title);
    }
    return row;
}

// The forwards the tray program holds, as it last told their states.
void addForwardStates(QList<ServerRow>& rows) {
    const ForwardStates states = readForwardStatesFile(forwardStatesPath());
    for (ServerRow& row : rows) {
        if (const auto found = states.constFind({row.host, row.port}); found != states.cend())
            row.forward = *found;
    }
}

// Tells the state of the forward of the host's `remotePort` each time it
// changes.
void followForwardState(Forwards& forwards, const QString& host, qint64 remotePort) {
    auto told = std::make_shared<QByteArray>();
    const auto tell = [&forwards, host, remotePort, told] {
        for (const PortForward& f : forwards.of(host)) {
            const QByteArray line = f.remotePort == remotePort ? forwardStateLine(f) : QByteArray();
            if (!line.isEmpty() && line != *told) {
                *told = line;
                printOut(line);
            }
        }
    };
    QObject::connect(&forwards, &Forwards::changed, &forwards, tell);
    tell(); // a state known already
}

int runList(const CommandLineRequest& request, SettingsStore& store,
            const Interruption& interruption) {
    CallMonitor call(request, store, interruption);
    PortMonitor& monitor = call.monitor();
    if (!call.scanOnce())
        return interruption.happened() ? interruption.status() : exitFailed;
    // A host out of reach leaves its servers out, and says why.
    for (auto it = monitor.problems().cbegin(); it != monitor.problems().cend(); ++it)
        printError(problemText(it.key(), it.value()));
    // What the sources tell of each server, and what answers on its port.
    interruption.waitUntil([&monitor] { return monitor.detailsSettled(); });
    interruption.waitUntil([&monitor] { return monitor.answersSettled(); }, answersWaitMs);
    if (interruption.happened())
        return interruption.status();
    // The boot time never changes while the program runs: read once.
    const std::optional<qint64> bootTime = ProcFs().bootTime();
    QList<ServerRow> rows;
    rows.reserve(monitor.ports().size());
    for (const ListeningPort& server : monitor.ports())
        rows.append(serverRowOf(monitor.present(server), bootTime));
    if (request.json)
        addForwardStates(rows);
    if (request.json)
        return finishOutput(printOut(serverListJson(rows)));
    return finishOutput(printOut(serverTable(rows, terminalWidth()).toUtf8()));
}

// Stops the server listed on the port, as the tray's Stop Server does: only a
// record of the list just made, through the source that listed it.
int runStop(const CommandLineRequest& request, SettingsStore& store,
            const Interruption& interruption) {
    CallMonitor call(request, store, interruption);
    PortMonitor& monitor = call.monitor();
    monitor.setReadsDetails(false);
    if (!call.scanOnce())
        return interruption.happened() ? interruption.status() : exitFailed;
    // A port of this machine, or with --host of that host.
    const QList<ListeningPort>& servers = monitor.ports();
    const auto server = std::find_if(servers.cbegin(), servers.cend(), [&](const auto& s) {
        return s.port == request.stopPort && s.host == request.host;
    });
    const std::optional<ListeningPort> listed =
        server == servers.cend() ? std::nullopt : monitor.listed(*server);
    ServerSource* source = listed ? monitor.sourceOf(*listed) : nullptr;
    if (!source) {
        printError(CommandLine::tr("no listed server has port %1").arg(request.stopPort));
        return exitFailed;
    }
    const std::optional<StopResult> result =
        interruption.waitFor<StopResult>([&](std::function<void(StopResult)> done) {
            source->stop(*listed, request.force, std::move(done));
        });
    if (!result)
        return interruption.status();
    const QString name = displayName(listed->process);
    if (!result->delivered()) {
        printError(CommandLine::tr("%1 on port %2 was not stopped: %3")
                       .arg(name, QString::number(listed->port), result->reason));
        return exitFailed;
    }
    // A container's port is held by no process of its own: the engine stopped it.
    const QString line =
        listed->anyProcess
            ? (request.force ? CommandLine::tr("Killed container %1 on port %2.")
                             : CommandLine::tr("Stopped container %1 on port %2."))
                  .arg(name, QString::number(listed->port))
            : CommandLine::tr("Sent %1 to %2 (pid %3) on port %4.")
                  .arg(request.force ? QStringLiteral("SIGKILL") : QStringLiteral("SIGTERM"), name,
                       QString::number(listed->pid), QString::number(listed->port));
    return finishOutput(printOut(line.toUtf8() + '\n'));
}

// Prints `lines` unless they are empty; on a failed write, says so once and
// ends the watch.
void printWatchLines(const QByteArray& lines, int& status) {
    if (lines.isEmpty() || printOut(lines) || status != exitOk)
        return;
    printError(CommandLine::tr("cannot write to standard output"));
    status = exitFailed;
    QCoreApplication::quit();
}

// Prints a line for each server that starts or stops, as the tray's monitor
// tells them, following the settings file as the tray does, until SIGINT or
// SIGTERM.
int runWatch(const CommandLineRequest& request, SettingsStore& store,
             const Interruption& interruption) {
    store.watch();
    CallMonitor call(request, store, interruption);
    PortMonitor& monitor = call.monitor();
    monitor.setReadsDetails(false);

    int status = exitOk;
    bool listed = false; // a first list has been published
    QString shownError;
    QObject::connect(&monitor, &PortMonitor::changesFound, [&](const PortChanges& changes) {
        // The first list's servers count as started only with --initial.
        if (!listed && !request.initial)
            return;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QByteArray lines;
        for (const ListeningPort& server : changes.started)
            lines += watchLine(ServerEvent::Started, server, request.json, now);
        for (const ListeningPort& server : changes.stopped)
            lines += watchLine(ServerEvent::Stopped, server, request.json, now);
        printWatchLines(lines, status);
    });
    QObject::connect(&monitor, &PortMonitor::portsChanged, [&] { listed = true; });
    // A source's problem is told as it starts, changes and ends: on stderr,
    // or with --json among the events.
    QMap<SourceId, QString> shownProblems;
    QObject::connect(&monitor, &PortMonitor::problemsChanged, [&] {
        const QMap<SourceId, QString>& problems = monitor.problems();
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QByteArray lines;
        for (auto it = problems.cbegin(); it != problems.cend(); ++it) {
            if (shownProblems.value(it.key()) == it.value())
                continue;
            const QString line = problemText(it.key(), it.value());
            if (request.json)
                lines += problemEventLine(it.key(), line, now);
            else
                printError(line);
        }
        for (auto it = shownProblems.cbegin(); it != shownProblems.cend(); ++it) {
            if (problems.contains(it.key()))
                continue;
            if (request.json)
                lines += problemEventLine(it.key(), std::nullopt, now);
            else
                printError(problemEndedText(it.key()));
        }
        shownProblems = problems;
        printWatchLines(lines, status);
    });
    // A failed scan says nothing about which servers run; its reason is told
    // once while it lasts. A host never reached ends the watch.
    QObject::connect(&monitor, &PortMonitor::scanErrorChanged, [&] {
        const QString& error = monitor.scanError();
        if (!error.isEmpty() && error != shownError)
            printScanError(request, error);
        shownError = error;
        if (!error.isEmpty() && !request.host.isEmpty() && !listed && status == exitOk) {
            status = exitFailed;
            QCoreApplication::quit();
        }
    });
    QTimer::singleShot(0, &monitor, &PortMonitor::start);
    if (!interruption.happened())
        QCoreApplication::exec();
    return status;
}

// Forwards a port of the host here, prints the local URL and holds the
// forward until SIGINT or SIGTERM, then cancels it.
int runForward(const CommandLineRequest& request, SettingsStore& store,
               const Interruption& interruption) {
    CommandLineRequest listAll = request;
    listAll.all = true;
    CallMonitor call(listAll, store, interruption);
    call.monitor().setReadsDetails(false);
    Forwards forwards(call.monitor(), Forwards::Keeping::ForThisCallOnly);
    // The first scan waits for the connection's first answer.
    if (!call.scanOnce())
        return interruption.happened() ? interruption.status() : exitFailed;
    const auto [remotePort, wantedPort] = request.forward;
    using Forwarded = std::pair<qint64, QString>;
    const std::optional<Forwarded> forwarded =
        interruption.waitFor<Forwarded>([&](std::function<void(Forwarded)> done) {
            forwards.forward(request.host, remotePort, wantedPort,
                             [done](qint64 local, const QString& error) {
                                 done({local, error});
                             });
        });
    if (!forwarded)
        return interruption.status();
    if (forwarded->first <= 0) {
        printError(CommandLine::tr("port %1 of %2 was not forwarded: %3")
                       .arg(QString::number(remotePort), request.host, forwarded->second));
        return exitFailed;
    }
    if (!printOut(serverUrl(forwarded->first, QStringLiteral("127.0.0.1")).toUtf8() + '\n'))
        return finishOutput(false);
    followForwardState(forwards, request.host, remotePort);
    // Held until the call is interrupted.
    interruption.waitUntil([] { return false; });
    // Cancelled before the source (and its connection) goes.
    interruption.waitFor<bool>([&](std::function<void(bool)> done) {
        forwards.cancel(request.host, remotePort, [done] { done(true); });
    });
    return exitOk;
}

} // namespace

ScanFilter filterFor(const CommandLineRequest& request, const settings::Values& stored) {
    ScanFilter filter{stored.minPort, stored.maxPort, stored.allowlist};
    if (request.all) {
        filter.minPort = 1;
        filter.maxPort = highestPort;
        filter.allowlist.reset();
    }
    if (request.range) {
        filter.minPort = request.range->first;
        filter.maxPort = request.range->second;
    }
    return filter;
}

QStringList commandLineArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        QStringView name = argument;
        if (name.startsWith(QLatin1String("--")))
            name = name.sliced(2);
        else if (name.startsWith(u'-'))
            name = name.sliced(1);
        else
            name = {};
        const qsizetype equals = name.indexOf(u'=');
        const QStringView bare = equals < 0 ? name : name.first(equals);
        if (!bare.isEmpty() && qtOptionsWithValue.contains(bare)) {
            if (equals < 0)
                ++i; // its value
            continue;
        }
        if (!bare.isEmpty() && equals < 0 && qtFlags.contains(bare))
            continue;
        arguments.append(argument);
    }
    return arguments;
}

bool wantsCommandLine(int argc, char** argv) {
    return !commandLineArguments(argc, argv).isEmpty();
}

ParsedCommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(CommandLine::tr(
        "Lists the local development servers listening on TCP ports, as the tray shows them:\n"
        "the servers whose port is in the stored range and whose process is on the\n"
        "allowlist. Without options it starts the tray program."));
    for (const OptionSpec& option : optionTable()) {
        parser.addOption({QLatin1String(option.name),
                          QCoreApplication::translate("CommandLine", option.help),
                          option.valueName ? QLatin1String(option.valueName) : QString()});
    }
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();

    if (!parser.parse(QStringList{QCoreApplication::applicationName()} + arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        return {ParsedCommandLine::Outcome::Help, {}, helpNamingTheProgram(parser.helpText())};
    if (parser.isSet(version))
        return {ParsedCommandLine::Outcome::Version,
                {},
                QStringLiteral("harborwatch " HARBORWATCH_VERSION)};
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            CommandLine::tr("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    // Exactly one command.
    CommandLineRequest request;
    QStringList commands;
    for (const OptionSpec& option : optionTable()) {
        if (option.command && parser.isSet(QLatin1String(option.name))) {
            commands.append(QStringLiteral("--") + QLatin1String(option.name));
            if (commands.size() == 1)
                request.command = *option.command;
        }
    }
    if (commands.size() > 1)
        return usageError(
            CommandLine::tr("%1 and %2 cannot be combined").arg(commands[0], commands[1]));
    if (commands.isEmpty()) {
        if (parser.optionNames().isEmpty())
            return usageError(CommandLine::tr("no command given: use --list, --watch or --stop"));
        if (parser.isSet(QStringLiteral("host")) && parser.optionNames().size() == 1)
            return usageError(
                CommandLine::tr("--host needs a command: --list, --watch, --stop or --forward"));
        const QString given = parser.optionNames().first();
        const OptionSpec* option = optionNamed(given);
        const QString needs = option && !option->with.isEmpty()
                                  ? commandsText(option->with)
                                  : commandsText({Command::List, Command::Watch, Command::Stop});
        return usageError(CommandLine::tr("--%1 works only with %2").arg(given, needs));
    }

    // The modifiers work with their commands only; then the values are read.
    for (const OptionSpec& option : optionTable()) {
        const QString name = QLatin1String(option.name);
        if (!option.command && parser.isSet(name) && !option.with.isEmpty() &&
            !option.with.contains(request.command))
            return usageError(
                CommandLine::tr("--%1 works only with %2").arg(name, commandsText(option.with)));
    }
    request.json = parser.isSet(QStringLiteral("json"));
    request.all = parser.isSet(QStringLiteral("all"));
    request.initial = parser.isSet(QStringLiteral("initial"));
    request.force = parser.isSet(QStringLiteral("force"));
    if (request.command == Command::Forward && !parser.isSet(QStringLiteral("host")))
        return usageError(CommandLine::tr("--forward works only with --host"));
    for (const OptionSpec& option : optionTable()) {
        const QString name = QLatin1String(option.name);
        if (option.read && parser.isSet(name)) {
            if (const std::optional<QString> error = option.read(parser.value(name), request))
                return usageError(*error);
        }
    }
    return {ParsedCommandLine::Outcome::Run, request, {}};
}

int runCommandLine(int argc, char** argv) {
    const QStringList arguments = commandLineArguments(argc, argv);
    QCoreApplication app(argc, argv);
    installTranslation(app);
    QCoreApplication::setApplicationName(QStringLiteral("harborwatch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HARBORWATCH_VERSION));

    const ParsedCommandLine parsed = parseCommandLine(arguments);
    switch (parsed.outcome) {
    case ParsedCommandLine::Outcome::Help:
    case ParsedCommandLine::Outcome::Version:
        return finishOutput(printOut(parsed.text.toUtf8() + '\n'));
    case ParsedCommandLine::Outcome::Error:
        printError(parsed.text);
        return exitUsage;
    case ParsedCommandLine::Outcome::Run:
        break;
    }
    Interruption interruption;
    // The settings, read once for the call; a watch follows their file.
    SettingsStore store;
    const CommandLineRequest& request = parsed.request;
    // A stored range that no port can be in lists nothing, whatever runs: said
    // once, so that an empty list is not taken for a machine without servers.
    if ((request.command == Command::List || request.command == Command::Watch) &&
        filterFor(request, store.values()).rangeIsReversed())
        printError(CommandLine::tr("no port can match: minPort is above maxPort"));
    switch (request.command) {
    case Command::List:
        return runList(request, store, interruption);
    case Command::Watch:
        return runWatch(request, store, interruption);
    case Command::Stop:
        return runStop(request, store, interruption);
    case Command::Forward:
        return runForward(request, store, interruption);
    }
    return exitUsage;
}
