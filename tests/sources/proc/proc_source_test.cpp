#include "sources/lsof/lsof_source.h"
#include "sources/proc/proc_source.h"
#include "system/procfs.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <ostream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
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
    EXPECT_EQ(result.error,
              empty.path() + QStringLiteral("/net/tcp cannot be read; is /proc mounted?"));
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

namespace {

// The write end stays with the test process: the processes below end when it does.
int lifeline() {
    static const int readEnd = [] {
        int ends[2];
        return pipe2(ends, O_CLOEXEC) == 0 ? ends[0] : -1;
    }();
    return readEnd;
}

// A forked process of the test that holds exactly the listening sockets it is
// given, under a name. It carries out one command at a time and answers once
// done: "nNAME" renames it (prctl), "c" closes its sockets, "fNAME[/LATER]"
// forks a child named NAME that keeps them and outlives it (answered with its
// pid), and that renames itself LATER on SIGUSR1. Destroyed, it ends and is
// reaped.
class SocketHolder {
public:
    SocketHolder(const QByteArray& name, int socket) {
        int command[2], answer[2];
        if (pipe2(command, O_CLOEXEC) != 0 || pipe2(answer, O_CLOEXEC) != 0)
            return;
        const int life = lifeline();
        const long limit = sysconf(_SC_OPEN_MAX);
        m_pid = fork();
        if (m_pid == 0)
            run(name.constData(), socket, command[0], answer[1], life, int(limit));
        close(command[0]);
        close(answer[1]);
        m_command = command[1];
        m_answer = answer[0];
        char byte;
        if (m_pid < 0 || read(m_answer, &byte, 1) != 1)
            m_pid = -1;
    }
    ~SocketHolder() {
        close(m_command); // its read ends: it exits
        close(m_answer);
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
    }
    SocketHolder(const SocketHolder&) = delete;
    SocketHolder& operator=(const SocketHolder&) = delete;

    pid_t pid() const { return m_pid; }
    // Sends a command and returns its answer: a pid for "f", else 0.
    pid_t tell(const QByteArray& command) {
        pid_t answer = 0;
        const size_t size = command.startsWith('f') ? sizeof answer : 1;
        if (write(m_command, command.constData(), size_t(command.size())) != command.size() ||
            read(m_answer, &answer, size) != ssize_t(size))
            ADD_FAILURE() << "holder " << m_pid << " did not answer " << command.constData();
        return size == 1 ? 0 : answer;
    }

private:
    // Async-signal-safe calls only: the test process may have threads.
    [[noreturn]] static void run(const char* name, int socket, int command, int answer, int life,
                                 int limit) {
        prctl(PR_SET_NAME, name, 0, 0, 0);
        for (int fd = 3; fd < limit; ++fd) {
            if (fd != socket && fd != command && fd != answer && fd != life)
                close(fd);
        }
        (void)!write(answer, "x", 1);
        char message[32];
        for (;;) {
            const ssize_t n = read(command, message, sizeof message - 1);
            if (n <= 0)
                _exit(0);
            message[n] = '\0';
            if (message[0] == 'n') {
                prctl(PR_SET_NAME, message + 1, 0, 0, 0);
            } else if (message[0] == 'c') {
                close(socket);
            } else if (message[0] == 'f') {
                int named[2];
                if (pipe(named) != 0)
                    _exit(1);
                const pid_t child = fork();
                if (child == 0) {
                    if (char* later = strchr(message, '/')) {
                        *later = '\0';
                        strncpy(laterName, later + 1, sizeof laterName - 1);
                        signal(SIGUSR1, [](int) { prctl(PR_SET_NAME, laterName, 0, 0, 0); });
                    }
                    prctl(PR_SET_NAME, message + 1, 0, 0, 0);
                    close(command);
                    close(answer);
                    close(named[0]);
                    close(named[1]); // named now
                    char byte;
                    while (read(life, &byte, 1) < 0 && errno == EINTR) {
                    }
                    _exit(0);
                }
                close(named[1]);
                char byte;
                (void)!read(named[0], &byte, 1);
                close(named[0]);
                (void)!write(answer, &child, sizeof child);
                continue;
            }
            (void)!write(answer, "x", 1);
        }
    }

    static inline char laterName[16] = {};
    pid_t m_pid = -1;
    int m_command = -1;
    int m_answer = -1;
};

// Four sockets bound to consecutive ports of 127.0.0.1, listening only when a
// step says so, the processes holding them and the allowlist of the scans.
// The test process is the reaper of the processes its holders fork.
struct ScriptedWorld {
    static constexpr int count = 4;
    int sockets[count] = {-1, -1, -1, -1};
    qint64 firstPort = 0;
    std::map<std::string, std::unique_ptr<SocketHolder>> holders;
    std::map<std::string, pid_t> pids; // every holder, forked children included
    std::vector<pid_t> orphans;        // the forked children, reaped here
    QSet<QString> allowlist;

    ScriptedWorld() {
        prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
        for (int attempt = 0; attempt < 50 && firstPort == 0; ++attempt) {
            const int port = 40'000 + (getpid() * 7 + attempt * 131) % 20'000;
            for (int i = 0; i < count; ++i) {
                sockets[i] = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                address.sin_port = htons(uint16_t(port + i));
                if (bind(sockets[i], reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                    break;
                if (i == count - 1)
                    firstPort = port;
            }
            if (firstPort == 0)
                closeSockets();
        }
    }
    ~ScriptedWorld() {
        for (pid_t pid : orphans)
            kill(pid, SIGKILL);
        holders.clear();
        for (pid_t pid : orphans)
            waitpid(pid, nullptr, 0);
        closeSockets();
        prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
    }
    void closeSockets() {
        for (int& fd : sockets) {
            if (fd >= 0)
                close(std::exchange(fd, -1));
        }
    }

    static QByteArray name(char which) {
        return QStringLiteral("hwinc%1%2").arg(getpid() % 100'000).arg(QLatin1Char(which)).toUtf8();
    }
    qint64 port(int socket) const { return firstPort + socket; }
    // The socket starts listening, held by a new process alone.
    void listenIn(int socket, const std::string& holder, char name) {
        ASSERT_EQ(::listen(sockets[socket], 8), 0);
        holders[holder] =
            std::make_unique<SocketHolder>(ScriptedWorld::name(name), sockets[socket]);
        pids[holder] = holders[holder]->pid();
        ASSERT_GT(pids[holder], 0);
        close(std::exchange(sockets[socket], -1));
    }
    // `later`: the name it takes on rename().
    void fork(const std::string& holder, const std::string& child, char name, char later = 0) {
        QByteArray command = 'f' + ScriptedWorld::name(name);
        if (later)
            command += '/' + ScriptedWorld::name(later);
        pids[child] = holders[holder]->tell(command);
        ASSERT_GT(pids[child], 0);
        orphans.push_back(pids[child]);
    }
    // A forked child takes its later name.
    void rename(const std::string& child, char later) {
        ASSERT_EQ(kill(pids[child], SIGUSR1), 0);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return ProcFs().comm(pids[child]) == ScriptedWorld::name(later); }, waitMs));
    }
    void allow(std::initializer_list<char> names) {
        allowlist.clear();
        for (char c : names)
            allowlist.insert(QString::fromUtf8(name(c)));
    }
};

} // namespace

// A scan that carries over what the last one learned lists what a scan from
// nothing lists, through a script of changes; the walk over every process runs
// only where a socket appeared or the allowlist changed. Exits and new names
// of known holders are seen at every scan; the processes started since and
// copies of sockets closed are seen by the check, which runs at every scan here
// (as it does once its interval has passed).
TEST(ProcScan, CarriedOverScansListWhatAFullWalkLists) {
    ScriptedWorld world;
    if (world.firstPort == 0)
        GTEST_SKIP() << "no two consecutive free ports on 127.0.0.1";
    world.allow({'a', 'b', 'c', 'd'});

    struct Held {
        int socket;
        const char* holder;
        char name;
        bool listed; // else among the other listeners
    };
    const struct Step {
        const char* what;
        std::function<void(ScriptedWorld&)> act;
        std::vector<Held> expected;
        bool walks;
    } steps[] = {
        {"a first listener",
         [](ScriptedWorld& w) { w.listenIn(0, "h0", 'a'); },
         {{0, "h0", 'a', true}},
         true},
        {"nothing changed", [](ScriptedWorld&) {}, {{0, "h0", 'a', true}}, false},
        {"a new listener, shared with a child",
         [](ScriptedWorld& w) {
             w.listenIn(1, "h1", 'b');
             w.fork("h1", "k1", 'c');
         },
         {{0, "h0", 'a', true}, {1, "h1", 'b', true}},
         true},
        {"its holder exits while the child keeps the socket",
         [](ScriptedWorld& w) { w.holders.erase("h1"); },
         {{0, "h0", 'a', true}, {1, "k1", 'c', true}},
         false},
        {"a holder renames itself",
         [](ScriptedWorld& w) { w.holders["h0"]->tell("n" + w.name('d')); },
         {{0, "h0", 'd', true}, {1, "k1", 'c', true}},
         false},
        {"a holder renames itself to a name not allowed",
         [](ScriptedWorld& w) { w.holders["h0"]->tell("n" + w.name('x')); },
         {{0, "h0", 'x', false}, {1, "k1", 'c', true}},
         false},
        {"a listener is closed",
         [](ScriptedWorld& w) { w.holders["h0"]->tell("c"); },
         {{1, "k1", 'c', true}},
         false},
        {"the allowlist loses a name",
         [](ScriptedWorld& w) {
             w.allow({'a', 'b', 'd'});
         },
         {{1, "k1", 'c', false}},
         true},
        {"nothing changed", [](ScriptedWorld&) {}, {{1, "k1", 'c', false}}, false},
        {"an allowed listener",
         [](ScriptedWorld& w) { w.listenIn(2, "h2", 'a'); },
         {{1, "k1", 'c', false}, {2, "h2", 'a', true}},
         true},
        {"it starts a child that is not allowed",
         [](ScriptedWorld& w) { w.fork("h2", "k2", 'y', 'd'); },
         {{1, "k1", 'c', false}, {2, "h2", 'a', true}},
         false},
        {"it closes its copy of the socket, which the child keeps",
         [](ScriptedWorld& w) { w.holders["h2"]->tell("c"); },
         {{1, "k1", 'c', false}, {2, "k2", 'y', false}},
         false},
        {"the child renames itself to an allowed name",
         [](ScriptedWorld& w) { w.rename("k2", 'd'); },
         {{1, "k1", 'c', false}, {2, "k2", 'd', true}},
         false},
        {"a listener not allowed",
         [](ScriptedWorld& w) { w.listenIn(3, "h3", 'x'); },
         {{1, "k1", 'c', false}, {2, "k2", 'd', true}, {3, "h3", 'x', false}},
         true},
        {"it starts an allowed child",
         [](ScriptedWorld& w) { w.fork("h3", "k3", 'b'); },
         {{1, "k1", 'c', false}, {2, "k2", 'd', true}, {3, "k3", 'b', true}},
         false},
        {"nothing changed",
         [](ScriptedWorld&) {},
         {{1, "k1", 'c', false}, {2, "k2", 'd', true}, {3, "k3", 'b', true}},
         false},
    };

    const QList<qint64> ports = {world.port(0), world.port(1), world.port(2), world.port(3)};
    ProcScan carried(ProcFs(), {std::chrono::milliseconds(0), std::chrono::hours(1)});
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act(world);
        if (HasFatalFailure())
            return;
        std::vector<Record> listed, others;
        for (const Held& h : step.expected)
            (h.listed ? listed : others)
                .push_back({world.port(h.socket), world.pids[h.holder],
                            QString::fromUtf8(world.name(h.name)), QStringLiteral("127.0.0.1")});

        const ScanFilter filter{world.port(0), world.port(3), world.allowlist};
        const int walks = carried.walks();
        const ScanResult seen = carried.run(filter);
        const ScanResult full = ProcScan().run(filter);
        ASSERT_TRUE(seen.ok() && full.ok());
        EXPECT_EQ(recordsOn(seen.ports, ports), listed);
        EXPECT_EQ(recordsOn(seen.others, ports), others);
        EXPECT_EQ(recordsOn(full.ports, ports), listed);
        EXPECT_EQ(recordsOn(full.others, ports), others);
        EXPECT_EQ(carried.walks() - walks, step.walks ? 1 : 0);
    }
}

// Names the kernel cuts at 15 bytes and programs of a versioned interpreter
// are listed under the allowlist's names, by both sources.
TEST(Sources, ListCutNamesByTheirFullNameAndVersionedProgramsByTheirEntry) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto copy = [&](const QString& name) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(QFile::copy(ListenerProcess::programPath(), path));
        EXPECT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner));
        return path;
    };
    const QString range = QStringLiteral("20000-29999");
    const QString notebook = QStringLiteral("jupyter-notebook");
    ListenerProcess cut(notebook, range, {}, copy(notebook));
    ListenerProcess versioned(QStringLiteral("python3.11"), range, {},
                              copy(QStringLiteral("python3.11")));
    ASSERT_TRUE(cut.isListening() && versioned.isListening());
    ASSERT_EQ(ProcFs().comm(cut.pid()), QByteArray("jupyter-noteboo"));
    const QList<qint64> ports = {cut.port(), versioned.port()};
    std::vector<Record> expected = {
        {cut.port(), cut.pid(), notebook, QStringLiteral("127.0.0.1")},
        {versioned.port(), versioned.pid(), QStringLiteral("python3"), QStringLiteral("127.0.0.1")},
    };
    std::sort(expected.begin(), expected.end(),
              [](const Record& x, const Record& y) { return x.port < y.port; });
    const QSet<QString> allowlist = {notebook, QStringLiteral("python3")};
    ProcSource proc;
    LsofSource lsof;
    EXPECT_EQ(recordsOn(scanWith(proc, 20'000, 29'999, allowlist).ports, ports), expected);
    EXPECT_EQ(recordsOn(scanWith(lsof, 20'000, 29'999, allowlist).ports, ports), expected);
}

// Two processes on one port's two addresses are two records, each for its
// address; one process on both is one.
TEST(Sources, ListAPortWhoseAddressesDifferentProcessesHoldOncePerAddress) {
    const QString name = uniqueName("hwsplit-");
    ListenerProcess v4(name, QStringLiteral("20000-29999"));
    ASSERT_TRUE(v4.isListening());
    ListenerProcess v6(name, QString::number(v4.port()), {QStringLiteral("--ipv6")});
    if (!v6.isListening())
        GTEST_SKIP() << "::1 port " << v4.port() << " is taken";
    const std::vector<Record> expected = {
        {v4.port(), v4.pid(), name, QStringLiteral("127.0.0.1")},
        {v4.port(), v6.pid(), name, QStringLiteral("::1")},
    };
    ProcSource proc;
    LsofSource lsof;
    for (ServerSource* source :
         {static_cast<ServerSource*>(&proc), static_cast<ServerSource*>(&lsof)}) {
        const ScanResult result = scanWith(*source, v4.port(), v4.port(), {name});
        std::vector<Record> records = recordsOn(result.ports, {v4.port()});
        std::sort(records.begin(), records.end(),
                  [](const Record& x, const Record& y) { return x.address < y.address; });
        EXPECT_EQ(records, expected);
        for (const ListeningPort& p : result.ports)
            EXPECT_TRUE(p.split);
    }
}
