#include "sources/ssh/ssh_command.h"

#include "core/display_text.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The context of the reasons told to the user, for translation.
struct SshCommand {
    Q_DECLARE_TR_FUNCTIONS(SshCommand)
};

// Makes `folder` with mode 0700 unless it is there; empty, or why it cannot
// be used.
QString makePrivateFolder(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return SshCommand::tr("cannot make %1: %2")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    // One made by someone else (in a shared temp folder) is not used.
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 0077) != 0)
        return SshCommand::tr("%1 is not a folder of this user's own").arg(folder);
    return {};
}

// The command as the remote's login shell runs it, whatever shell that is:
// `script` (without single quotes) run by sh.
QString shellCommand(const QString& script) {
    Q_ASSERT(!script.contains(QLatin1Char('\'')));
    return QStringLiteral("exec sh -c '") + script + QLatin1Char('\'');
}

} // namespace

QString sshControlFolder(QString* error, QString* tooLong, const QProcessEnvironment& environment) {
    const QString runtime = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    const QString user = QString::number(::getuid());
    QString folder = runtime.startsWith(QLatin1Char('/'))
                         ? runtime + QStringLiteral("/harborwatch")
                         : QDir::tempPath() + QStringLiteral("/harborwatch-") + user;
    if (QFile::encodeName(folder).size() > longestControlFolder) {
        if (tooLong)
            *tooLong = folder;
        folder = QStringLiteral("/tmp/harborwatch-") + user;
    }
    if (const QString problem = makePrivateFolder(folder); !problem.isEmpty()) {
        *error = problem;
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
    const auto option = [&options](const QString& value) {
        options << QStringLiteral("-o") << value;
    };
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

QString remoteText(QStringView text) {
    constexpr qsizetype longest = 300;
    QString shown = displayName(text);
    if (shown.size() <= longest)
        return shown;
    qsizetype kept = longest - 1;
    if (shown.at(kept - 1).isHighSurrogate())
        --kept;
    return shown.first(kept) + QChar(0x2026);
}

QString sshReason(const QByteArray& errorOutput, const QString& fallback) {
    const QList<QByteArray> lines = errorOutput.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = QString::fromUtf8(*it).trimmed();
        if (!line.isEmpty())
            return remoteText(line);
    }
    return fallback;
}

QString remoteListingCommand() {
    // The listing, then the start time of every pid it names, each read
    // once: what follows the last ") " of the stat line (the name may hold
    // one). Every word of the listing is searched for "pid=": a name that
    // holds one only adds a pid of no use.
    const QString list =
        QStringLiteral("l() { o=$(ss -Htlnpe) || exit $?; printf \"%s\\n\" \"$o\"; seen=\" \"; "
                       "for w in $o; do while :; do case $w in *pid=*) "
                       "w=${w#*pid=}; p=${w%%[!0-9]*}; "
                       "case \"$p:$seen\" in :*|*\" $p \"*) ;; "
                       "*) seen=\"$seen$p \"; [ -r /proc/$p/stat ] && read -r s < /proc/$p/stat "
                       "&& echo \"harborwatch-stat $p ${s##*) }\";; esac;; "
                       "*) break;; esac; done; done 2>/dev/null; echo harborwatch-listed; }; ");
    return shellCommand(
        QStringLiteral("set -f; echo harborwatch-connected; ") + list +
        QStringLiteral("l; if command -v harborwatch >/dev/null 2>&1; then echo harborwatch-found; "
                       "harborwatch --watch --json --initial --all; echo harborwatch-gone; fi; "
                       "while sleep 2; do l; done"));
}

QString remoteStopCommand(qint64 pid, qint64 port, quint64 inode, quint64 startTime, bool force) {
    // Numbers only: nothing of the remote's own text goes into the command.
    // Field 22 of the stat line is the 20th after the name's closing ") ";
    // the descriptors are links the kernel writes ("socket:[INODE]"); an
    // unknown inode is taken from `ss -e` without -p, whose lines hold no
    // names: "[uid:N ]ino:N" follows the peer address.
    const QString script =
        QStringLiteral(
            "set -f; p=%1; i=%2; s=%3; "
            "[ -r /proc/$p/stat ] && read -r t < /proc/$p/stat || exit %5; "
            "t=${t##*) }; set -- $t; [ $s = 0 ] || [ \"${20}\" = $s ] || exit %6; "
            "[ $i != 0 ] || i=$(ss -Htlne \"sport = :%4\" | while read -r a b c d e f; do "
            "set -- $f; case $1 in uid:*) shift;; esac; case $1 in ino:*) echo ${1#ino:};; esac; "
            "done); "
            "f=$(ls -l /proc/$p/fd 2>/dev/null) || exit %7; h=; "
            "for n in $i; do case $f in *\" -> socket:[$n]\"*) h=1;; esac; done; "
            "[ -n \"$h\" ] || exit %8; exec kill -%9 $p")
            .arg(QString::number(pid), QString::number(inode), QString::number(startTime),
                 QString::number(port), QString::number(remoteExited),
                 QString::number(remotePidReused), QString::number(remoteNotPermitted),
                 QString::number(remoteNotListening),
                 force ? QStringLiteral("KILL") : QStringLiteral("TERM"));
    return shellCommand(script);
}
