#include "sources/lsof/lsof_source.h"
#include "sources/proc/proc_source.h"
#include "core/procfs.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <optional>
#include <ostream>
#include <unistd.h>

namespace {

constexpr int waitMs = 20'000;

// A name of at most 15 bytes that no other test run uses at the same time.
QString uniqueName(const char* prefix) {
    return QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(getpid() % 100'000);
}

struct Record {
    qint64 port;
    qint64 pid;
    QString process;
    QString address;
    friend bool operator==(const Record&, const Record&) = default;
    friend void PrintTo(const Record& r, std::ostream* os) {
        *os << r.port << " " << r.pid << " \"" << r.process.toStdString() << "\" "
            << r.address.toStdString();
    }
};

// The records on `ports`, with the start time checked against the process.
std::vector<Record> recordsOn(const QList<ListeningPort>& records, const QList<qint64>& ports) {
    std::vector<Record> out;
    for (const ListeningPort& p : records) {
        if (!ports.contains(p.port))
            continue;
        EXPECT_EQ(p.startTime, ProcFs().startTime(p.pid).value_or(0)) << p.pid;
        out.push_back({p.port, p.pid, p.process, p.address});
    }
    return out;
}

ScanResult scanWith(ServerSource& source, qint64 minPort, qint64 maxPort,
                    const QSet<QString>& allowlist) {
    const ScanResult result = scanAndWait(source, {minPort, maxPort, allowlist});
    EXPECT_TRUE(result.ok()) << result.error.toStdString();
    return result;
}

} // namespace

// Where lsof reads the sockets right, both sources give the same records: an
// IPv4 and an IPv6 listener, and a socket shared by a parent and its forked
// child, listed under the lower pid.
TEST(Sources, GiveTheSameRecordsForOrdinaryListeners) {
    const QString v4 = uniqueName("hwv4-"), v6 = uniqueName("hwv6-"), shared = uniqueName("hwsh-");
    const QString range = QStringLiteral("20000-29999");
    ListenerProcess a(v4, range);
    ListenerProcess b(v6, range, {QStringLiteral("--ipv6")});
    ListenerProcess c(shared, range, {QStringLiteral("--fork"), shared});
    ASSERT_TRUE(a.isListening() && b.isListening() && c.isListening());
    ASSERT_GT(c.childPid(), 0);
    const QSet<QString> allowlist = {v4, v6, shared};
    const QList<qint64> ports = {a.port(), b.port(), c.port()};

    std::vector<Record> expected = {
        {a.port(), a.pid(), v4, QStringLiteral("127.0.0.1")},
        {b.port(), b.pid(), v6, QStringLiteral("::1")},
        {c.port(), std::min(c.pid(), c.childPid()), shared, QStringLiteral("127.0.0.1")},
    };
    std::sort(expected.begin(), expected.end(),
              [](const Record& x, const Record& y) { return x.port < y.port; });

    ProcSource proc;
    LsofSource lsof;
    EXPECT_EQ(recordsOn(scanWith(proc, 20'000, 29'999, allowlist).ports, ports), expected);
    EXPECT_EQ(recordsOn(scanWith(lsof, 20'000, 29'999, allowlist).ports, ports), expected);
    // Not allowed, they are the other listeners, in both.
    for (ServerSource* source :
         {static_cast<ServerSource*>(&proc), static_cast<ServerSource*>(&lsof)}) {
        const ScanResult none = scanWith(*source, 20'000, 29'999, {});
        EXPECT_TRUE(recordsOn(none.ports, ports).empty());
        EXPECT_EQ(recordsOn(none.others, ports), expected);
    }
}

// Names that lsof escapes or drops are read exactly; a process that renamed
// itself is allowed and listed under its executable's name, also once the
// executable has been deleted.
TEST(ProcSource, ReadsNamesExactlyAndFallsBackToTheExecutable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString node = dir.filePath(QStringLiteral("node"));
    ASSERT_TRUE(QFile::copy(ListenerProcess::programPath(), node));
    ASSERT_TRUE(QFile::setPermissions(node, QFile::ReadOwner | QFile::ExeOwner));

    const QString spaced = QStringLiteral("hw caf\u00e9 %1").arg(getpid() % 100'000);
    ASSERT_LE(spaced.toUtf8().size(), 15);
    const QString range = QStringLiteral("20000-29999");
    ListenerProcess named(spaced, range);
    ListenerProcess renamed(QStringLiteral("next-server (v14.2.3)"), range, {}, node);
    ASSERT_TRUE(named.isListening() && renamed.isListening());
    const QList<qint64> ports = {named.port(), renamed.port()};

    std::vector<Record> expected = {
        {named.port(), named.pid(), spaced, QStringLiteral("127.0.0.1")},
        {renamed.port(), renamed.pid(), QStringLiteral("node"), QStringLiteral("127.0.0.1")},
    };
    std::sort(expected.begin(), expected.end(),
              [](const Record& x, const Record& y) { return x.port < y.port; });
    ProcSource proc;
    const QSet<QString> allowlist = {spaced, QStringLiteral("node")};
    EXPECT_EQ(recordsOn(scanWith(proc, 20'000, 29'999, allowlist).ports, ports), expected);

    // Its kernel name is what the process set, cut to 15 bytes; unlisted, it
    // is shown under that name.
    const ScanResult other = scanWith(proc, renamed.port(), renamed.port(), {});
    EXPECT_EQ(
        recordsOn(other.others, ports),
        (std::vector<Record>{{renamed.port(), renamed.pid(), QStringLiteral("next-server (v1"),
                              QStringLiteral("127.0.0.1")}}));

    ASSERT_TRUE(QFile::remove(node));
    EXPECT_EQ(recordsOn(scanWith(proc, 20'000, 29'999, allowlist).ports, ports), expected);
}

// A socket that an allowed server inherited from a parent that is not allowed
// is listed under the server.
TEST(ProcSource, InheritedSocketIsListedUnderTheAllowedChild) {
    const QString parent = uniqueName("hwsup-"), child = uniqueName("hwkid-");
    ListenerProcess wrapper(parent, QStringLiteral("20000-29999"),
                            {QStringLiteral("--fork"), child});
    ASSERT_TRUE(wrapper.isListening());
    ASSERT_GT(wrapper.childPid(), 0);
    const qint64 port = wrapper.port();

    ProcSource proc;
    const ScanResult result = scanWith(proc, port, port, {child});
    EXPECT_EQ(
        recordsOn(result.ports, {port}),
        (std::vector<Record>{{port, wrapper.childPid(), child, QStringLiteral("127.0.0.1")}}));
    EXPECT_TRUE(recordsOn(result.others, {port}).empty());
}

// The holder of a socket that no allowed process holds is searched for once
// and remembered while the socket lasts.
TEST(ProcScan, OtherListenersAreSearchedForOnce) {
    auto listener = std::make_unique<ListenerProcess>(uniqueName("hwoth-"));
    ASSERT_TRUE(listener->isListening());
    const qint64 port = listener->port();
    const std::vector<Record> expected = {
        {port, listener->pid(), uniqueName("hwoth-"), QStringLiteral("127.0.0.1")}};

    ProcScan scan;
    for (int i = 0; i < 3; ++i) {
        const ScanResult result = scan.run({port, port, QSet<QString>{}});
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(recordsOn(result.others, {port}), expected);
    }
    EXPECT_EQ(scan.holderSearches(), 1);

    listener.reset();
    EXPECT_TRUE(recordsOn(scan.run({port, port, QSet<QString>{}}).others, {port}).empty());
}

TEST(ProcSource, UnreadableProcFailsWithAReason) {
    QTemporaryDir empty;
    ProcSource proc(ProcFs(empty.path()));
    const ScanResult result = proc.scanBlocking({1, 65535, QSet<QString>{QStringLiteral("node")}});
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.error, empty.path() + QStringLiteral("/net/tcp cannot be read; is /proc mounted?"));
}

// The scan runs on a worker; the result comes back on the asking thread, once,
// never inside scan(); a source destroyed while it scans calls nothing.
TEST(ProcSource, DeliversOnTheAskingThreadOneScanAtATime) {
    const QString name = uniqueName("hwasy-");
    ListenerProcess listener(name, QStringLiteral("20000-29999"));
    ASSERT_TRUE(listener.isListening());
    const QList<ListeningPort> expected = {{listener.port(), listener.pid(), name}};

    ProcSource source;
    int calls = 0;
    std::optional<ScanResult> result;
    ASSERT_TRUE(source.scan({20'000, 29'999, QSet<QString>{name}}, [&](ScanResult r) {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        ++calls;
        result = std::move(r);
    }));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(source.isScanning());
    EXPECT_FALSE(source.scan({1, 65535, QSet<QString>{}}, [](ScanResult) { FAIL(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, waitMs));
    QTest::qWait(50);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(source.isScanning());
    ASSERT_TRUE(result->ok());
    EXPECT_EQ(result->ports, expected);

    // Destroyed while scanning: no callback.
    {
        ProcSource proc;
        ASSERT_TRUE(proc.scan({20'000, 29'999, QSet<QString>{name}}, [](ScanResult) { FAIL(); }));
    }
    QTest::qWait(50);
}
