#include "sources/ssh/ss_listing.h"

#include <gtest/gtest.h>

namespace {

// Lines as iproute2 6.1's `ss -Htlnp` printed them for listeners this test's
// author started in a private network namespace (names set with prctl).
const QByteArray captured =
    "LISTEN 0      128    127.0.0.1:5173 0.0.0.0:* users:((\"node\",pid=11487,fd=3))               "
    "           \n"
    "LISTEN 0      128    127.0.0.1:4001 0.0.0.0:* users:((\"we\"ird\\x\",pid=11491,fd=3))         "
    "             \n"
    "LISTEN 0      128      0.0.0.0:3000 0.0.0.0:* "
    "users:((\"worker\",pid=11492,fd=3),(\"node\",pid=11489,fd=3))\n"
    "LISTEN 0      128        [::1]:8000    [::]:* users:((\"python3\",pid=11488,fd=3))            "
    "           \n"
    "LISTEN 0      128         [::]:4000    [::]:* users:((\"my app\",pid=11490,fd=3))             "
    "           \n"
    "LISTEN 0      128    127.0.0.1:4100 0.0.0.0:* users:((\"a\n"
    "b\",pid=11692,fd=3))     \n"
    "LISTEN 0      128    127.0.0.1:4101 0.0.0.0:* users:((\"tab\there\",pid=11694,fd=3))\n"
    "LISTEN 0      128    127.0.0.5:6000 0.0.0.0:*\n";

struct Case {
    const char* line;
    SsSocket expected;
};

} // namespace

TEST(SsListing, ReadsEveryLineOfRealOutput) {
    const QList<SsSocket> sockets = parseSsListing(captured);
    const QList<SsSocket> expected{
        {"127.0.0.1", 5173, {{11487, "node"}}},
        {"127.0.0.1", 4001, {{11491, "we\"ird\\x"}}},
        {"0.0.0.0", 3000, {{11492, "worker"}, {11489, "node"}}},
        {"::1", 8000, {{11488, "python3"}}},
        {"::", 4000, {{11490, "my app"}}},
        {"127.0.0.1", 4100, {{11692, "a\nb"}}},
        {"127.0.0.1", 4101, {{11694, "tab\there"}}},
        {"127.0.0.5", 6000, {}},
    };
    ASSERT_EQ(sockets.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        EXPECT_EQ(sockets[i], expected[i]) << "line " << i;
}

TEST(SsListing, OneLineEach) {
    const Case cases[] = {
        // Escapes of newer ss: a backslash and octal bytes.
        {"LISTEN 0 511 *:8080 *:* users:((\"a\\\\b\\040c\",pid=7,fd=5))",
         {"*", 8080, {{7, "a\\b c"}}}},
        {"LISTEN 0 4096 127.0.0.53%lo:53 0.0.0.0:* users:((\"resolved\",pid=9,fd=14))",
         {"127.0.0.53", 53, {{9, "resolved"}}}},
        {"LISTEN 0 128 [fe80::1]%eth0:22 [::]:*", {"fe80::1", 22, {}}},
        {"LISTEN 0 128 127.0.0.1:9 0.0.0.0:* "
         "users:((\"x\",pid=1,fd=3),(\"y\",pid=2,fd=4),(\"z\",pid=3,fd=5))",
         {"127.0.0.1", 9, {{1, "x"}, {2, "y"}, {3, "z"}}}},
        {"LISTEN 0 128 127.0.0.1:5173 0.0.0.0:* users:((\"caf\xc3\xa9\",pid=4,fd=3))",
         {"127.0.0.1", 5173, {{4, QStringLiteral("caf\u00e9")}}}},
    };
    for (const Case& c : cases) {
        const QList<SsSocket> sockets = parseSsListing(c.line);
        ASSERT_EQ(sockets.size(), 1) << c.line;
        EXPECT_EQ(sockets.first(), c.expected) << c.line;
    }
    const char* skipped[] = {
        "",
        "ESTAB 0 0 127.0.0.1:5173 127.0.0.1:40000",
        "LISTEN 0 128 127.0.0.1:0 0.0.0.0:*",
        "LISTEN 0 128 127.0.0.1:70000 0.0.0.0:*",
        "LISTEN 0 128 nonsense",
        "State Recv-Q",
    };
    for (const char* line : skipped)
        EXPECT_TRUE(parseSsListing(line).isEmpty()) << line;
}

// A process's name is its own choice; the pid of a socket is not. Lines as
// `ss -Htlnpe` prints them (the first as iproute2 6.1 printed it for a process
// that named itself `go",pid=13605,`), and what they must give.
TEST(SsListing, NamesCannotMakeAPid) {
    struct Row {
        const char* what;
        const char* line;
        QList<SsHolder> holders;
        quint64 inode;
    };
    const Row rows[] = {
        {"a pid in a name",
         "LISTEN 0 128 127.0.0.1:5174 0.0.0.0:* users:((\"go\",pid=13605,\",pid=13609,fd=3)) "
         "ino:58721 sk:1011 cgroup:/ <->",
         {{13609, "go\",pid=13605,"}},
         58721},
        {"and a second process",
         "LISTEN 0 128 *:8080 *:* users:((\"go\",pid=1,\",pid=11,fd=3),(\"node\",pid=12,fd=4)) "
         "uid:1000 ino:7 sk:2",
         {{11, "go\",pid=1,"}, {12, "node"}},
         7},
        {"a name that looks like the end of an entry",
         "LISTEN 0 128 *:8080 *:* users:((\"\",pid=1,fd=1),(\",pid=99,fd=3)) ino:5 sk:3",
         {{99, "\",pid=1,fd=1),("}},
         5},
        {"the field's end in a name",
         "LISTEN 0 128 *:8080 *:* users:((\"a)) ino:5 x\",pid=7,fd=3)) ino:6 sk:4",
         {{7, "a)) ino:5 x"}},
         6},
        {"an inode in the cgroup's path",
         "LISTEN 0 128 *:8080 *:* users:((\"node\",pid=8,fd=3)) ino:9 sk:5 cgroup:/a ino:1 <->",
         {{8, "node"}},
         9},
        {"a name longer than the kernel keeps", // cannot be a process's
         "LISTEN 0 128 *:8080 *:* users:((\"sixteen-letters!\",pid=8,fd=3)) ino:9",
         {},
         0},
        {"text after the field",
         "LISTEN 0 128 *:8080 *:* users:((\"node\",pid=8,fd=3))x ino:9",
         {},
         0},
        {"a name cut off by a line break that starts a record",
         "LISTEN 0 128 *:8080 *:* users:((\"a\nLISTEN 0 0 x:\",pid=8,fd=3)) ino:9",
         {},
         0},
        {"no field", "LISTEN 0 128 *:8080 *:* uid:1000 ino:9 sk:6", {}, 9},
    };
    for (const Row& row : rows) {
        const QList<SsSocket> sockets = parseSsListing(row.line);
        ASSERT_FALSE(sockets.isEmpty()) << row.what;
        EXPECT_EQ(sockets.first().holders, row.holders) << row.what;
        EXPECT_EQ(sockets.first().inode, row.inode) << row.what;
    }
}

TEST(SsListing, RecordsFollowTheFilter) {
    const QList<SsSocket> sockets = parseSsListing(captured);
    const ScanFilter filter{3000, 9999, QSet<QString>{"node", "python3"}};
    const QList<ListeningPort> records = ssRecords(sockets, filter);
    ASSERT_EQ(records.size(), 3);
    // The allowed holder of a shared socket, not the worker.
    EXPECT_EQ(records[0].port, 3000);
    EXPECT_EQ(records[0].pid, 11489);
    EXPECT_EQ(records[0].process, "node");
    EXPECT_EQ(records[1].port, 5173);
    EXPECT_EQ(records[2].port, 8000);
    EXPECT_EQ(records[2].address, "::1");

    // Without an allowlist: the lowest pid of a shared socket, and a socket
    // whose holder cannot be seen with pid 0.
    const QList<ListeningPort> all = ssRecords(sockets, ScanFilter{1, 65535, std::nullopt});
    ASSERT_EQ(all.size(), 8);
    EXPECT_EQ(all[0].port, 3000);
    EXPECT_EQ(all[0].pid, 11489);
    EXPECT_EQ(all[6].port, 6000);
    EXPECT_EQ(all[6].pid, 0);
}
