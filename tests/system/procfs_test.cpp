#include "system/procfs.h"

#include <QByteArray>
#include <QCoreApplication>

#include <gtest/gtest.h>

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

TEST(ProcessIdentity, ReadsItsOwnStartTimeAndNothingForAbsentProcesses) {
    const auto own = ProcFs().startTime(QCoreApplication::applicationPid());
    ASSERT_TRUE(own.has_value());
    EXPECT_GT(*own, 0u);
    EXPECT_EQ(ProcFs().startTime(QCoreApplication::applicationPid()), own);
    EXPECT_FALSE(ProcFs().startTime(0).has_value());
    EXPECT_FALSE(ProcFs().startTime(-1).has_value());
    EXPECT_FALSE(ProcFs().startTime(4'194'305).has_value()); // above the kernel's pid limit
}
