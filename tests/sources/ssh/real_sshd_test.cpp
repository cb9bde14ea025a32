// One real sshd on a loopback port of its own, with its own host key,
// configuration and authorised key: as root in a private network namespace,
// else as the user. Skips where none can run.
#include "sources/ssh/ssh_source.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

qint64 freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    qint64 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// What a connection to 127.0.0.1:`port` reads first; empty when none is made.
QByteArray greeting(qint64 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    QByteArray text;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        timeval wait{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[128];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0)
            text = QByteArray(buffer, got);
    }
    ::close(fd);
    return text;
}

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

qint64 parentOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 4).split(' ').value(0).toLongLong();
}

// The pids (not zombies) whose command line holds `text`.
QList<qint64> processesWith(const QByteArray& text) {
    QList<qint64> pids;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const qint64 pid = entry.toLongLong();
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (pid > 0 && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(text) &&
            processExists(pid))
            pids.append(pid);
    }
    return pids;
}

// An sshd started by the test, stopped with every process it forked.
class Sshd {
public:
    Sshd(QString config, qint64 port) : m_config(std::move(config)), m_port(port) {
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QFileInfo(m_config).dir().filePath("sshd.log"),
                                       QIODevice::Append);
    }
    ~Sshd() { stop(); }

    bool start() {
        m_process.start(QStringLiteral("/usr/sbin/sshd"),
                        {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), m_config});
        if (!m_process.waitForStarted(5000))
            return false;
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(quint16(m_port));
            const bool up =
                ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            ::close(fd);
            if (up)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // The listener and the sessions it forked, as a crash of the host would.
    void stop() {
        const qint64 listener = m_process.processId();
        if (listener <= 0)
            return;
        QList<qint64> forked;
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            for (qint64 pid = entry.toLongLong(); pid > 1; pid = parentOf(pid)) {
                if (pid == listener) {
                    if (entry.toLongLong() != listener)
                        forked.append(entry.toLongLong());
                    break;
                }
            }
        }
        m_process.kill();
        m_process.waitForFinished(5000);
        for (const qint64 pid : forked)
            ::kill(pid_t(pid), SIGKILL);
    }

private:
    QString m_config;
    qint64 m_port;
    QProcess m_process;
};

ScanResult scanOnce(SshSource& source) {
    return scanAndWait(source, ScanFilter{1, 65535, QSet<QString>{QStringLiteral("node")}});
}

std::optional<ListeningPort> rowOf(const ScanResult& result, qint64 port) {
    for (const ListeningPort& p : result.ports) {
        if (p.port == port && p.process == QLatin1String("node"))
            return p;
    }
    return std::nullopt;
}

} // namespace

TEST(RealSshd, ListsForwardsReconnectsAndLeavesNothing) {
    if (!QFile::exists(QStringLiteral("/usr/sbin/sshd")) ||
        QStandardPaths::findExecutable(QStringLiteral("ssh")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("ssh-keygen")).isEmpty())
        GTEST_SKIP() << "openssh-server and openssh-client are not installed";
    const bool root = ::geteuid() == 0;
    if (root) {
        // The whole test in a network of its own; processes started from
        // this thread join it.
        if (::unshare(CLONE_NEWNET) != 0)
            GTEST_SKIP() << "no private network namespace: " << std::strerror(errno);
        if (!run(QStringLiteral("ip"), {"link", "set", "lo", "up"}))
            GTEST_SKIP() << "cannot bring up the namespace's loopback (iproute2 missing?)";
        QDir().mkpath(QStringLiteral("/run/sshd")); // sshd's privilege separation folder
    }

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString dir = folder.path();
    ASSERT_TRUE(run(QStringLiteral("ssh-keygen"),
                    {"-q", "-t", "ed25519", "-N", "", "-f", dir + "/host_key"}));
    ASSERT_TRUE(
        run(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-f", dir + "/id"}));
    ASSERT_TRUE(QFile::copy(dir + "/id.pub", dir + "/authorized_keys"));
    const qint64 sshPort = freeLoopbackPort();
    const QString user = root ? QStringLiteral("root")
                              : QString::fromLocal8Bit(qgetenv("USER").isEmpty() ? qgetenv("LOGNAME")
                                                                                 : qgetenv("USER"));
    {
        QFile config(dir + "/sshd_config");
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/host_key\n"
                                    "AuthorizedKeysFile %2/authorized_keys\nPidFile none\n"
                                    "UsePAM no\nStrictModes no\nPasswordAuthentication no\n"
                                    "KbdInteractiveAuthentication no\n"
                                    "PermitRootLogin prohibit-password\nAllowTcpForwarding yes\n")
                         .arg(sshPort)
                         .arg(dir)
                         .toUtf8());
        QFile client(dir + "/ssh_config");
        ASSERT_TRUE(client.open(QIODevice::WriteOnly));
        client.write(QStringLiteral("Host *\n  IdentityFile %1/id\n  IdentitiesOnly yes\n"
                                    "  UserKnownHostsFile %1/known_hosts\n"
                                    "  StrictHostKeyChecking accept-new\n")
                         .arg(dir)
                         .toUtf8());
    }
    Sshd sshd(dir + "/sshd_config", sshPort);
    if (!sshd.start())
        GTEST_SKIP() << "sshd did not start on port " << sshPort;
    qputenv("HARBORWATCH_SSH_CONFIG", QFile::encodeName(dir + "/ssh_config"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir));

    ListenerProcess node(QStringLiteral("node"), QStringLiteral("0"), {QStringLiteral("--greet")});
    ASSERT_TRUE(node.isListening());
    const QString destination =
        QStringLiteral("ssh://%1@127.0.0.1:%2").arg(user).arg(sshPort);

    auto source = std::make_unique<SshSource>(destination);
    // The first scan waits for the connection.
    ScanResult result = scanOnce(*source);
    // An sshd of an ordinary user lets in only that user, with a login shell.
    if (!root && !result.ok())
        GTEST_SKIP() << "cannot log in to an sshd run as " << qPrintable(user) << ": "
                     << qPrintable(result.error);
    ASSERT_TRUE(result.ok()) << qPrintable(result.error);
    std::optional<ListeningPort> row = rowOf(result, node.port());
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->host, destination);
    EXPECT_EQ(row->pid, node.pid());

    // Forwarded: this machine holds the port already, so another one is used.
    qint64 local = 0;
    QString error;
    bool forwarded = false;
    source->forward(node.port(), 0, [&](qint64 port, const QString& why) {
        local = port;
        error = why;
        forwarded = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return forwarded; }, 10000));
    ASSERT_GT(local, 0) << qPrintable(error);
    EXPECT_NE(local, node.port());
    EXPECT_EQ(greeting(local), "hello from node\n");
    EXPECT_EQ(source->forwards(), QList<PortForward>({{node.port(), local}}));
    // The forward's local listener is the source's own.
    EXPECT_TRUE(scanOnce(*source).forwardedPorts.contains(local));

    // The host goes away: "not connected" with ssh's reason within 10 s.
    sshd.stop();
    QDeadlineTimer notConnected(10000);
    while (!notConnected.hasExpired()) {
        result = scanOnce(*source);
        if (!result.ok())
            break;
        QTest::qWait(200);
    }
    ASSERT_FALSE(result.ok()) << "still connected 10 s after sshd stopped";
    EXPECT_FALSE(source->isConnected());
    std::printf("not connected: %s\n", qPrintable(result.error));

    // Back again: the row returns, and so does the forward.
    ASSERT_TRUE(sshd.start());
    QDeadlineTimer back(40000);
    while (!back.hasExpired() && !rowOf(result, node.port())) {
        QTest::qWait(500);
        result = scanOnce(*source);
    }
    ASSERT_TRUE(rowOf(result, node.port()).has_value()) << qPrintable(result.error);
    EXPECT_TRUE(QTest::qWaitFor([&] { return greeting(local) == "hello from node\n"; }, 10000));

    // Gone: no forward and no ssh process of the source is left.
    source.reset();
    const QByteArray marker = QFile::encodeName(dir + "/ssh_config");
    EXPECT_TRUE(QTest::qWaitFor([&] { return processesWith(marker).isEmpty(); }, 5000))
        << processesWith(marker).size() << " ssh processes left";
    EXPECT_TRUE(greeting(local).isEmpty());

    // The command line's --forward: the URL printed, the forward held until
    // SIGINT, then cancelled with nothing left.
    QProcess command;
    command.start(QStringLiteral(HW_PROGRAM_PATH),
                  {QStringLiteral("--host"), destination, QStringLiteral("--forward"),
                   QString::number(node.port())});
    ASSERT_TRUE(QTest::qWaitFor([&] { return command.canReadLine(); }, 15000))
        << command.readAllStandardError().toStdString();
    const QByteArray url = command.readLine().trimmed();
    ASSERT_TRUE(url.startsWith("http://localhost:")) << url.toStdString();
    const qint64 held = url.mid(url.lastIndexOf(':') + 1).toLongLong();
    EXPECT_EQ(greeting(held), "hello from node\n");
    ::kill(pid_t(command.processId()), SIGINT);
    ASSERT_TRUE(command.waitForFinished(10000));
    EXPECT_EQ(command.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(command.exitCode(), 0) << command.readAllStandardError().toStdString();
    EXPECT_TRUE(greeting(held).isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return processesWith(marker).isEmpty(); }, 5000))
        << processesWith(marker).size() << " ssh processes left by --forward";
}
