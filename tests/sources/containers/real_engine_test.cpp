// The source against a real Docker daemon that the test starts for itself
// (engine_probe.sh): a busybox httpd container is listed with its published
// port, its details come from the engine, and Stop Container stops it.
#include "sources/containers/container_source.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <iostream>
#include <unistd.h>

namespace {

const QString kProbe = QStringLiteral(HW_TEST_DATA_DIR "/engine_probe.sh");

struct ProbeRun {
    int code;
    QString output;
};

ProbeRun probe(const QStringList& arguments, int timeoutMs = 120000) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/bin/sh"), QStringList{kProbe} + arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, QStringLiteral("engine_probe.sh did not finish")};
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

TEST(RealEngine, ListsDetailsAndStopsABusyboxServer) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "starting a Docker daemon needs root";
    // A short path: a unix socket's path is limited to 107 bytes.
    QTemporaryDir dir(QStringLiteral("/tmp/hw-engine-XXXXXX"));
    ASSERT_TRUE(dir.isValid());

    QElapsedTimer clock;
    clock.start();
    const ProbeRun started = probe({QStringLiteral("start"), dir.path()});
    // Whatever happened, the daemon and its containers go with the test.
    const auto stopEngine = qScopeGuard([&] { probe({QStringLiteral("stop"), dir.path()}); });
    if (started.code != 0)
        GTEST_SKIP() << "no Docker daemon could start here: " << qPrintable(started.output);
    const qint64 startup = clock.elapsed();
    const QString socket = started.output.section(QLatin1Char('\n'), -1);

    // The daemon runs in a network namespace of its own: the port is free there.
    constexpr qint64 port = 38080;
    const QString name = QStringLiteral("harborwatch-probe-web");
    ContainerSource source({{socket, false}});
    clock.restart();
    const ProbeRun ran = probe({QStringLiteral("run"), dir.path(), name, QString::number(port)});
    ASSERT_EQ(ran.code, 0) << qPrintable(ran.output);
    ASSERT_TRUE(waitFor([&] { return listed(source, port).has_value(); }, 20000))
        << qPrintable(source.problem());
    const qint64 untilListed = clock.elapsed();
    EXPECT_TRUE(source.problem().isEmpty()) << qPrintable(source.problem());

    const ListeningPort record = *listed(source, port);
    EXPECT_EQ(record.process, name);
    EXPECT_EQ(record.pid, 0);
    EXPECT_EQ(record.address, QStringLiteral("0.0.0.0"));
    EXPECT_EQ(record.origin, QStringLiteral("containers"));
    const ServerDetails details = source.details(record);
    EXPECT_EQ(details.folder, dir.path() + QStringLiteral("/project"));
    EXPECT_EQ(details.project, QStringLiteral("probe"));
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
    probe({QStringLiteral("stop"), dir.path()});
    EXPECT_TRUE(
        waitFor([&] { return source.problem().isEmpty() && source.ports().isEmpty(); }, 10000))
        << qPrintable(source.problem());
}

} // namespace
