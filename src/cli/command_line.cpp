#include "cli/command_line.h"

#include "cli/command_line_output.h"
#include "config/settings_store.h"
#include "core/display_text.h"
#include "core/integers.h"
#include "core/presentation.h"
#include "core/process_time.h"
#include "core/port_forwarding.h"
#include "system/procfs.h"
#include "system/termination_signals.h"
#include "core/translation.h"
#include "monitor/forward_states.h"
#include "monitor/port_monitor.h"
#include "sources/registry.h"
#include "sources/source_set.h"

#include "harborwatch_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The context of this file's texts for translation.
struct CommandLine {
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

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

std::optional<qint64> portValue(QStringView text) {
    return parsePort(text.trimmed());
}

// "LO-HI", or "PORT" for one port.
std::optional<std::pair<qint64, qint64>> rangeValue(QStringView text) {
    const qsizetype dash = text.indexOf(u'-');
    const auto low = portValue(dash < 0 ? text : text.first(dash));
    const auto high = portValue(dash < 0 ? text : text.sliced(dash + 1));
    if (!low || !high || *low > *high)
        return std::nullopt;
    return std::pair{*low, *high};
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

// SIGINT and SIGTERM end the call in every mode: every wait returns, and the
// sources, with every process of theirs, go as the call unwinds. One per
// process.
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

private:
    TerminationSignals m_signals;
    int m_signal = 0;
};

// The sources of the call and one scan of them, as the tray makes it.
class OneScan {
public:
    explicit OneScan(const CommandLineRequest& request) : m_sources(registryFor(request)) {
        const settings::Values stored = SettingsStore().values();
        m_sources.update(stored);
        ScanFilter filter = filterFor(request, stored);
        filter.sources = m_sources.identity();
        QEventLoop loop;
        m_sources.scan(filter, [&](ScanResult result) {
            m_result = std::move(result);
            loop.quit();
        });
        loop.exec();
    }

    const ScanResult& result() const { return m_result; }
    ServerSource* sourceOf(const ListeningPort& record) const { return m_sources.sourceOf(record); }

private:
    SourceSet m_sources;
    ScanResult m_result;
};

// The record with what its source tells of it.
ServerRow serverRowOf(const ListeningPort& port, const ServerDetails& details,
                      const settings::PortChoices& choices, std::optional<qint64> bootTime) {
    const ServerPresentation shown(port, details, serverChoice(choices, port));
    ServerRow row{port.port, port.pid, port.process, shown.url(), port.address};
    if (!details.framework.isEmpty())
        row.framework = details.framework;
    row.container = details.container;
    row.host = port.host;
    if (!details.folder.isEmpty())
        row.folder = details.folder;
    if (!details.project.isEmpty())
        row.project = details.project;
    if (!details.arguments.isEmpty())
        row.command = details.arguments;
    if (const auto ms = bootTime ? startedAtMs(details.startTime, *bootTime) : std::nullopt)
        row.started = QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC);
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

// Tells the state of the forward of `remotePort` each time it changes.
void followForwardState(PortForwarding& forwarding, qint64 remotePort) {
    auto told = std::make_shared<QByteArray>();
    const auto tell = [&forwarding, remotePort, told] {
        for (const PortForward& f : forwarding.forwards()) {
            const QByteArray line = f.remotePort == remotePort ? forwardStateLine(f) : QByteArray();
            if (!line.isEmpty() && line != *told) {
                *told = line;
                printOut(line);
            }
        }
    };
    forwarding.setForwardsChanged(tell);
    tell(); // a state known already
}

int runList(const CommandLineRequest& request, const Interruption& interruption) {
    const OneScan scan(request);
    if (interruption.happened())
        return interruption.status();
    if (!scan.result().ok()) {
        printScanError(request, scan.result().error);
        return exitFailed;
    }
    // A host out of reach leaves its servers out, and says why.
    const QMap<SourceId, QString>& problems = scan.result().problems;
    for (auto it = problems.cbegin(); it != problems.cend(); ++it)
        printError(problemText(it.key(), it.value()));
    // The boot time never changes while the program runs: read once.
    const std::optional<qint64> bootTime = ProcFs().bootTime();
    const settings::PortChoices choices = SettingsStore().values().ports;
    QList<ServerRow> rows;
    rows.reserve(scan.result().ports.size());
    for (const ListeningPort& server : scan.result().ports) {
        const ServerSource* source = scan.sourceOf(server);
        // Another machine's start time counts from its own boot.
        rows.append(serverRowOf(server, source ? source->details(server) : ServerDetails{},
                                choices, server.host.isEmpty() ? bootTime : std::nullopt));
    }
    if (request.json)
        addForwardStates(rows);
    if (request.json)
        return finishOutput(printOut(serverListJson(rows)));
    return finishOutput(printOut(serverTable(rows, terminalWidth()).toUtf8()));
}

int runStop(const CommandLineRequest& request, const Interruption& interruption) {
    const OneScan scan(request);
    if (interruption.happened())
        return interruption.status();
    if (!scan.result().ok()) {
        printScanError(request, scan.result().error);
        return exitFailed;
    }
    const QList<ListeningPort>& servers = scan.result().ports;
    // A port of this machine, or with --host of that host.
    const auto server = std::find_if(servers.cbegin(), servers.cend(), [&](const auto& s) {
        return s.port == request.stopPort && s.host == request.host;
    });
    ServerSource* source = server == servers.cend() ? nullptr : scan.sourceOf(*server);
    if (!source) {
        printError(CommandLine::tr("no listed server has port %1").arg(request.stopPort));
        return exitFailed;
    }
    std::optional<StopResult> result;
    QEventLoop loop;
    source->stop(*server, request.force, [&](StopResult r) {
        result = std::move(r);
        loop.quit();
    });
    if (!result)
        loop.exec();
    if (!result)
        return interruption.status();
    const QString name = displayName(server->process);
    if (!result->delivered()) {
        printError(CommandLine::tr("%1 on port %2 was not stopped: %3")
                       .arg(name, QString::number(server->port), result->reason));
        return exitFailed;
    }
    // A container's port is held by no process of its own: the engine stopped it.
    const QString line =
        server->anyProcess
            ? (request.force ? CommandLine::tr("Killed container %1 on port %2.")
                             : CommandLine::tr("Stopped container %1 on port %2."))
                  .arg(name, QString::number(server->port))
            : CommandLine::tr("Sent %1 to %2 (pid %3) on port %4.")
                  .arg(request.force ? QStringLiteral("SIGKILL") : QStringLiteral("SIGTERM"), name,
                       QString::number(server->pid), QString::number(server->port));
    printOut(line.toUtf8() + '\n');
    return exitOk;
}

// Prints a line for each server that starts or stops, as the tray's monitor
// tells them, following the settings file as the tray does, until SIGINT or
// SIGTERM.
int runWatch(const CommandLineRequest& request) {
    SettingsStore store;
    store.watch();
    PortMonitor monitor(store, registryFor(request));
    monitor.setReadsDetails(false);
    monitor.setFilterOf(
        [request](const settings::Values& stored) { return filterFor(request, stored); });

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
        if (!lines.isEmpty() && !printOut(lines) && status == exitOk) {
            printError(CommandLine::tr("cannot write to standard output"));
            status = exitFailed;
            QCoreApplication::quit();
        }
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
        if (!lines.isEmpty() && !printOut(lines) && status == exitOk) {
            printError(CommandLine::tr("cannot write to standard output"));
            status = exitFailed;
            QCoreApplication::quit();
        }
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
    QCoreApplication::exec();
    return status;
}

// Forwards a port of the host here, prints the local URL and holds the
// forward until SIGINT or SIGTERM, then cancels it.
int runForward(const CommandLineRequest& request, const Interruption& interruption) {
    const std::unique_ptr<ServerSource> source = hostSource(request.host);
    PortForwarding* forwarding = source->forwarding();
    // The first scan waits for the connection's first answer.
    std::optional<ScanResult> scanned;
    QEventLoop loop;
    source->scan({1, highestPort, std::nullopt, {SourceId::ofHost(request.host)}},
                 [&](ScanResult result) {
                     scanned = std::move(result);
                     loop.quit();
                 });
    if (!scanned)
        loop.exec();
    if (!scanned)
        return interruption.status();
    if (!scanned->ok()) {
        printScanError(request, scanned->error);
        return exitFailed;
    }
    const auto [remotePort, wantedPort] = request.forward;
    std::optional<std::pair<qint64, QString>> forwarded;
    forwarding->forward(remotePort, wantedPort, [&](qint64 local, const QString& error) {
        forwarded = {local, error};
        loop.quit();
    });
    if (!forwarded)
        loop.exec();
    if (!forwarded)
        return interruption.status();
    if (forwarded->first <= 0) {
        printError(CommandLine::tr("port %1 of %2 was not forwarded: %3")
                       .arg(QString::number(remotePort), request.host, forwarded->second));
        return exitFailed;
    }
    if (!printOut(serverUrl(forwarded->first, QStringLiteral("127.0.0.1")).toUtf8() + '\n'))
        return finishOutput(false);
    followForwardState(*forwarding, remotePort);
    QCoreApplication::exec();
    // Cancelled before the source (and its connection) goes.
    bool cancelled = false;
    forwarding->cancelForward(remotePort, [&] {
        cancelled = true;
        loop.quit();
    });
    if (!cancelled)
        loop.exec();
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
    const QCommandLineOption list(
        QStringLiteral("list"),
        CommandLine::tr("Print the servers as a table, or as JSON with --json."));
    const QCommandLineOption watch(
        QStringLiteral("watch"),
        CommandLine::tr("Print a line for each server that starts or stops, until interrupted."));
    const QCommandLineOption stop(QStringLiteral("stop"),
                                  CommandLine::tr("Stop the server listed on PORT with SIGTERM."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption json(
        QStringLiteral("json"),
        CommandLine::tr("Print JSON: one array with --list, one object per line "
                        "with --watch."));
    const QCommandLineOption all(
        QStringLiteral("all"),
        CommandLine::tr(
            "Every listening TCP port of any process you may inspect, whatever the stored range "
            "and allowlist."));
    const QCommandLineOption range(QStringLiteral("range"),
                                   CommandLine::tr("Ports LO to HI instead of the stored range."),
                                   QStringLiteral("LO-HI"));
    const QCommandLineOption initial(
        QStringLiteral("initial"),
        CommandLine::tr("With --watch: first print the servers already running, as started."));
    const QCommandLineOption force(
        QStringLiteral("force"), CommandLine::tr("With --stop: send SIGKILL instead of SIGTERM."));
    const QCommandLineOption host(
        QStringLiteral("host"),
        CommandLine::tr("The servers of DEST, an SSH destination as ssh takes it, instead of "
                        "this machine's."),
        QStringLiteral("DEST"));
    const QCommandLineOption forward(
        QStringLiteral("forward"),
        CommandLine::tr("With --host: forward PORT of the host to LOCAL here (the same port when "
                        "free, else a free one), print the URL, then the forward's state as it "
                        "changes, and hold it until interrupted."),
        QStringLiteral("PORT[:LOCAL]"));
    parser.addOptions({list, watch, stop, json, all, range, initial, force, host, forward});
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

    CommandLineRequest request;
    QStringList commands;
    for (const QCommandLineOption* option : {&list, &watch, &stop, &forward}) {
        if (parser.isSet(*option))
            commands.append("--" + option->names().first());
    }
    if (commands.size() > 1)
        return usageError(
            CommandLine::tr("%1 and %2 cannot be combined").arg(commands[0], commands[1]));
    if (commands.isEmpty()) {
        if (parser.optionNames().isEmpty())
            return usageError(CommandLine::tr("no command given: use --list, --watch or --stop"));
        if (parser.isSet(host) && parser.optionNames().size() == 1)
            return usageError(CommandLine::tr(
                "--host needs a command: --list, --watch, --stop or --forward"));
        const QString given = parser.optionNames().first();
        QString needs = QStringLiteral("--list, --watch or --stop");
        if (given == json.names().first())
            needs = QStringLiteral("--list or --watch");
        else if (given == initial.names().first())
            needs = QStringLiteral("--watch");
        else if (given == force.names().first())
            needs = QStringLiteral("--stop");
        return usageError(CommandLine::tr("--%1 works only with %2").arg(given, needs));
    }
    if (parser.isSet(list))
        request.command = CommandLineRequest::Command::List;
    else if (parser.isSet(watch))
        request.command = CommandLineRequest::Command::Watch;
    else if (parser.isSet(stop))
        request.command = CommandLineRequest::Command::Stop;
    else
        request.command = CommandLineRequest::Command::Forward;

    using Command = CommandLineRequest::Command;
    const struct {
        const QCommandLineOption& option;
        bool allowed;
        const char* needs;
    } modifiers[] = {
        {json, request.command == Command::List || request.command == Command::Watch,
         "--list or --watch"},
        {all, request.command != Command::Forward, "--list, --watch or --stop"},
        {range, request.command != Command::Forward, "--list, --watch or --stop"},
        {initial, request.command == Command::Watch, "--watch"},
        {force, request.command == Command::Stop, "--stop"},
    };
    for (const auto& modifier : modifiers) {
        if (parser.isSet(modifier.option) && !modifier.allowed)
            return usageError(
                CommandLine::tr("--%1 works only with %2")
                    .arg(modifier.option.names().first(), QLatin1String(modifier.needs)));
    }

    request.json = parser.isSet(json);
    request.all = parser.isSet(all);
    request.initial = parser.isSet(initial);
    request.force = parser.isSet(force);
    if (parser.isSet(range)) {
        request.range = rangeValue(parser.value(range));
        if (!request.range)
            return usageError(
                CommandLine::tr("bad value for --range: '%1' (expected LO-HI, ports from 1 to "
                                "65535)")
                    .arg(parser.value(range)));
    }
    if (request.command == Command::Stop) {
        const auto port = portValue(parser.value(stop));
        if (!port)
            return usageError(
                CommandLine::tr("bad value for --stop: '%1' (expected a port from 1 to 65535)")
                    .arg(parser.value(stop)));
        request.stopPort = *port;
    }
    if (parser.isSet(host)) {
        request.host = parser.value(host).trimmed();
        if (!settings::isSshDestination(request.host))
            return usageError(CommandLine::tr("bad value for --host: '%1' (expected an SSH "
                                              "destination such as box or me@box)")
                                  .arg(parser.value(host)));
    }
    if (request.command == Command::Forward) {
        if (request.host.isEmpty())
            return usageError(CommandLine::tr("--forward works only with --host"));
        const QString value = parser.value(forward);
        const qsizetype colon = value.indexOf(u':');
        const auto remote = portValue(colon < 0 ? QStringView(value) : QStringView(value).first(colon));
        const auto local =
            colon < 0 ? std::optional<qint64>(0) : portValue(QStringView(value).sliced(colon + 1));
        if (!remote || !local)
            return usageError(CommandLine::tr("bad value for --forward: '%1' (expected PORT or "
                                              "PORT:LOCAL, ports from 1 to 65535)")
                                  .arg(value));
        request.forward = {*remote, *local};
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
    // A stored range that no port can be in lists nothing, whatever runs: said
    // once, so that an empty list is not taken for a machine without servers.
    using Command = CommandLineRequest::Command;
    if ((parsed.request.command == Command::List || parsed.request.command == Command::Watch) &&
        filterFor(parsed.request, SettingsStore().values()).rangeIsReversed())
        printError(CommandLine::tr("no port can match: minPort is above maxPort"));
    switch (parsed.request.command) {
    case CommandLineRequest::Command::List:
        return runList(parsed.request, interruption);
    case CommandLineRequest::Command::Watch:
        return runWatch(parsed.request);
    case CommandLineRequest::Command::Stop:
        return runStop(parsed.request, interruption);
    case CommandLineRequest::Command::Forward:
        return runForward(parsed.request, interruption);
    }
    return exitUsage;
}
