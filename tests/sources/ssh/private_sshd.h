// A real sshd on a loopback port of its own, with its own host key,
// configuration and authorised key: as root in a private network namespace,
// else as the user. For the tests of this folder.
#pragma once

#include "support/test_support.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

// What a connection to 127.0.0.1:`port` reads first; empty when none is made.
inline QByteArray greeting(qint64 port) {
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

inline qint64 freeLoopbackPort() {
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

inline bool runToEnd(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

inline qint64 parentOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 4).split(' ').value(0).toLongLong();
}

// The pids (not zombies) whose command line holds `text`.
inline QList<qint64> processesWith(const QByteArray& text) {
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
        m_process.start(
            QStringLiteral("/usr/sbin/sshd"),
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

// An sshd of the test's own and a client configuration for it, in a private
// folder that is also the runtime folder ($XDG_RUNTIME_DIR and
// $HARBORWATCH_SSH_CONFIG point there once it runs).
struct PrivateSshd {
    QTemporaryDir folder;
    QString dir = folder.path();
    qint64 port = 0;
    bool root = ::geteuid() == 0;
    QString user;
    std::unique_ptr<Sshd> sshd;

    QString destination() const {
        return QStringLiteral("ssh://%1@127.0.0.1:%2").arg(user).arg(port);
    }
    QString clientConfig() const { return dir + QStringLiteral("/ssh_config"); }

    // Starts it with `extraConfig` lines in sshd_config; empty, or why it
    // cannot run (a reason to skip).
    QString start(const QString& extraConfig = {}) {
        if (!QFile::exists(QStringLiteral("/usr/sbin/sshd")) ||
            QStandardPaths::findExecutable(QStringLiteral("ssh")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("ssh-keygen")).isEmpty())
            return QStringLiteral("openssh-server and openssh-client are not installed");
        if (root) {
            // The whole test in a network of its own; processes started from
            // this thread join it.
            if (::unshare(CLONE_NEWNET) != 0)
                return QStringLiteral("no private network namespace: ") +
                       QString::fromLocal8Bit(std::strerror(errno));
            if (!runToEnd(QStringLiteral("ip"), {"link", "set", "lo", "up"}))
                return QStringLiteral(
                    "cannot bring up the namespace's loopback (iproute2 missing?)");
            QDir().mkpath(QStringLiteral("/run/sshd")); // sshd's privilege separation folder
        }
        if (!folder.isValid())
            return QStringLiteral("no temporary folder");
        if (!runToEnd(QStringLiteral("ssh-keygen"),
                      {"-q", "-t", "ed25519", "-N", "", "-f", dir + "/host_key"}) ||
            !runToEnd(QStringLiteral("ssh-keygen"),
                      {"-q", "-t", "ed25519", "-N", "", "-f", dir + "/id"}) ||
            !QFile::copy(dir + "/id.pub", dir + "/authorized_keys"))
            return QStringLiteral("ssh-keygen failed");
        port = freeLoopbackPort();
        user = root ? QStringLiteral("root")
                    : QString::fromLocal8Bit(qgetenv("USER").isEmpty() ? qgetenv("LOGNAME")
                                                                       : qgetenv("USER"));
        QFile config(dir + "/sshd_config");
        QFile client(clientConfig());
        if (!config.open(QIODevice::WriteOnly) || !client.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write the configurations");
        config.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/host_key\n"
                                    "AuthorizedKeysFile %2/authorized_keys\nPidFile none\n"
                                    "UsePAM no\nStrictModes no\nPasswordAuthentication no\n"
                                    "KbdInteractiveAuthentication no\n"
                                    "PermitRootLogin prohibit-password\nAllowTcpForwarding yes\n")
                         .arg(port)
                         .arg(dir)
                         .toUtf8() +
                     extraConfig.toUtf8());
        client.write(QStringLiteral("Host *\n  IdentityFile %1/id\n  IdentitiesOnly yes\n"
                                    "  UserKnownHostsFile %1/known_hosts\n"
                                    "  StrictHostKeyChecking accept-new\n")
                         .arg(dir)
                         .toUtf8());
        config.close();
        client.close();
        sshd = std::make_unique<Sshd>(dir + "/sshd_config", port);
        if (!sshd->start())
            return QStringLiteral("sshd did not start on port %1").arg(port);
        qputenv("HARBORWATCH_SSH_CONFIG", QFile::encodeName(clientConfig()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir));
        return {};
    }
};
