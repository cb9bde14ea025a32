#include "app/command_line_backend.h"

#include "scanner/lister.h"
#include "scanner/lsof_source.h"
#include "scanner/port_scanner.h"
#include "scanner/proc_source.h"
#include "scanner/server_details.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

const QString procRoot = QStringLiteral("/proc");

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
    // The boot time never changes while the program runs: read it once.
    static const std::optional<qint64> boot = bootTime();
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
    const ServerDetails details = readServerDetails(port, procRoot, QDir::homePath());
    ServerRow row{port.port, port.pid, port.process, serverUrl(port.port, port.address),
                  port.address};
    if (!details.folder.isEmpty())
        row.folder = details.folder;
    if (!details.project.isEmpty())
        row.project = details.project;
    if (!details.arguments.isEmpty())
        row.command = details.arguments;
    row.started = startedAt(details.startTime);
    return row;
}
