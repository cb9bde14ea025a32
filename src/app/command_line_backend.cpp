#include "app/command_line_backend.h"

#include "monitor/port_monitor.h"
#include "platform/settings_store.h"
#include "scanner/lister.h"
#include "scanner/port_scanner.h"
#include "scanner/process_identity.h"
#include "scanner/socket_table.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QMap>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <sys/types.h>
#include <unistd.h>

namespace {

const QString procRoot = QStringLiteral("/proc");

QString tr(const char* text) {
    return QCoreApplication::translate("CommandLine", text);
}

QString processName(qint64 pid) {
    QFile comm(QStringLiteral("%1/%2/comm").arg(procRoot).arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    QByteArray name = comm.readAll();
    if (name.endsWith('\n'))
        name.chop(1);
    return QString::fromUtf8(name);
}

Scan scanProc() {
    QString error;
    const auto sockets = readListeningSockets(procRoot, &error);
    if (!sockets)
        return {{}, error};
    QHash<quint64, const ListeningSocket*> byInode;
    for (const ListeningSocket& socket : *sockets)
        byInode.insert(socket.inode, &socket);

    // Each port under the lowest pid that holds a socket listening on it.
    QMap<qint64, ListeningPort> byPort;
    const QStringList entries = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const auto pid = parseInteger(entry);
        if (!pid || *pid <= 0)
            continue;
        for (quint64 inode : socketInodesOf(*pid, procRoot)) {
            const ListeningSocket* socket = byInode.value(inode);
            if (!socket)
                continue;
            const auto known = byPort.constFind(socket->port);
            if (known != byPort.cend() && known->pid <= *pid)
                continue;
            const auto startTime = processStartTime(*pid, procRoot);
            if (!startTime)
                break; // it exited
            byPort.insert(socket->port,
                          {socket->port, *pid, processName(*pid), *startTime, socket->address});
        }
    }
    return {byPort.values(), {}};
}

Scan scanLsof() {
    const ListerResult listing = Lister(defaultListerCommand()).runBlocking();
    if (!listing.ok())
        return {{}, describeListerError(listing.error)};
    QList<ListeningPort> ports = PortScanner::parse(listing.text);
    for (ListeningPort& port : ports)
        port.startTime = processStartTime(port.pid, procRoot).value_or(0);
    return {ports, {}};
}

bool isLoopbackOrAny(const QString& address) {
    static const QStringList any = {QString(), QStringLiteral("*"), QStringLiteral("0.0.0.0"),
                                    QStringLiteral("::"), QStringLiteral("::1")};
    return any.contains(address) || address.startsWith(QLatin1String("127.")) ||
           address.startsWith(QLatin1String("::ffff:127."));
}

QString urlOf(qint64 port, const QString& address) {
    if (isLoopbackOrAny(address))
        return QStringLiteral("http://localhost:%1").arg(port);
    const QString host = address.contains(QLatin1Char(':')) ? '[' + address + ']' : address;
    return QStringLiteral("http://%1:%2").arg(host).arg(port);
}

std::optional<QStringList> commandOf(qint64 pid) {
    QFile file(QStringLiteral("%1/%2/cmdline").arg(procRoot).arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return std::nullopt;
    if (bytes.endsWith('\0'))
        bytes.chop(1);
    QStringList arguments;
    for (const QByteArray& argument : bytes.split('\0'))
        arguments.append(QString::fromUtf8(argument));
    return arguments;
}

// The boot time, in seconds since the epoch, from the "btime" line of /proc/stat.
std::optional<qint64> bootTime() {
    QFile stat(procRoot + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Files in /proc report a size of 0: read to the end, not to the size.
    const QList<QByteArray> lines = stat.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("btime "))
            return parseInteger(QString::fromLatin1(line.mid(6).trimmed()));
    }
    return std::nullopt;
}

std::optional<QDateTime> startedAt(quint64 startTime) {
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    const auto boot = bootTime();
    if (startTime == 0 || ticksPerSecond <= 0 || !boot)
        return std::nullopt;
    const qint64 ms = *boot * 1000 + qint64(startTime) * 1000 / ticksPerSecond;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

} // namespace

ScanSettings readScanSettings(const SettingsStore& store) {
    ScanSettings settings;
    // Zero, negative and absent stored bounds all mean the default.
    const qint64 storedMin = store.integer(QStringLiteral("minPort"));
    const qint64 storedMax = store.integer(QStringLiteral("maxPort"));
    settings.minPort = storedMin > 0 ? storedMin : PortMonitor::defaultMinPort;
    settings.maxPort = storedMax > 0 ? storedMax : PortMonitor::defaultMaxPort;
    settings.allowlist = PortScanner::defaultAllowlist();
    if (const auto stored = store.array(QStringLiteral("allowlist"))) {
        QSet<QString> names;
        bool allNames = true;
        for (const QJsonValue& value : *stored) {
            allNames = allNames && value.isString();
            names.insert(value.toString());
        }
        if (allNames)
            settings.allowlist = std::move(names);
    }
    settings.lister = QStringLiteral("proc");
    return settings;
}

QList<ListeningPort> applyFilter(const QList<ListeningPort>& ports, const ServerFilter& filter) {
    QList<ListeningPort> kept;
    for (const ListeningPort& port : ports) {
        if (port.port < filter.minPort || port.port > filter.maxPort)
            continue;
        if (filter.allowlist && !filter.allowlist->contains(port.process))
            continue;
        kept.append(port);
    }
    return kept;
}

Scan scanEverything(const QString& lister) {
    return lister == QLatin1String("lsof") ? scanLsof() : scanProc();
}

ServerRow serverRowOf(const ListeningPort& port) {
    ServerRow row{port.port, port.pid, port.process, urlOf(port.port, port.address), port.address};
    const QString folder =
        QFileInfo(QStringLiteral("%1/%2/cwd").arg(procRoot).arg(port.pid)).symLinkTarget();
    if (!folder.isEmpty()) {
        row.folder = folder;
        row.project = QFileInfo(folder).fileName();
    }
    row.command = commandOf(port.pid);
    row.started = startedAt(port.startTime);
    return row;
}

StopAttempt stopServer(const ListeningPort& listed, bool force) {
    if (listed.pid <= 0 || listed.pid > std::numeric_limits<pid_t>::max())
        return {false, tr("it has no valid process id")};
    const auto startTime = processStartTime(listed.pid, procRoot);
    if (!startTime)
        return {false, tr("it exited already")};
    if (*startTime != listed.startTime)
        return {false, tr("another process has its pid now")};
    if (!holdsListeningSocket(listed.pid, listed.port, procRoot))
        return {false, tr("it no longer listens on port %1").arg(listed.port)};
    if (::kill(pid_t(listed.pid), force ? SIGKILL : SIGTERM) == 0)
        return {true, {}};
    if (errno == EPERM)
        return {false, tr("permission denied, it belongs to another user")};
    if (errno == ESRCH)
        return {false, tr("it exited already")};
    return {false, QString::fromLocal8Bit(std::strerror(errno))};
}

QList<ServerChange> changesBetween(const QList<ListeningPort>& before,
                                   const ServerFilter& filterBefore,
                                   const QList<ListeningPort>& after,
                                   const ServerFilter& filterAfter) {
    // Each side is compared with the other scan seen through the same filter,
    // so a filter edit alone makes no difference.
    const auto portsOf = [](const QList<ListeningPort>& ports) {
        QSet<qint64> set;
        for (const ListeningPort& p : ports)
            set.insert(p.port);
        return set;
    };
    const QList<ListeningPort> shownAfter = applyFilter(after, filterAfter);
    const QList<ListeningPort> shownBefore = applyFilter(before, filterBefore);
    const QSet<qint64> wasShown = portsOf(applyFilter(before, filterAfter));
    const QSet<qint64> isShown = portsOf(applyFilter(after, filterBefore));

    QList<ServerChange> changes;
    for (const ListeningPort& p : shownAfter) {
        if (!wasShown.contains(p.port))
            changes.append({ServerEvent::Started, p});
    }
    for (const ListeningPort& p : shownBefore) {
        if (!isShown.contains(p.port))
            changes.append({ServerEvent::Stopped, p});
    }
    return changes;
}
