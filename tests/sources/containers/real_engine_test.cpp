// The container source and the real program against real engines that the
// tests start for themselves, each in a network namespace of its own:
// - a Docker daemon (engine_probe.sh): a busybox httpd container is listed
//   with its published port, its details and command line come from the
//   engine, and Stop Container stops it;
// - the program's `--watch --json`, run in the daemon's namespace so that it
//   sees docker-proxy hold the ports, over containers started and killed
//   again and again and over the daemon stopping and starting again: every
//   event names its container, and no stop is lost;
// - Podman's API service (podman_probe.sh): a stop and a kill are reported.
// Each skips with its reason where its engine cannot run.
#include "sources/containers/container_source.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <csignal>
#include <iostream>
#include <unistd.h>

namespace {

const QString kDockerProbe = QStringLiteral(HW_TEST_DATA_DIR "/engine_probe.sh");
const QString kPodmanProbe = QStringLiteral(HW_TEST_DATA_DIR "/podman_probe.sh");
const QString kProgram = QStringLiteral(HW_PROGRAM_PATH);
constexpr int kSkipped = 77;

struct ProbeRun {
    int code;
    QString output;
};

ProbeRun probe(const QString& script, const QStringList& arguments, int timeoutMs = 120000) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/bin/sh"), QStringList{script} + arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, script + QStringLiteral(" did not finish")};
    }
    return {process.exitCode(), QString::fromLocal8Bit(process.readAll()).trimmed()};
}

bool waitFor(const std::function<bool()>& condition, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

std::optional<ListeningPort> listed(const ContainerSource& source, qint64 port) {
    for (const ListeningPort& p : source.ports()) {
        if (p.port == port)
            return p;
    }
    return std::nullopt;
}

// An engine of the test's own, under a short folder (a unix socket's path is
// limited to 107 bytes), ended with everything in it whatever happens.
class Engine {
public:
    explicit Engine(const QString& script) : m_script(script) {}
    ~Engine() {
        if (m_started)
            probe(m_script, {QStringLiteral("stop"), m_dir.path()});
    }

    // The socket's path, or why no engine runs here (`skipped`).
    QString start(bool* skipped) {
        if (!m_dir.isValid()) {
            *skipped = false;
            return QStringLiteral("no temporary folder");
        }
        const ProbeRun run = probe(m_script, {QStringLiteral("start"), m_dir.path()});
        m_started = true;
        *skipped = run.code == kSkipped;
        if (run.code != 0)
            return run.output;
        m_netns = run.output.section(QLatin1Char('\n'), -2, -2);
        m_socket = run.output.section(QLatin1Char('\n'), -1);
        return {};
    }
    ProbeRun run(const QString& name, qint64 port, const QStringList& options = {}) const {
        return probe(m_script,
                     QStringList{QStringLiteral("run"), m_dir.path(), name, QString::number(port)} +
                         options);
    }
    // The engine's own client.
    ProbeRun client(const QString& tool, const QStringList& arguments) const {
        return probe(m_script, QStringList{tool, m_dir.path()} + arguments);
    }
    ProbeRun command(const QString& command) const {
        return probe(m_script, {command, m_dir.path()});
    }

    const QString& socket() const { return m_socket; }
    const QString& netns() const { return m_netns; }
    QString path() const { return m_dir.path(); }

private:
    QString m_script;
    QTemporaryDir m_dir{QStringLiteral("/tmp/hw-engine-XXXXXX")};
    bool m_started = false;
    QString m_socket;
    QString m_netns;
};

TEST(RealEngine, ListsDetailsAndStopsABusyboxServer) {
    QElapsedTimer clock;
    clock.start();
    Engine docker(kDockerProbe);
    bool skipped = false;
    if (const QString why = docker.start(&skipped); !why.isEmpty()) {
        if (skipped)
            GTEST_SKIP() << "no Docker daemon could start here: " << qPrintable(why);
        FAIL() << qPrintable(why);
    }
    const qint64 startup = clock.elapsed();

    // The daemon runs in a network namespace of its own: the port is free there.
    constexpr qint64 port = 38080;
    const QString name = QStringLiteral("harborwatch-probe-web");
    ContainerSource source({{docker.socket(), false}});
    clock.restart();
    const ProbeRun ran = docker.run(name, port);
    ASSERT_EQ(ran.code, 0) << qPrintable(ran.output);
    ASSERT_TRUE(waitFor([&] { return listed(source, port).has_value(); }, 20000))
        << qPrintable(source.problem());
    const qint64 untilListed = clock.elapsed();
    EXPECT_TRUE(source.problem().isEmpty()) << qPrintable(source.problem());

    const ListeningPort record = *listed(source, port);
    EXPECT_EQ(record.process, name);
    EXPECT_EQ(record.pid, 0);
    EXPECT_EQ(record.address, QStringLiteral("0.0.0.0"));
    EXPECT_EQ(record.origin, SourceId::of(SourceId::Kind::Containers));
    const ServerDetails details = source.details(record);
    EXPECT_EQ(details.folder, docker.path() + QStringLiteral("/project"));
    EXPECT_EQ(details.project, QStringLiteral("probe"));
    // The command line as the engine started the process.
    EXPECT_EQ(details.arguments,
              QStringList({"/bin/busybox", "httpd", "-f", "-p", "80", "-h", "/www"}));
    ASSERT_TRUE(details.container.has_value());
    EXPECT_EQ(details.container->name, name);
    EXPECT_EQ(details.container->image, QStringLiteral("harborwatch-probe:busybox"));
    EXPECT_EQ(details.container->service, QStringLiteral("web"));
    EXPECT_EQ(details.container->engine, QStringLiteral("Docker"));
    EXPECT_EQ(details.container->id.size(), 64);
    std::cout << "[ engine   ] Docker daemon up in " << startup << " ms; listed " << untilListed
              << " ms after docker run: port " << record.port << " " << qPrintable(record.process)
              << " " << qPrintable(details.container->image) << " at " << qPrintable(record.address)
              << ", project " << qPrintable(details.project) << ", command "
              << qPrintable(details.commandLine) << std::endl;

    std::optional<bool> runs;
    source.stillRuns(record, [&](bool r) { runs = r; });
    ASSERT_TRUE(waitFor([&] { return runs.has_value(); }, 10000));
    EXPECT_TRUE(*runs);

    // busybox as the container's first process ignores SIGTERM: the engine
    // waits out its grace period (10 s) and kills it.
    clock.restart();
    std::optional<StopResult> stopped;
    source.stop(record, false, [&](StopResult r) { stopped = r; });
    ASSERT_TRUE(waitFor([&] { return stopped.has_value(); }, 40000));
    EXPECT_EQ(stopped->outcome, StopOutcome::Delivered) << qPrintable(stopped->reason);
    const qint64 stopTook = clock.elapsed();
    EXPECT_TRUE(waitFor([&] { return !listed(source, port); }, 10000));
    runs.reset();
    source.stillRuns(record, [&](bool r) { runs = r; });
    ASSERT_TRUE(waitFor([&] { return runs.has_value(); }, 10000));
    EXPECT_FALSE(*runs);
    std::cout << "[ engine   ] stopped in " << stopTook << " ms" << std::endl;

    // The engine goes away: nothing to report, as when there was none.
    docker.command(QStringLiteral("stop"));
    EXPECT_TRUE(
        waitFor([&] { return source.problem().isEmpty() && source.ports().isEmpty(); }, 10000))
        << qPrintable(source.problem());
}

// The real program's `harborwatch --watch --json --initial`, in the engine's
// network namespace, pointed at the engine, with settings of its own.
class Watch {
public:
    Watch(const QString& netns, const QString& socket) {
        QDir(m_home.path()).mkpath(QStringLiteral("config"));
        QDir(m_home.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_home.filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* variable :
             {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(variable));
        env.insert(QStringLiteral("DOCKER_HOST"), QStringLiteral("unix://") + socket);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("run")));
        m_process.setProcessEnvironment(env);
        m_process.setProgram(QStringLiteral("nsenter"));
        m_process.setArguments({QStringLiteral("--net=") + netns, kProgram,
                                QStringLiteral("--watch"), QStringLiteral("--json"),
                                QStringLiteral("--initial")});
        m_process.start();
    }
    ~Watch() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // The next start or stop, or an empty object when none comes in `ms`.
    // Problems go by, counted.
    QJsonObject next(int ms) {
        const QDeadlineTimer deadline(ms);
        for (;;) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                const QJsonObject event = QJsonDocument::fromJson(line).object();
                const QString kind = event.value(QStringLiteral("event")).toString();
                if (kind == QLatin1String("started") || kind == QLatin1String("stopped"))
                    return event;
                std::cout << "[ watch    ] " << line.constData() << std::endl;
                ++problems;
            }
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning ||
                !m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
                return {};
        }
    }
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

    int problems = 0;

private:
    QTemporaryDir m_home;
    QProcess m_process;
};

// What an event says, as "started 8081 0 name".
std::string said(const QJsonObject& event) {
    return QStringLiteral("%1 %2 %3 %4")
        .arg(event.value(QStringLiteral("event")).toString())
        .arg(event.value(QStringLiteral("port")).toInteger())
        .arg(event.value(QStringLiteral("pid")).toInteger())
        .arg(event.value(QStringLiteral("process")).toString())
        .toStdString();
}

std::string expected(const char* event, qint64 port, const QString& name) {
    return QStringLiteral("%1 %2 0 %3").arg(QLatin1String(event)).arg(port).arg(name).toStdString();
}

TEST(RealEngine, TheProgramNamesEveryContainerThroughStartsKillsAndARestart) {
    Engine docker(kDockerProbe);
    bool skipped = false;
    if (const QString why = docker.start(&skipped); !why.isEmpty()) {
        if (skipped)
            GTEST_SKIP() << "no Docker daemon could start here: " << qPrintable(why);
        FAIL() << qPrintable(why);
    }
    // Comes back with the daemon; Docker stops it in 2 s.
    const QString keeper = QStringLiteral("keeper");
    ASSERT_EQ(docker.run(keeper, 8090, {"--restart", "always", "--stop-timeout", "2"}).code, 0);
    Watch watch(docker.netns(), docker.socket());
    ASSERT_EQ(said(watch.next(20000)), expected("started", 8090, keeper))
        << qPrintable(watch.errors());

    // docker-proxy listens before the container runs, and goes after it.
    constexpr int cycles = 8;
    int named = 0;
    for (int i = 0; i < cycles; ++i) {
        SCOPED_TRACE(i);
        const QString name = QStringLiteral("cycle-%1").arg(i);
        ASSERT_EQ(docker.run(name, 8081).code, 0);
        const std::string started = said(watch.next(15000));
        EXPECT_EQ(started, expected("started", 8081, name));
        ASSERT_EQ(docker.client(QStringLiteral("docker"), {QStringLiteral("kill"), name}).code, 0);
        const std::string stopped = said(watch.next(15000));
        EXPECT_EQ(stopped, expected("stopped", 8081, name));
        named += (started == expected("started", 8081, name)) +
                 (stopped == expected("stopped", 8081, name));
        docker.client(QStringLiteral("docker"), {QStringLiteral("rm"), name});
    }

    // The daemon stops: its socket goes at once, its containers over their
    // stop timeouts. Both stops are told, as the containers'.
    const QString quick = QStringLiteral("quick");
    ASSERT_EQ(docker.run(quick, 8092, {"--stop-timeout", "1"}).code, 0);
    ASSERT_EQ(said(watch.next(15000)), expected("started", 8092, quick));
    ASSERT_EQ(docker.command(QStringLiteral("down")).code, 0);
    std::vector<std::string> stops = {said(watch.next(15000)), said(watch.next(15000))};
    std::sort(stops.begin(), stops.end());
    EXPECT_EQ(stops, (std::vector<std::string>{expected("stopped", 8090, keeper),
                                               expected("stopped", 8092, quick)}));

    // Back again: the keeper comes back with it, as itself.
    QElapsedTimer back;
    back.start();
    const ProbeRun up = docker.command(QStringLiteral("up"));
    ASSERT_EQ(up.code, 0) << qPrintable(up.output);
    const qint64 daemonUp = back.elapsed();
    EXPECT_EQ(said(watch.next(20000)), expected("started", 8090, keeper));
    const qint64 told = back.elapsed();
    // Nothing else: no stop told twice, no proxy.
    const QJsonObject more = watch.next(3000);
    EXPECT_TRUE(more.isEmpty()) << said(more);
    EXPECT_EQ(watch.problems, 0);
    std::cout << "[ engine   ] " << named << " of " << 2 * cycles
              << " starts and stops named after their container; after the daemon's restart "
                 "the keeper was told "
              << told << " ms after the start (the daemon answered after " << daemonUp << " ms)"
              << std::endl;
}

TEST(RealPodman, ReportsAStopAndAKill) {
    Engine podman(kPodmanProbe);
    bool skipped = false;
    if (const QString why = podman.start(&skipped); !why.isEmpty()) {
        if (skipped)
            GTEST_SKIP() << "Podman cannot run here: " << qPrintable(why);
        FAIL() << qPrintable(why);
    }
    constexpr qint64 port = 38111;
    const QString name = QStringLiteral("harborwatch-probe-pod");
    ContainerSource source({{podman.socket(), true}});
    ASSERT_EQ(podman.run(name, port).code, 0);
    ASSERT_TRUE(waitFor([&] { return listed(source, port).has_value(); }, 20000))
        << qPrintable(source.problem());
    const ServerDetails details = source.details(*listed(source, port));
    ASSERT_TRUE(details.container.has_value());
    EXPECT_EQ(details.container->engine, QStringLiteral("Podman"));
    EXPECT_EQ(details.arguments,
              QStringList({"/bin/busybox", "httpd", "-f", "-p", "80", "-h", "/www"}));

    for (const QStringList& ending :
         {QStringList{QStringLiteral("stop"), QStringLiteral("-t"), QStringLiteral("1"), name},
          QStringList{QStringLiteral("kill"), name}}) {
        SCOPED_TRACE(ending.first().toStdString());
        if (!listed(source, port)) {
            ASSERT_EQ(podman.client(QStringLiteral("podman"), {QStringLiteral("start"), name}).code,
                      0);
            ASSERT_TRUE(waitFor([&] { return listed(source, port).has_value(); }, 20000))
                << qPrintable(source.problem());
        }
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(podman.client(QStringLiteral("podman"), ending).code, 0);
        EXPECT_TRUE(waitFor([&] { return !listed(source, port); }, 10000));
        std::cout << "[ engine   ] Podman: podman " << qPrintable(ending.first()) << " told within "
                  << clock.elapsed() << " ms" << std::endl;
    }
    EXPECT_TRUE(source.problem().isEmpty()) << qPrintable(source.problem());
}

} // namespace
