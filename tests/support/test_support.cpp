#include "test_support.h"

#include <QFile>
#include <QStandardPaths>

#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>

ListenerProcess::ListenerProcess(const QString& name, const QString& ports,
                                 const QStringList& options, const QString& program,
                                 const QString& folder, const QStringList& extra)
    : m_process(std::make_unique<QProcess>()) {
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!folder.isEmpty())
        m_process->setWorkingDirectory(folder);
    m_process->start(program.isEmpty() ? programPath() : program,
                     options + QStringList{name, ports} + extra);
    if (!m_process->waitForStarted(5000))
        return;
    if (!m_process->waitForReadyRead(5000))
        return;
    // One line with the port; wait for the whole line.
    while (!m_process->canReadLine() && m_process->waitForReadyRead(5000)) {
    }
    const QList<QByteArray> fields = m_process->readLine().trimmed().split(' ');
    m_port = fields.value(0).toLongLong();
    m_childPid = fields.value(1).toLongLong();
}

QString ListenerProcess::programPath() {
    return QStringLiteral(HW_LISTENER_PATH);
}

ListenerProcess::~ListenerProcess() {
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

qint64 ListenerProcess::pid() const {
    return m_process->processId();
}

bool ListenerProcess::waitForExit(int ms) {
    return m_process->state() == QProcess::NotRunning || m_process->waitForFinished(ms);
}

int ListenerProcess::exitCode() const {
    if (m_process->state() != QProcess::NotRunning ||
        m_process->exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process->exitCode();
}

PrivateSessionBus::PrivateSessionBus() {
    m_hadPrevious = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
    m_previousAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QProcess daemon;
    // --fork: the daemon detaches once the bus is ready, so both lines are
    // there when this returns.
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--fork"),
                  QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1")});
    if (!daemon.waitForFinished(10000) || daemon.exitCode() != 0)
        return;
    const QList<QByteArray> lines = daemon.readAllStandardOutput().split('\n');
    if (lines.size() < 2)
        return;
    m_address = QString::fromUtf8(lines[0].trimmed());
    m_pid = lines[1].trimmed().toLongLong();
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
}

PrivateSessionBus::~PrivateSessionBus() {
    if (m_pid > 0)
        ::kill(static_cast<pid_t>(m_pid), SIGTERM);
    if (m_hadPrevious)
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_previousAddress);
    else
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

bool processExists(qint64 pid) {
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0)
        return false;
    // A zombie still answers kill(0); its state in /proc says it is gone.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype paren = line.lastIndexOf(')');
    return paren < 0 || paren + 2 >= line.size() || line[paren + 2] != 'Z';
}
