#include "sources/ssh/ssh_command.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

QString sshControlFolder(QString* error, const QProcessEnvironment& environment) {
    const QString runtime = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    const QString folder =
        runtime.startsWith(QLatin1Char('/'))
            ? runtime + QStringLiteral("/harborwatch")
            : QDir::tempPath() + QStringLiteral("/harborwatch-") + QString::number(::getuid());
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot make %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    // One made by someone else (in a shared temp folder) is not used.
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 0077) != 0) {
        *error = QStringLiteral("%1 is not a folder of this user's own").arg(folder);
        return {};
    }
    return folder;
}

QStringList sshOptions(const QString& controlFolder, int connectTimeout, int persistSeconds,
                       const QProcessEnvironment& environment) {
    QStringList options;
    const QString config = environment.value(QStringLiteral("HARBORWATCH_SSH_CONFIG"));
    if (!config.isEmpty())
        options << QStringLiteral("-F") << config;
    const auto option = [&options](const QString& value) { options << QStringLiteral("-o") << value; };
    option(QStringLiteral("ControlMaster=auto"));
    option(QStringLiteral("ControlPath=") + controlFolder + QStringLiteral("/ssh-%C"));
    option(QStringLiteral("ControlPersist=%1").arg(persistSeconds));
    option(QStringLiteral("BatchMode=yes"));
    option(QStringLiteral("ConnectTimeout=%1").arg(connectTimeout));
    option(QStringLiteral("ServerAliveInterval=5"));
    option(QStringLiteral("ServerAliveCountMax=2"));
    option(QStringLiteral("LogLevel=ERROR"));
    options << QStringLiteral("-T");
    return options;
}

QString sshReason(const QByteArray& errorOutput, const QString& fallback) {
    const QList<QByteArray> lines = errorOutput.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = QString::fromLocal8Bit(*it).trimmed();
        if (!line.isEmpty())
            return line;
    }
    return fallback;
}

QString remoteStopCommand(qint64 pid, qint64 port, quint64 startTime, bool force) {
    // Numbers only: nothing of the remote's own text goes into the command.
    QString command =
        QStringLiteral("ss -Htlnp 'sport = :%1' | grep -q 'pid=%2,' || exit %3; ")
            .arg(QString::number(port), QString::number(pid), QString::number(remoteNotListening));
    if (startTime != 0) {
        // Field 22 of the stat line, counted after the name's closing parenthesis.
        command += QStringLiteral("[ \"$(sed 's/.*) //' /proc/%1/stat | cut -d' ' -f20)\" = %2 ] "
                                  "|| exit %3; ")
                       .arg(QString::number(pid), QString::number(startTime),
                            QString::number(remotePidReused));
    }
    command += QStringLiteral("exec kill -%1 %2")
                   .arg(force ? QStringLiteral("KILL") : QStringLiteral("TERM"), QString::number(pid));
    return command;
}
