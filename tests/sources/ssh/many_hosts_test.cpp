// A thousand hosts out of reach, under a limit on the number of processes:
// the real program lists this machine's servers, tells why each host is not
// connected, and never aborts when a process or a thread cannot be had. Root
// is not bound by that limit: as root the program runs as nobody, in a
// network of the test's own.
#include "private_sshd.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>

namespace {

// The tasks (threads) of `uid` now: what RLIMIT_NPROC counts.
qint64 tasksOf(uid_t uid) {
    qint64 tasks = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile status(QStringLiteral("/proc/%1/status").arg(entry));
        if (entry.toLongLong() <= 0 || !status.open(QIODevice::ReadOnly))
            continue;
        bool theirs = false;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Uid:"))
                theirs = line.mid(4).simplified().split(' ').value(0).toUInt() == uid;
            else if (theirs && line.startsWith("Threads:"))
                tasks += line.mid(8).trimmed().toLongLong();
        }
    }
    return tasks;
}

// Who the program runs as, with at most `tasks` tasks of that user.
struct Account {
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    bool switches = false;
};

void runAs(QProcess& process, const Account& account, qint64 tasks) {
    process.setChildProcessModifier([account, tasks] {
        const rlimit limit{rlim_t(tasks), rlim_t(tasks)};
        if (tasks > 0 && ::setrlimit(RLIMIT_NPROC, &limit) != 0)
            ::_exit(126);
        if (account.switches && (::setgroups(0, nullptr) != 0 || ::setgid(account.gid) != 0 ||
                                 ::setuid(account.uid) != 0))
            ::_exit(126);
    });
}

// Whether every folder above `path` lets other users through, as a program
// run as another user needs.
bool othersReach(const QString& path) {
    for (QDir dir = QFileInfo(path).absoluteDir();; dir.cdUp()) {
        if (!(QFileInfo(dir.absolutePath()).permissions() & QFileDevice::ExeOther))
            return false;
        if (dir.isRoot())
            return true;
    }
}

} // namespace

TEST(ManyHosts, AThousandOutOfReachUnderAProcessLimit) {
    Account account;
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody)
            GTEST_SKIP() << "no user nobody to run the program as (root ignores a process limit)";
        account = {nobody->pw_uid, nobody->pw_gid, true};
        for (const QString& program :
             {ListenerProcess::programPath(), QStringLiteral(HW_PROGRAM_PATH)}) {
            if (!othersReach(program))
                GTEST_SKIP() << "user nobody cannot reach " << qPrintable(program)
                             << " (a folder above it is closed to others)";
        }
        // The hosts' ports are the test's alone: nothing listens there.
        if (::unshare(CLONE_NEWNET) != 0 ||
            !runToEnd(QStringLiteral("ip"), {"link", "set", "lo", "up"}))
            GTEST_SKIP() << "no private network namespace";
    }
    // A folder the program's user can reach, with a path short enough for
    // control sockets.
    QTemporaryDir folder((account.switches ? QStringLiteral("/tmp") : QDir::tempPath()) +
                         QStringLiteral("/hw-hosts-XXXXXX"));
    ASSERT_TRUE(folder.isValid());
    const QString dir = folder.path();
    for (const char* sub : {"config/harborwatch", "run", "home"})
        ASSERT_TRUE(QDir(dir).mkpath(QString::fromLatin1(sub)));
    QFile::setPermissions(dir + "/run",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString clientConfig = dir + QStringLiteral("/ssh_config");
    {
        QFile config(clientConfig);
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    }

    // A server of this machine's, of the same user.
    QProcess listener;
    runAs(listener, account, 0);
    listener.start(ListenerProcess::programPath(), {QStringLiteral("node"), QStringLiteral("0")});
    ASSERT_TRUE(listener.waitForReadyRead(5000));
    const qint64 port = listener.readLine().trimmed().toLongLong();
    ASSERT_GT(port, 0);

    QJsonArray hosts;
    for (int i = 1; i <= 1000; ++i)
        hosts.append(QStringLiteral("ssh://127.0.0.1:%1").arg(i));
    {
        QFile settings(dir + QStringLiteral("/config/harborwatch/settings.json"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(QJsonDocument(QJsonObject{{"hosts", hosts},
                                                 {"allowlist", QJsonArray{"node"}},
                                                 {"minPort", port},
                                                 {"maxPort", port},
                                                 {"containers", false}})
                           .toJson());
    }
    if (account.switches) {
        ASSERT_TRUE(runToEnd(QStringLiteral("chown"),
                             {QStringLiteral("-R"),
                              QStringLiteral("%1:%2").arg(account.uid).arg(account.gid), dir}));
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), dir + QStringLiteral("/home"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir + QStringLiteral("/run"));
    environment.insert(QStringLiteral("HARBORWATCH_SSH_CONFIG"), clientConfig);
    // The leak checker needs a thread of its own at the end.
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));

    struct Row {
        const char* what;
        QStringList arguments;
        qint64 moreTasks; // than the user has now
        int status;
        QString says;
    };
    const Row rows[] = {
        // Room for a hundred: the hosts take turns to connect.
        {"a hundred tasks", {"--list"}, 100, 0, QStringLiteral("not connected — ")},
        // Room for the program alone: no thread to scan, no ssh to start.
        {"no room for the scan",
         {"--list"},
         1,
         1,
         QStringLiteral("harborwatch: the scan could not be started: ")},
        {"no room for ssh",
         {"--host", "ssh://127.0.0.1:1", "--list"},
         1,
         1,
         QStringLiteral("harborwatch: ssh://127.0.0.1:1: not connected — ssh could not be "
                        "started: ")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QProcess program;
        program.setProcessEnvironment(environment);
        runAs(program, account, tasksOf(account.uid) + row.moreTasks);
        QElapsedTimer clock;
        clock.start();
        program.start(QStringLiteral(HW_PROGRAM_PATH), row.arguments);
        ASSERT_TRUE(program.waitForFinished(120000));
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        const QString err = QString::fromUtf8(program.readAllStandardError());
        std::printf("%-20s status %d after %lld ms\n", row.what, program.exitCode(),
                    clock.elapsed());
        ASSERT_EQ(program.exitStatus(), QProcess::NormalExit) << err.left(2000).toStdString();
        EXPECT_EQ(program.exitCode(), row.status) << err.left(2000).toStdString();
        EXPECT_TRUE(err.contains(row.says)) << err.left(2000).toStdString();
        if (row.status == 0) {
            // This machine's server, and a reason for every host.
            EXPECT_TRUE(out.contains(QStringLiteral("%1  ").arg(port))) << out.toStdString();
            QMap<QString, int> reasons;
            for (int i = 1; i <= 1000; ++i) {
                const QString line =
                    QStringLiteral("harborwatch: ssh://127.0.0.1:%1: not connected — ").arg(i);
                const qsizetype at = err.indexOf(line);
                ASSERT_GE(at, 0) << "host " << i;
                const QString reason = err.mid(at + line.size()).section(QLatin1Char('\n'), 0, 0);
                ASSERT_FALSE(reason.isEmpty()) << "host " << i;
                ++reasons[reason.section(QLatin1Char(':'), 0, 0)];
            }
            for (auto it = reasons.cbegin(); it != reasons.cend(); ++it)
                std::printf("  %4d hosts: %s\n", it.value(), qPrintable(it.key()));
        }
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return processesWith(QFile::encodeName(clientConfig)).isEmpty(); }, 5000))
            << "ssh processes left behind";
    }
    listener.kill();
    listener.waitForFinished(5000);
}
