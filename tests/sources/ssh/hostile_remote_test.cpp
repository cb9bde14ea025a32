// The real program against a remote host that does not play fair: an sshd of
// the test's own whose forced command answers as each row asks (or runs what
// was asked, as a host should). Each row checks what the program tells, that
// its memory stays bounded and that nothing it started is left.
#include "private_sshd.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>

namespace {

// The program's peak resident memory so far (VmHWM), in KiB; 0 once it is gone.
qint64 peakKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

struct ProgramRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
    qint64 peakKiB = 0;
    qint64 ms = 0;
};

// Runs the program until it ends (a minute at most), sending SIGTERM after
// `interruptMs` when that is not negative.
ProgramRun runProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                      int interruptMs = -1) {
    QProcess program;
    program.setProcessEnvironment(environment);
    ProgramRun run;
    QElapsedTimer clock;
    clock.start();
    program.start(QStringLiteral(HW_PROGRAM_PATH), arguments);
    program.waitForStarted(5000);
    const qint64 pid = program.processId();
    bool interrupted = false;
    while (!program.waitForFinished(50) && clock.elapsed() < 60000) {
        run.peakKiB = std::max(run.peakKiB, peakKiB(pid));
        run.out += program.readAllStandardOutput();
        run.err += program.readAllStandardError();
        if (interruptMs >= 0 && !interrupted && clock.elapsed() >= interruptMs) {
            ::kill(pid_t(pid), SIGTERM);
            interrupted = true;
        }
    }
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished(5000);
    }
    run.ms = clock.elapsed();
    run.out += program.readAllStandardOutput();
    run.err += program.readAllStandardError();
    run.status = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    return run;
}

// What the remote does: the command it was asked for, unless the row (in
// DIR/row) makes it answer otherwise. A command that would outlive the
// connection leaves its pid in DIR/remote-pids.
const char remoteScript[] = R"(#!/bin/sh
dir='%1'
row=$(cat "$dir/row")
case $SSH_ORIGINAL_COMMAND in
*harborwatch-listed*) asked=list ;;
*"exec kill -"*) asked=stop ;;
*) asked=other ;;
esac
case $row:$asked in
escaped-reason:list)
    echo harborwatch-connected
    printf '\033]0;owned\007\033[2J\342\200\256gnp.exe %0400d\n' 0 >&2
    exit 1 ;;
escaped-stop:stop)
    printf 'kill: \033]0;owned\007\342\200\256 refused\n' >&2
    exit 1 ;;
endless-line:list)
    echo harborwatch-connected
    yes | tr -d '\n' ;;
endless-stderr:list)
    echo harborwatch-connected
    exec yes 'an error that never ends' >&2 ;;
stall:list|stalled-stop:stop|interrupted-stop:stop)
    [ $asked = list ] && echo harborwatch-connected
    echo $$ >>"$dir/remote-pids"
    exec sleep 600 ;;
many-sockets:list)
    echo harborwatch-connected
    i=10000
    while [ $i -lt 22000 ]; do
        echo "LISTEN 0 128 127.0.0.1:$i 0.0.0.0:* users:((\"node\",pid=$i,fd=3)) ino:$i sk:1"
        i=$((i + 1))
    done
    echo harborwatch-listed
    echo $$ >>"$dir/remote-pids"
    exec sleep 600 ;;
*)
    exec sh -c "$SSH_ORIGINAL_COMMAND" ;;
esac
)";

// Processes of the program's: its ssh calls (which name the test's ssh
// configuration) and control masters (which name their control socket).
QList<qint64> leftovers(const QString& clientConfig, const QString& controlFolder) {
    return processesWith(QFile::encodeName(clientConfig)) +
           processesWith(QFile::encodeName(controlFolder + QStringLiteral("/ssh-")));
}

} // namespace

TEST(HostileRemote, IsNeitherTrustedNorWaitedForWithoutEnd) {
    PrivateSshd host;
    const QString script = host.dir + QStringLiteral("/remote.sh");
    if (const QString skip = host.start(QStringLiteral("ForceCommand %1\n").arg(script));
        !skip.isEmpty())
        GTEST_SKIP() << qPrintable(skip);
    {
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QString::fromLatin1(remoteScript).arg(host.dir).toUtf8());
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
    const auto setRow = [&](const QString& row) {
        QFile file(host.dir + QStringLiteral("/row"));
        return file.open(QIODevice::WriteOnly) && file.write(row.toUtf8()) > 0;
    };
    const QString destination = host.destination();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), host.dir + QStringLiteral("/config"));
    // What AddressSanitizer holds back of freed memory (256 MiB) would count
    // as the program's own in its peak.
    const QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       sanitizer + (sanitizer.isEmpty() ? "" : ":") + "quarantine_size_mb=4");
    ASSERT_TRUE(setRow(QStringLiteral("real")));
    {
        const ProgramRun probe = runProgram({"--host", destination, "--list"}, environment);
        if (!host.root && probe.status != 0)
            GTEST_SKIP() << "cannot log in to an sshd run as " << qPrintable(host.user) << ": "
                         << probe.err.toStdString();
    }

    // A server of the remote, and one that names itself to look like a
    // holder of another process's pid.
    ListenerProcess node(QStringLiteral("node"));
    ListenerProcess victim(QStringLiteral("postgres"));
    ASSERT_TRUE(node.isListening() && victim.isListening());
    const QString forgedName = QStringLiteral("\",pid=%1,").arg(victim.pid());
    ListenerProcess forger(forgedName);
    ASSERT_TRUE(forger.isListening());

    // A runtime folder whose path leaves no room for a control socket's.
    const QString longRuntime =
        host.dir + QStringLiteral("/a-runtime-folder-with-a-path-far-too-long-for-ssh");
    ASSERT_TRUE(QDir().mkpath(longRuntime));
    QFile::setPermissions(longRuntime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString shortFolder = QStringLiteral("/tmp/harborwatch-%1").arg(::getuid());
    const bool shortFolderExisted = QFileInfo::exists(shortFolder);

    const QString prefix = QStringLiteral("harborwatch: %1: ").arg(destination);
    struct Row {
        QString name;
        QString arguments;
        int interruptMs;
        int status;
        qint64 atLeastMs;
        qint64 atMostMs;
        QString says; // on stderr or stdout
    };
    const QString stopNode = QStringLiteral("--stop %1 --all").arg(node.port());
    const QString stopForger = QStringLiteral("--stop %1 --all").arg(forger.port());
    // clang-format off
    const Row rows[] = {
        {"escaped-reason", "--list", -1, 1, 0, 8000,
         prefix + "not connected — \\x1b]0;owned\\x07\\x1b[2J\\u202egnp.exe 0000"},
        {"escaped-stop", stopNode, -1, 1, 0, 8000,
         "was not stopped: kill: \\x1b]0;owned\\x07\\u202e refused"},
        {"endless-line", "--list", -1, 1, 0, 8000,
         prefix + "not connected — the host sent a line longer than 64 KiB\n"},
        {"endless-stderr", "--list", -1, 1, 7500, 15000,
         prefix + "waiting for the first listing\n"},
        {"stall", "--list", -1, 1, 7500, 15000,
         prefix + "waiting for the first listing\n"},
        {"stalled-stop", stopNode, -1, 1, 10000, 20000,
         "was not stopped: the host did not answer within 10 s\n"},
        {"interrupted-stop", stopNode, 3000, 128 + SIGTERM, 3000, 8000, {}},
        {"many-sockets", "--list --all", -1, 0, 0, 15000,
         prefix + "the host lists more than 10,000 sockets; the first 10,000 are shown\n"},
        {"long-runtime-folder", "--list", -1, 0, 0, 8000,
         "is too long a path for ssh's control sockets; using " + shortFolder + "\n"},
        {"forged-pid", stopForger, -1, 0, 0, 8000,
         QStringLiteral("Sent SIGTERM to %1 (pid %2) on port %3.\n")
             .arg(forgedName, QString::number(forger.pid()), QString::number(forger.port()))},
    };
    // clang-format on
    // Well above what the program needs, well below what an unbounded
    // buffer takes in the seconds a row runs.
    constexpr qint64 mostKiB = 200 * 1024;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name.toStdString());
        ASSERT_TRUE(setRow(row.name));
        QProcessEnvironment rowEnvironment = environment;
        const bool longFolder = row.name == QLatin1String("long-runtime-folder");
        if (longFolder)
            rowEnvironment.insert(QStringLiteral("XDG_RUNTIME_DIR"), longRuntime);
        const ProgramRun run =
            runProgram(QStringList{"--host", destination} + row.arguments.split(' '),
                       rowEnvironment, row.interruptMs);
        std::printf("%-20s status %d after %lld ms, peak RSS %lld KiB\n", qPrintable(row.name),
                    run.status, run.ms, run.peakKiB);
        EXPECT_EQ(run.status, row.status) << run.err.toStdString();
        const QString said = QString::fromUtf8(run.err + run.out);
        if (!row.says.isEmpty()) {
            EXPECT_TRUE(said.contains(row.says)) << said.left(2000).toStdString();
        }
        // One line for each thing told, nothing that a terminal would act on,
        // no line longer than a cut remote text allows.
        for (const QString& line : QString::fromUtf8(run.err).split(QLatin1Char('\n'))) {
            EXPECT_FALSE(line.contains(QRegularExpression(QStringLiteral(
                "[\\x00-\\x08\\x0b-\\x1f\\x7f\\x{202a}-\\x{202e}\\x{2066}-\\x{2069}]"))))
                << line.toStdString();
            EXPECT_LE(line.size(), prefix.size() + 400) << line.left(100).toStdString();
        }
        EXPECT_GE(run.ms, row.atLeastMs);
        EXPECT_LE(run.ms, row.atMostMs);
        EXPECT_LT(run.peakKiB, mostKiB);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return leftovers(host.clientConfig(),
                                 longFolder ? shortFolder : host.dir + "/harborwatch")
                    .isEmpty();
            },
            5000))
            << "ssh processes or a master left behind";
        if (row.name == QLatin1String("many-sockets")) {
            EXPECT_EQ(run.out.count('\n'), 1 + 10000); // the header and the rows kept
        }
        if (longFolder) {
            EXPECT_EQ(run.err.count("too long a path"), 1) << run.err.toStdString();
        }
    }
    // The forged name stopped its own process, not the one whose pid it wrote.
    EXPECT_TRUE(forger.waitForExit(5000));
    EXPECT_TRUE(processExists(victim.pid()));

    // What the remote left running once the program had gone.
    QFile remotePids(host.dir + QStringLiteral("/remote-pids"));
    if (remotePids.open(QIODevice::ReadOnly)) {
        for (const QByteArray& pid : remotePids.readAll().split('\n')) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid.toLongLong()));
            if (pid.toLongLong() > 0 && cmdline.open(QIODevice::ReadOnly) &&
                cmdline.readAll().startsWith("sleep"))
                ::kill(pid_t(pid.toLongLong()), SIGKILL);
        }
    }
    if (!shortFolderExisted)
        QDir().rmdir(shortFolder);
}
