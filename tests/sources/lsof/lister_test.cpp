#include "config/settings.h"
#include "sources/lsof/lister.h"
#include "sources/lsof/lsof_source.h"
#include "system/procfs.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <limits>
#include <memory>
#include <ostream>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr int waitMs = 20'000; // generous deadline for conditions under sanitizers

// Stand-in programs, written into a fresh directory for each test.
class StandIns {
public:
    StandIns() { EXPECT_TRUE(m_dir.isValid()); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Writes a /bin/sh script; "$DIR" in the body names this directory.
    QString script(const QString& name, const QString& body, bool executable = true) {
        return file(name, "#!/bin/sh\nDIR='" + m_dir.path().toUtf8() + "'\n" + body.toUtf8(),
                    executable);
    }

    QString file(const QString& name, const QByteArray& content, bool executable = false) {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        QFile::Permissions perms =
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        if (executable)
            perms |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        EXPECT_TRUE(f.setPermissions(perms));
        return path(name);
    }

    QByteArray read(const QString& name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    bool exists(const QString& name) const { return QFile::exists(path(name)); }

private:
    QTemporaryDir m_dir;
};

// No process with this pid, not even a zombie that nobody reaped.
bool gone(qint64 pid) {
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Lets queued events run for a moment, to show that nothing more arrives.
void drainEvents() {
    QTest::qWait(50);
}

// Runs the lister through start() and checks the callback contract: never
// inside start(), exactly once.
ListerResult runAsync(Lister& lister) {
    ListerResult result{QStringLiteral("unset"), ListerError::None};
    int calls = 0;
    EXPECT_TRUE(lister.start([&](ListerResult r) {
        ++calls;
        result = std::move(r);
    }));
    EXPECT_EQ(calls, 0) << "the callback ran inside start()";
    EXPECT_TRUE(lister.isRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, waitMs));
    EXPECT_FALSE(lister.isRunning());
    drainEvents();
    EXPECT_EQ(calls, 1);
    return result;
}

enum class Mode { Async, Blocking };

void PrintTo(Mode mode, std::ostream* os) {
    *os << (mode == Mode::Async ? "Async" : "Blocking");
}

class ListerRun : public testing::TestWithParam<Mode> {
protected:
    ListerResult run(const ListerCommand& command) {
        Lister lister(command);
        return GetParam() == Mode::Async ? runAsync(lister) : lister.runBlocking();
    }
    ListerResult run(const QString& program, int timeoutMs = 10'000) {
        return run(ListerCommand{program, {}, timeoutMs});
    }

    StandIns standIns;
};

const QByteArray smallListing = "COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\n"
                                "node 4123 dev 23u IPv4 0xa1 0t0 TCP *:3000 (LISTEN)\n"
                                "Python 5120 dev 4u IPv4 0xa3 0t0 TCP 127.0.0.1:8000 (LISTEN)\n"
                                "sshd 22 root 3u IPv4 0xa4 0t0 TCP *:22 (LISTEN)\n";

// A listing of more than 1 MiB, with two-byte characters that pipe reads
// will split.
QByteArray bigListing() {
    QByteArray text = "COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\n";
    for (int i = 0; i < 25'000; ++i)
        text += "n\xc3\xb8"
                "de " +
                QByteArray::number(i + 1) +
                " d\xc3\xa9v 23u IPv4 0xa1 0t0 TCP 127.0.0.1:" + QByteArray::number(10'000 + i) +
                " (LISTEN)\n";
    return text;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Modes, ListerRun, testing::Values(Mode::Async, Mode::Blocking),
                         [](const auto& info) {
                             return info.param == Mode::Async ? "Async" : "Blocking";
                         });

TEST_P(ListerRun, CannotStart) {
    EXPECT_EQ(run(standIns.path("missing")).error, ListerError::NotFound);
    EXPECT_EQ(run(QString()).error, ListerError::NotFound);

    const QString notExecutable = standIns.script("plain", "echo hi\n", false);
    EXPECT_EQ(run(notExecutable).error, ListerError::FailedToStart);

    // Executable bits, but not a program the system can run.
    const QString garbage = standIns.file("garbage", "not a program\n", true);
    EXPECT_EQ(run(garbage).error, ListerError::FailedToStart);

    EXPECT_EQ(run(QDir::tempPath()).error, ListerError::FailedToStart);
}

TEST_P(ListerRun, TextIsUsedAfterStatusZeroOrOne) {
    standIns.file("listing", smallListing);
    const QString exit1 =
        standIns.script("exit1", "cat \"$DIR/listing\"\necho 'lsof: WARNING: noise' >&2\nexit 1\n");
    const ListerResult result = run(exit1);
    EXPECT_EQ(result.error, ListerError::None);
    EXPECT_EQ(result.text, QString::fromUtf8(smallListing));

    // lsof exits 1 and prints nothing when nothing listens: an empty listing.
    const ListerResult empty = run(standIns.script("empty", "exit 1\n"));
    EXPECT_TRUE(empty.ok());
    EXPECT_EQ(empty.text, QString());
}

// A status other than 0 or 1 (a wrapper whose lsof was killed reports 137)
// means the listing may be cut short, whatever was printed.
TEST_P(ListerRun, OtherExitStatusFailsTheRun) {
    standIns.file("listing", smallListing);
    for (const int status : {2, 137, 255}) {
        SCOPED_TRACE(status);
        const ListerResult result = run(standIns.script(
            "partial", QStringLiteral("head -c 100 \"$DIR/listing\"\nexit %1\n").arg(status)));
        EXPECT_EQ(result.error, ListerError::ErrorStatus);
        EXPECT_TRUE(result.text.isEmpty());
    }
}

// A helper that the lister left running, holding its output open, goes with
// the run.
TEST_P(ListerRun, NothingTheListerStartedOutlivesTheRun) {
    standIns.file("listing", smallListing);
    const QString wrapper = standIns.script(
        "wrapper", "sleep 30 &\necho $! > \"$DIR/pid.tmp\"\nmv \"$DIR/pid.tmp\" \"$DIR/pid\"\n"
                   "cat \"$DIR/listing\"\n");
    const ListerResult result = run(wrapper);
    EXPECT_EQ(result.error, ListerError::None);
    EXPECT_EQ(result.text, QString::fromUtf8(smallListing));

    ASSERT_TRUE(standIns.exists("pid"));
    const qint64 pid = standIns.read("pid").trimmed().toLongLong();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(QTest::qWaitFor([pid] { return !processExists(pid); }, waitMs))
        << "process " << pid << " outlived the run";
}

TEST_P(ListerRun, ArgumentsPassedAndStandardInputClosed) {
    // `cat` with no file reads standard input: it must see end of file at
    // once rather than wait on an inherited terminal or pipe.
    const QString echo = standIns.script("echo", "printf '%s\\n' \"$@\"\nexec cat\n");
    const ListerResult result = run(ListerCommand{
        echo, {QStringLiteral("+c"), QStringLiteral("0"), QStringLiteral("a b")}, waitMs});
    EXPECT_EQ(result.error, ListerError::None);
    EXPECT_EQ(result.text, QStringLiteral("+c\n0\na b\n"));
}

TEST_P(ListerRun, OutputLargerThanThePipeIsReturnedWhole) {
    const QByteArray listing = bigListing();
    ASSERT_GT(listing.size(), 1024 * 1024);
    standIns.file("big", listing);
    const ListerResult result = run(standIns.script("cat", "exec cat \"$DIR/big\"\n"));
    ASSERT_EQ(result.error, ListerError::None);
    EXPECT_EQ(result.text.toUtf8().size(), listing.size());
    EXPECT_TRUE(result.text == QString::fromUtf8(listing));
}

TEST_P(ListerRun, InvalidUtf8AnywhereFailsTheWholeRun) {
    const char* const tails[] = {"\\377", "\\303", "\\300\\200", "\\355\\240\\200"};
    for (const char* tail : tails) {
        SCOPED_TRACE(tail);
        standIns.file("listing", smallListing);
        const QString bad = standIns.script(
            "bad", QStringLiteral("cat \"$DIR/listing\"\nprintf 'x%1y\\n'\n").arg(tail));
        const ListerResult result = run(bad);
        EXPECT_EQ(result.error, ListerError::InvalidOutput);
        EXPECT_TRUE(result.text.isEmpty());
    }
}

TEST_P(ListerRun, KilledBySignalIsACrash) {
    standIns.file("listing", smallListing);
    const ListerResult result = run(standIns.script("crash", "cat \"$DIR/listing\"\nkill -9 $$\n"));
    EXPECT_EQ(result.error, ListerError::Crashed);
    EXPECT_TRUE(result.text.isEmpty());
}

TEST_P(ListerRun, HangingListerTimesOutAndIsReaped) {
    const QString hang =
        standIns.script("hang", "echo $$ > \"$DIR/pid.tmp\"\nmv \"$DIR/pid.tmp\" \"$DIR/pid\"\n"
                                "echo COMMAND PID\nexec sleep 30\n");
    QElapsedTimer clock;
    clock.start();
    const ListerResult result = run(hang, 500);
    EXPECT_LT(clock.elapsed(), 10'000);
    EXPECT_EQ(result.error, ListerError::TimedOut);
    EXPECT_TRUE(result.text.isEmpty());

    ASSERT_TRUE(standIns.exists("pid")) << "the stand-in was killed before it wrote its pid";
    const qint64 pid = standIns.read("pid").trimmed().toLongLong();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(gone(pid)) << "process " << pid << " was left behind";
}

TEST(Lister, StartWhileRunningIsRefusedAndDestroyingKillsTheRun) {
    StandIns standIns;
    const QString hang = standIns.script(
        "hang", "echo $$ > \"$DIR/pid.tmp\"\nmv \"$DIR/pid.tmp\" \"$DIR/pid\"\nexec sleep 30\n");
    int firstCalls = 0;
    int secondCalls = 0;
    auto lister = std::make_unique<Lister>(ListerCommand{hang, {}, 60'000});
    ASSERT_TRUE(lister->start([&](ListerResult) { ++firstCalls; }));
    EXPECT_FALSE(lister->start([&](ListerResult) { ++secondCalls; }));
    EXPECT_TRUE(lister->isRunning());

    ASSERT_TRUE(QTest::qWaitFor([&] { return standIns.exists("pid"); }, waitMs));
    const qint64 pid = standIns.read("pid").trimmed().toLongLong();
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(gone(pid));

    lister.reset();
    EXPECT_TRUE(gone(pid)) << "the destroyed lister left process " << pid;
    drainEvents();
    EXPECT_EQ(firstCalls, 0);
    EXPECT_EQ(secondCalls, 0);
}

TEST(Lister, DestroyingBeforeAQueuedFailureIsDeliveredCallsNothing) {
    int calls = 0;
    {
        Lister lister(ListerCommand{QStringLiteral("/nonexistent/lister"), {}, 1000});
        ASSERT_TRUE(lister.start([&](ListerResult) { ++calls; }));
    }
    drainEvents();
    EXPECT_EQ(calls, 0);
}

TEST(Lister, CallbackMayDestroyTheLister) {
    StandIns standIns;
    standIns.file("listing", smallListing);
    const QString programs[] = {standIns.script("ok", "cat \"$DIR/listing\"\n"),
                                standIns.path("missing")};
    for (const QString& program : programs) {
        SCOPED_TRACE(program.toStdString());
        auto lister = std::make_unique<Lister>(ListerCommand{program, {}, waitMs});
        int calls = 0;
        ASSERT_TRUE(lister->start([&](ListerResult) {
            ++calls;
            lister.reset();
        }));
        ASSERT_TRUE(QTest::qWaitFor([&] { return lister == nullptr; }, waitMs));
        drainEvents();
        EXPECT_EQ(calls, 1);
    }
}

TEST(Lister, CallbackMayStartTheNextRun) {
    StandIns standIns;
    standIns.file("listing", smallListing);
    Lister lister(ListerCommand{standIns.script("ok", "cat \"$DIR/listing\"\n"), {}, waitMs});
    QList<ListerResult> results;
    bool restarted = false;
    Lister::Done again = [&](ListerResult r) { results.append(std::move(r)); };
    ASSERT_TRUE(lister.start([&](ListerResult r) {
        results.append(std::move(r));
        restarted = lister.start(again);
    }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return results.size() == 2; }, waitMs));
    EXPECT_TRUE(restarted);
    for (const ListerResult& r : results)
        EXPECT_EQ(r.text, QString::fromUtf8(smallListing));
    drainEvents();
    EXPECT_EQ(results.size(), 2);
    EXPECT_FALSE(lister.isRunning());
}

TEST(Lister, StrictUtf8Decoding) {
    const struct {
        QByteArray bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain ascii\n", true},
        {"n\xc3\xb8"
         "de \xe2\x82\xac \xf0\x9f\x98\x80",
         true},
        {QByteArray("nul\0inside", 10), true},
        {"\xff", false},
        {"ends mid-character \xc3", false},
        {"overlong \xc0\x80", false},
        {"surrogate \xed\xa0\x80", false},
        {"beyond U+10FFFF \xf4\x90\x80\x80", false},
        {"lone continuation \x80 here", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toHex().toStdString());
        const auto text = decodeUtf8Strict(c.bytes);
        ASSERT_EQ(text.has_value(), c.valid);
        if (text) {
            EXPECT_EQ(text->toUtf8(), c.bytes);
        }
    }
}

TEST(Lister, FindExecutableTakesTheFirstRunnableAbsolutePath) {
    StandIns standIns;
    const QString plain = standIns.file("plain", "x", false);
    const QString first = standIns.script("first", "true\n");
    const QString second = standIns.script("second", "true\n");
    EXPECT_EQ(findExecutable({standIns.path("missing"), plain, QDir::tempPath(), first, second}),
              first);
    EXPECT_EQ(findExecutable({second, first}), second);
    EXPECT_EQ(findExecutable({standIns.path("missing"), plain}), QString());
    // A bare name would go through the search path.
    EXPECT_EQ(findExecutable({QStringLiteral("sh"), QStringLiteral("lsof")}), QString());
}

// A lister installed while the program runs is found at the next run, one
// that cannot be run is not called missing, and one removed is.
TEST(Lister, ListerLookedUpAfreshAtEveryRun) {
    StandIns standIns;
    const QString later = standIns.path("later");
    const Lister lister(ListerCommand{QString(), {}, waitMs, {later}});
    EXPECT_EQ(lister.runBlocking().error, ListerError::NotFound);
    standIns.script("later", "echo listing\n", false);
    EXPECT_EQ(lister.runBlocking().error, ListerError::FailedToStart) << "there, not runnable";
    standIns.script("later", "echo listing\n");
    const ListerResult found = lister.runBlocking();
    EXPECT_EQ(found.error, ListerError::None);
    EXPECT_EQ(found.text, "listing\n");
    QFile::remove(later);
    EXPECT_EQ(lister.runBlocking().error, ListerError::NotFound);
}

TEST(Lister, DefaultCommandAsksForFullNamesOfListeningTcpSockets) {
    const ListerCommand command = defaultListerCommand();
    EXPECT_EQ(command.program,
              findExecutable({QStringLiteral("/usr/sbin/lsof"), QStringLiteral("/usr/bin/lsof"),
                              QStringLiteral("/bin/lsof")}));
    EXPECT_FALSE(command.program.isEmpty()) << "lsof is not installed";
    const QStringList expected = {QStringLiteral("+c"),    QStringLiteral("0"),
                                  QStringLiteral("-iTCP"), QStringLiteral("-sTCP:LISTEN"),
                                  QStringLiteral("-P"),    QStringLiteral("-n")};
    EXPECT_EQ(command.arguments, expected);
    EXPECT_EQ(command.timeoutMs, 10'000);
    EXPECT_EQ(command.lookIn,
              (QStringList{QStringLiteral("/usr/sbin/lsof"), QStringLiteral("/usr/bin/lsof"),
                           QStringLiteral("/bin/lsof")}));
}

TEST(Scanner, FiltersAStandInListing) {
    StandIns standIns;
    standIns.file("listing", smallListing);
    LsofSource scanner(
        ListerCommand{standIns.script("ok", "cat \"$DIR/listing\"\nexit 1\n"), {}, waitMs});
    const QSet<QString> allowlist = {QStringLiteral("node"), QStringLiteral("sshd")};
    const QList<ListeningPort> expected = {{3000, 4123, QStringLiteral("node")}};

    const ScanResult blocking = scanner.scanBlocking({3000, 9999, QSet<QString>(allowlist)});
    EXPECT_TRUE(blocking.ok());
    EXPECT_EQ(blocking.ports, expected);

    std::optional<ScanResult> async;
    ASSERT_TRUE(scanner.scan({3000, 9999, QSet<QString>(allowlist)},
                             [&](ScanResult r) { async = std::move(r); }));
    EXPECT_FALSE(async.has_value());
    EXPECT_TRUE(scanner.isScanning());
    EXPECT_FALSE(scanner.scan({0, 65535, QSet<QString>(allowlist)}, [](ScanResult) { FAIL(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return async.has_value(); }, waitMs));
    EXPECT_TRUE(async->ok());
    EXPECT_EQ(async->ports, expected);
    EXPECT_FALSE(scanner.isScanning());
}

TEST(Scanner, LargeListingIsScannedWhole) {
    StandIns standIns;
    standIns.file("big", bigListing());
    LsofSource scanner(
        ListerCommand{standIns.script("cat", "exec cat \"$DIR/big\"\n"), {}, waitMs});
    const ScanResult result =
        scanner.scanBlocking({0, 65535, QSet<QString>({QStringLiteral("n\u00f8de")})});
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(result.ports.size(), 25'000);
    EXPECT_EQ(result.ports.first(), (ListeningPort{10'000, 1, QStringLiteral("n\u00f8de")}));
    EXPECT_EQ(result.ports.last(), (ListeningPort{34'999, 25'000, QStringLiteral("n\u00f8de")}));
}

TEST(Scanner, FailureIsPassedUpNotAnEmptyList) {
    StandIns standIns;
    const struct {
        QString program;
        ListerError error;
    } cases[] = {
        {standIns.path("missing"), ListerError::NotFound},
        {standIns.script("plain", "true\n", false), ListerError::FailedToStart},
        {standIns.script("bad", "printf 'COMMAND\\n\\377\\n'\n"), ListerError::InvalidOutput},
        {standIns.script("crash", "kill -9 $$\n"), ListerError::Crashed},
        {standIns.script("status", "exit 137\n"), ListerError::ErrorStatus},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program.toStdString());
        LsofSource scanner(ListerCommand{c.program, {}, waitMs});
        const ScanResult blocking =
            scanner.scanBlocking({0, 65535, QSet<QString>(settings::defaultAllowlist())});
        EXPECT_EQ(blocking.error, describeListerError(c.error));
        EXPECT_FALSE(blocking.ok());
        EXPECT_TRUE(blocking.ports.isEmpty());

        std::optional<ScanResult> async;
        ASSERT_TRUE(scanner.scan({0, 65535, QSet<QString>(settings::defaultAllowlist())},
                                 [&](ScanResult r) { async = std::move(r); }));
        EXPECT_FALSE(async.has_value());
        ASSERT_TRUE(QTest::qWaitFor([&] { return async.has_value(); }, waitMs));
        EXPECT_EQ(async->error, describeListerError(c.error));
        EXPECT_TRUE(async->ports.isEmpty());
    }
}

// The real lsof against a child that listens under a name longer than the
// 9 characters lsof keeps by default.
TEST(RealLister, FindsTheListeningChildByPortPidAndFullName) {
    const QString name = QStringLiteral("hwscan-%1").arg(getpid() % 100'000);
    ASSERT_GT(name.size(), 9);
    ASSERT_LE(name.size(), 15);
    ListenerProcess listener(name, QStringLiteral("20000-29999"));
    ASSERT_TRUE(listener.isListening());
    const QList<ListeningPort> expected = {{listener.port(), listener.pid(), name}};

    LsofSource scanner;
    const ScanResult blocking = scanner.scanBlocking({20'000, 29'999, QSet<QString>({name})});
    ASSERT_TRUE(blocking.ok()) << blocking.error.toStdString();
    EXPECT_EQ(blocking.ports, expected);
    // The start time that a stop checks the process against.
    ASSERT_EQ(blocking.ports.size(), 1);
    EXPECT_EQ(blocking.ports.first().startTime, ProcFs().startTime(listener.pid()).value_or(0));
    EXPECT_NE(blocking.ports.first().startTime, 0u);

    std::optional<ScanResult> async;
    ASSERT_TRUE(scanner.scan({1, 65535, QSet<QString>({name})},
                             [&](ScanResult r) { async = std::move(r); }));
    EXPECT_FALSE(async.has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return async.has_value(); }, waitMs));
    ASSERT_TRUE(async->ok()) << async->error.toStdString();
    EXPECT_EQ(async->ports, expected);

    // Outside the range it is not reported.
    const qint64 port = listener.port();
    EXPECT_TRUE(scanner.scanBlocking({port + 1, 65535, QSet<QString>({name})}).ports.isEmpty());
}

// lsof prints this name as "my\x20app"; the record has the name itself.
TEST(RealLister, EscapedNameIsDecoded) {
    const QString name = QStringLiteral("my app");
    ListenerProcess listener(name, QStringLiteral("20000-29999"));
    ASSERT_TRUE(listener.isListening());
    const ScanResult result =
        LsofSource().scanBlocking({listener.port(), listener.port(), QSet<QString>{name}});
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.ports, (QList<ListeningPort>{{listener.port(), listener.pid(), name}}));
}
