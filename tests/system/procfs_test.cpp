#include "system/procfs.h"

#include <QByteArray>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

TEST(ProcessIdentity, StartTimeIsFieldTwentyTwoCountedFromTheLastParenthesis) {
    const struct {
        const char* stat;
        std::optional<quint64> expected;
    } cases[] = {
        {"42 (node) S 1 42 42 0 -1 4194560 1 0 0 0 0 0 0 0 20 0 1 0 98765 1 2 3\n", 98765},
        // A name with spaces and parentheses of its own.
        {"42 (next-server (v1) S 1 42 42 0 -1 0 1 0 0 0 0 0 0 0 20 0 1 0 777 1\n", 777},
        {"42 (a) b) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 123456789012", 123456789012ULL},
        {"42 (node) S 1 42", std::nullopt},
        {"no parenthesis at all", std::nullopt},
        {"42 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 -5 1", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(startTimeFromStat(QByteArray(c.stat)), c.expected) << c.stat;
}

TEST(ProcessIdentity, StatGivesTheNameAndTheParent) {
    const struct {
        const char* stat;
        const char* comm;
        qint64 parent;
    } cases[] = {
        {"42 (node) S 1 42 42 0 -1 4194560 1 0 0 0 0 0 0 0 20 0 1 0 98765 1 2 3\n", "node", 1},
        {"42 (next-server (v1) R 777 42 42 0 -1 0 1 0 0 0 0 0 0 0 20 0 1 0 777 1\n",
         "next-server (v1", 777},
        {"42 ( ) S 9 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 123", " ", 9},
    };
    for (const auto& c : cases) {
        const auto stat = processStatFrom(QByteArray(c.stat));
        ASSERT_TRUE(stat.has_value()) << c.stat;
        EXPECT_EQ(stat->comm, QByteArray(c.comm));
        EXPECT_EQ(stat->parent, c.parent);
    }
    EXPECT_FALSE(processStatFrom("42 (node) S x 42").has_value());
}

// What the check for new processes relies on: a process started after the
// pid the kernel gave out last is listed from there, and its open name file
// fails once it has exited.
TEST(ProcessIdentity, ANewProcessIsListedAfterTheLastGivenPid) {
    const ProcFs proc;
    const auto before = proc.lastPid();
    if (!before)
        GTEST_SKIP() << "/proc is not that of this pid namespace";
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    const auto after = proc.lastPid();
    ASSERT_TRUE(after.has_value());
    if (*after > *before) { // else the pids started again from low: not the case to test
        EXPECT_GE(child, *before + 1);
        EXPECT_LE(child, *after);
        const std::vector<PidEntry> listed = proc.pidEntries(*before + 1, *after);
        const std::vector<PidEntry> all = proc.pidEntries();
        const auto in = [child](const std::vector<PidEntry>& entries) {
            return std::find_if(entries.begin(), entries.end(),
                                [child](const PidEntry& e) { return e.pid == child; });
        };
        ASSERT_NE(in(listed), listed.end());
        ASSERT_NE(in(all), all.end());
        EXPECT_EQ(in(listed)->inode, in(all)->inode);
        for (const PidEntry& e : listed) {
            EXPECT_GE(e.pid, *before + 1);
            EXPECT_LE(e.pid, *after);
        }
    }
    const qint64 self = QCoreApplication::applicationPid();
    EXPECT_EQ(proc.pidEntries(self, self).size(), 1u);
    EXPECT_TRUE(proc.pidEntries(self, self - 1).empty());

    const ProcessNameFile name = proc.openName(child);
    char text[64];
    EXPECT_EQ(QByteArrayView(text, std::max<qsizetype>(name.read(text, sizeof text), 0)),
              proc.comm(child).value_or(QByteArray()));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(name.read(text, sizeof text), -1);
    EXPECT_FALSE(ProcFs(QStringLiteral("/nonexistent")).openName(self).isOpen());
}

TEST(ProcessIdentity, ReadsItsOwnStartTimeAndNothingForAbsentProcesses) {
    const auto own = ProcFs().startTime(QCoreApplication::applicationPid());
    ASSERT_TRUE(own.has_value());
    EXPECT_GT(*own, 0u);
    EXPECT_EQ(ProcFs().startTime(QCoreApplication::applicationPid()), own);
    EXPECT_FALSE(ProcFs().startTime(0).has_value());
    EXPECT_FALSE(ProcFs().startTime(-1).has_value());
    EXPECT_FALSE(ProcFs().startTime(4'194'305).has_value()); // above the kernel's pid limit
}
