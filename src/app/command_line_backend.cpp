#include "app/command_line_backend.h"

#include "scanner/lister.h"
#include "scanner/lsof_source.h"
#include "scanner/port_scanner.h"
#include "scanner/proc_source.h"
#include "scanner/process_identity.h"
#include "scanner/socket_table.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

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

ServerScanner::ServerScanner() = default;
ServerScanner::~ServerScanner() = default;

Scan ServerScanner::scan(const ScanFilter& filter) {
    const ScanRequest request{filter.minPort, filter.maxPort,
                              filter.allowlist.value_or(QSet<QString>{})};
    ScanResult result;
    if (sourceKindFromSetting(filter.source) == SourceKind::Lsof) {
        if (!m_lsof)
            m_lsof = std::make_unique<LsofSource>();
        result = m_lsof->scanBlocking(request);
    } else {
        if (!m_proc)
            m_proc = std::make_unique<ProcScan>();
        result = m_proc->run(request);
    }
    if (!result.ok())
        return {{}, describeListerError(result.error)};
    if (filter.allowlist)
        return {result.ports, {}};
    // With nothing allowed every listener is another's; pid 0 stands for a
    // holder the user may not inspect.
    QList<ListeningPort> all;
    for (const ListeningPort& p : std::as_const(result.others)) {
        if (p.pid > 0)
            all.append(p);
    }
    return {all, {}};
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
