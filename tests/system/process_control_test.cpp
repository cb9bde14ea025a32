// Signals to listed servers with real processes, real /proc and real signals.
#include "support/test_support.h"
#include "system/local_servers.h"
#include "system/process_control.h"
#include "system/procfs.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>

#include <csignal>
#include <limits>
#include <unistd.h>

namespace {

constexpr int waitMs = 20'000; // generous deadline for conditions under sanitizers

// The record a scan would list for the listener: its port, pid, name and the
// start time read now.
ListeningPort recordOf(const ListenerProcess& listener, const QString& name) {
    return {listener.port(), listener.pid(), name, ProcFs().startTime(listener.pid()).value_or(0)};
}

// What the sources of this machine's servers answer for a stop, and whether
// the server still runs.
StopResult stopOf(const LocalServers& source, const ListeningPort& listed, bool force) {
    return source.stop(listed, force);
}
bool stillRunsOf(const LocalServers& source, const ListeningPort& listed) {
    return source.stillRuns(listed);
}

} // namespace

TEST(ProcessControl, StopsTheListedListener) {
    for (const bool checkSocket : {true, false}) {
        SCOPED_TRACE(checkSocket ? "with the socket check" : "pid and start time only");
        ListenerProcess listener(QStringLiteral("hw-stop-me"));
        ASSERT_TRUE(listener.isListening());
        const ListeningPort listed = recordOf(listener, QStringLiteral("hw-stop-me"));
        ASSERT_NE(listed.startTime, 0u);

        const StopResult result = stopListedServer(listed, SIGTERM, checkSocket);
        EXPECT_TRUE(result.delivered()) << result.reason.toStdString();
        EXPECT_TRUE(result.reason.isEmpty());
        ASSERT_TRUE(listener.waitForExit(waitMs));
        // Its SIGTERM handler makes it exit 0; any other signal would not.
        EXPECT_EQ(listener.exitCode(), 0);
    }
}

TEST(ProcessControl, ProcessThatExitedIsRefused) {
    ListenerProcess listener(QStringLiteral("hw-gone"));
    ASSERT_TRUE(listener.isListening());
    const ListeningPort listed = recordOf(listener, QStringLiteral("hw-gone"));
    ::kill(static_cast<pid_t>(listed.pid), SIGKILL);
    ASSERT_TRUE(listener.waitForExit(waitMs)); // reaped: the pid is free

    const LocalServers source;
    const StopResult result = stopOf(source, listed, false);
    EXPECT_EQ(result.outcome, StopOutcome::Exited);
    EXPECT_EQ(result.reason, QStringLiteral("it exited already"));
    EXPECT_FALSE(stillRunsOf(source, listed));
}

// The pid is alive but belongs to a process other than the listed one, as when
// the listed server exited and its pid was given to a new process: nothing is
// sent to it.
TEST(ProcessControl, LivePidWithAnotherStartTimeIsRefusedAndSurvives) {
    ListenerProcess listener(QStringLiteral("hw-newcomer"));
    ASSERT_TRUE(listener.isListening());
    ListeningPort listed = recordOf(listener, QStringLiteral("hw-newcomer"));
    listed.startTime -= 1;

    for (const int signal : {SIGTERM, SIGKILL}) {
        const StopResult result = stopListedServer(listed, signal);
        EXPECT_EQ(result.outcome, StopOutcome::PidReused);
        EXPECT_EQ(result.reason, QStringLiteral("another process has its pid now"));
    }
    EXPECT_FALSE(listedServerStillRuns(listed));
    EXPECT_FALSE(listener.waitForExit(300));
    EXPECT_TRUE(processExists(listener.pid()));
}

TEST(ProcessControl, ProcessThatNoLongerListensOnThePortIsRefused) {
    ListenerProcess listener(QStringLiteral("hw-moved"));
    ASSERT_TRUE(listener.isListening());
    ListeningPort listed = recordOf(listener, QStringLiteral("hw-moved"));
    listed.port = listener.port() == 65535 ? 1 : listener.port() + 1;

    const StopResult result = stopListedServer(listed, SIGTERM);
    EXPECT_EQ(result.outcome, StopOutcome::NotListening);
    EXPECT_EQ(result.reason, QStringLiteral("it no longer listens on port %1").arg(listed.port));
    EXPECT_FALSE(listener.waitForExit(300));
    // Without the socket check the pid and start time decide.
    EXPECT_TRUE(stopListedServer(listed, SIGTERM, false).delivered());
    EXPECT_TRUE(listener.waitForExit(waitMs));
}

// Pids that would address a process group or every process, or that pid_t
// cannot hold, and records without a start time never reach a signal. The
// listener stands in for the process such a pid could end up at.
TEST(ProcessControl, RecordsThatCannotNameOneProcessAreRefused) {
    ListenerProcess listener(QStringLiteral("hw-bystander"));
    ASSERT_TRUE(listener.isListening());
    const ListeningPort live = recordOf(listener, QStringLiteral("hw-bystander"));

    const qint64 invalid[] = {
        0,
        -1,
        -live.pid,
        std::numeric_limits<qint64>::min(),
        std::numeric_limits<qint64>::max(),
        qint64(1) << 31,             // beyond pid_t
        (qint64(1) << 32) - 1,       // 32 bits: -1
        qint64(1) << 32,             // 32 bits: 0
        (qint64(1) << 32) + live.pid // 32 bits: the listener
    };
    for (const qint64 pid : invalid) {
        SCOPED_TRACE(pid);
        ListeningPort listed = live;
        listed.pid = pid;
        const StopResult result = stopListedServer(listed, SIGTERM);
        EXPECT_EQ(result.outcome, StopOutcome::InvalidPid);
        EXPECT_EQ(result.reason, QStringLiteral("it has no valid process id"));
    }
    ListeningPort unknown = live;
    unknown.startTime = 0;
    EXPECT_EQ(stopListedServer(unknown, SIGTERM).outcome, StopOutcome::UnknownStartTime);
    EXPECT_FALSE(listener.waitForExit(300));
}

TEST(ProcessControl, AnotherUsersProcessIsRefusedAsPermissionDenied) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may signal every process";
    // Process 1 belongs to root. Its port does not matter: the permission is
    // asked before the socket check.
    const ListeningPort init{1, 1, QStringLiteral("init"), ProcFs().startTime(1).value_or(0)};
    ASSERT_NE(init.startTime, 0u);
    const StopResult result = stopListedServer(init, SIGTERM);
    EXPECT_EQ(result.outcome, StopOutcome::PermissionDenied);
    EXPECT_EQ(result.reason, QStringLiteral("permission denied — it belongs to another user"));
}

// A server that ignores SIGTERM: the request is delivered but it keeps
// running and listening; SIGKILL, with the same check, ends it.
TEST(ProcessControl, ServerThatIgnoresTerminateEndsWithKill) {
    ListenerProcess listener(QStringLiteral("hw-stubborn"), QStringLiteral("0"),
                             {QStringLiteral("--ignore-term")});
    ASSERT_TRUE(listener.isListening());
    const ListeningPort listed = recordOf(listener, QStringLiteral("hw-stubborn"));
    const LocalServers source;

    EXPECT_TRUE(stopOf(source, listed, false).delivered());
    EXPECT_FALSE(listener.waitForExit(1000));
    EXPECT_TRUE(stillRunsOf(source, listed));

    EXPECT_TRUE(stopOf(source, listed, true).delivered());
    ASSERT_TRUE(listener.waitForExit(waitMs));
    EXPECT_EQ(listener.exitCode(), -1) << "killed by a signal";
    EXPECT_FALSE(stillRunsOf(source, listed));
}
