#include "sources/ssh/ssh_source.h"

#include "sources/ssh/ssh_command.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The lines the remote command writes between its listings.
const QByteArray listedMarker = "harborwatch-listed";
const QByteArray streamMarker = "harborwatch-found";
const QByteArray streamEndMarker = "harborwatch-gone";

// One `ss` listing first, so that the first answer comes at once; then the
// remote harborwatch's stream where there is one, and `ss` every two seconds
// where there is none or once it ends.
const QString remoteCommand = QStringLiteral(
    "ss -Htlnp; echo; echo harborwatch-listed; "
    "if command -v harborwatch >/dev/null 2>&1; then echo harborwatch-found; "
    "harborwatch --watch --json --initial --all; echo harborwatch-gone; fi; "
    "while sleep 2 && ss -Htlnp; do echo; echo harborwatch-listed; done");

// Binds a TCP socket on 127.0.0.1:`port` (0 for any) as ssh's listener
// would, and gives the port it got; 0 when the port is taken.
qint64 bindLoopback(qint64 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    qint64 got = 0;
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        got = ntohs(address.sin_port);
    ::close(fd);
    return got;
}

QString forwardSpec(const PortForward& f) {
    return QStringLiteral("%1:127.0.0.1:%2").arg(f.localPort).arg(f.remotePort);
}

} // namespace

SshSource::SshSource(QString destination, SshSourceTiming timing, QObject* parent)
    : QObject(parent), m_destination(std::move(destination)), m_timing(timing),
      m_retryMs(timing.firstRetryMs) {
    const QString folder = sshControlFolder(&m_folderError);
    m_options = sshOptions(folder, m_timing.connectTimeoutS, m_timing.persistS);
    m_problem = tr("connecting");
    m_firstWait.setSingleShot(true);
    connect(&m_firstWait, &QTimer::timeout, this, &SshSource::firstAnswer);
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, [this] {
        discard(m_session);
        failed(tr("no answer within %1 s").arg(m_timing.callTimeoutMs / 1000));
    });
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &SshSource::start);
    start(); // connects at once, so the first scan finds an answer soon
}

// Every ssh process of the source goes, then its forwards and its master:
// nothing it started outlives it.
SshSource::~SshSource() {
    for (QProcess* process : findChildren<QProcess*>(Qt::FindDirectChildrenOnly))
        discard(process);
    if (!m_everConnected)
        return;
    const auto runNow = [this](const QStringList& tail) {
        QProcess process;
        process.start(QStringLiteral("ssh"), callArguments(tail));
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(1000);
        }
    };
    for (const PortForward& f : std::as_const(m_forwards))
        runNow({QStringLiteral("-O"), QStringLiteral("cancel"), QStringLiteral("-L"), forwardSpec(f)});
    runNow({QStringLiteral("-O"), QStringLiteral("exit")});
}

void SshSource::discard(QProcess*& process) {
    if (!process)
        return;
    // No signal of a process being dropped reaches the source.
    process->disconnect();
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(1000);
    }
    delete process;
    process = nullptr;
}

QStringList SshSource::callArguments(const QStringList& tail) const {
    // "--" before the destination: nothing in it is taken for an option.
    QStringList arguments = m_options;
    const qsizetype command = tail.indexOf(QStringLiteral("--"));
    if (command < 0)
        return arguments + tail + QStringList{QStringLiteral("--"), m_destination};
    return arguments + tail.first(command) + QStringList{QStringLiteral("--"), m_destination} +
           tail.sliced(command + 1);
}

// An ssh process with `tail` (options, then "--" and the remote command);
// `finished` runs once it has ended, or could not start.
QProcess* SshSource::call(const QStringList& tail, std::function<void(QProcess&)> finished) {
    auto* process = new QProcess(this);
    process->setStandardInputFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this, [process, finished] {
        finished(*process);
        process->deleteLater();
    });
    connect(process, &QProcess::errorOccurred, this, [process, finished](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return;
        finished(*process);
        process->deleteLater();
    });
    process->start(QStringLiteral("ssh"), callArguments(tail));
    return process;
}

void SshSource::start() {
    if (!m_folderError.isEmpty()) {
        failed(m_folderError);
        return;
    }
    if (m_session || m_retry.isActive())
        return;
    m_buffer.clear();
    m_listing.clear();
    m_streamMode = false;
    m_streamSeen = false;
    m_streamed.clear();
    m_session = call({QStringLiteral("--"), remoteCommand}, [this](QProcess& process) {
        m_silence.stop();
        m_session = nullptr;
        ended(process);
    });
    connect(m_session, &QProcess::readyReadStandardOutput, this, &SshSource::read);
    m_silence.start(m_timing.callTimeoutMs);
}

void SshSource::read() {
    m_buffer += m_session->readAllStandardOutput();
    qsizetype end;
    while ((end = m_buffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_buffer.first(end);
        m_buffer.remove(0, end + 1);
        readLine(line);
    }
}

void SshSource::readLine(const QByteArray& line) {
    if (line == listedMarker) {
        // Silence counts while `ss` lists, not while a stream has nothing to tell.
        m_silence.start(m_timing.callTimeoutMs);
        connected(parseSsListing(m_listing));
        m_listing.clear();
        return;
    }
    if (line == streamMarker) {
        m_streamMode = true;
        m_silence.stop();
        return;
    }
    if (line == streamEndMarker) {
        // The remote harborwatch cannot serve: ss lists from now on.
        m_streamMode = false;
        m_streamSeen = false;
        m_streamed.clear();
        m_silence.start(m_timing.callTimeoutMs);
        return;
    }
    if (!m_streamMode) {
        m_listing += line + '\n';
        return;
    }
    // {"event": "started"|"stopped", "port", "pid", "process", ...}; a line
    // naming a host is about a machine of the remote's own, not the remote.
    const QJsonObject event = QJsonDocument::fromJson(line).object();
    const qint64 port = event.value(QStringLiteral("port")).toInteger();
    if (port < 1 || port > 65535 || event.contains(QStringLiteral("host")))
        return;
    m_streamSeen = true;
    const QString kind = event.value(QStringLiteral("event")).toString();
    const SsHolder holder{event.value(QStringLiteral("pid")).toInteger(),
                          event.value(QStringLiteral("process")).toString()};
    if (kind == QLatin1String("started"))
        m_streamed.insert(port, {QString(), port, {holder}});
    else if (kind == QLatin1String("stopped"))
        m_streamed.remove(port);
    emit listed();
}

void SshSource::ended(QProcess& process) {
    const QByteArray errors = process.readAllStandardError();
    if (process.error() == QProcess::FailedToStart)
        return failed(tr("ssh could not be started: %1").arg(process.errorString()));
    if (process.exitStatus() != QProcess::NormalExit)
        return failed(tr("ssh ended unexpectedly"));
    if (process.exitCode() == 255)
        return failed(sshReason(errors, tr("the connection was lost")));
    // The loop ends only when ss fails.
    failed(sshReason(errors, tr("ss failed on the host (status %1)").arg(process.exitCode())));
}

void SshSource::connected(QList<SsSocket> sockets) {
    const bool reconnected = !m_connected && m_everConnected;
    m_connected = true;
    m_everConnected = true;
    m_problem.clear();
    m_retryMs = m_timing.firstRetryMs;
    m_sockets = std::move(sockets);
    // A new master has none of the forwards: they are set up again.
    if (reconnected) {
        for (const PortForward& f : std::as_const(m_forwards))
            call({QStringLiteral("-O"), QStringLiteral("forward"), QStringLiteral("-L"),
                  forwardSpec(f)},
                 [](QProcess&) {});
    }
    firstAnswer();
    emit listed();
}

void SshSource::failed(const QString& reason) {
    m_connected = false;
    m_problem = reason;
    m_sockets.clear();
    m_streamed.clear();
    m_streamMode = false;
    m_streamSeen = false;
    m_retry.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, m_timing.lastRetryMs);
    firstAnswer();
    emit listed();
}

QList<SsSocket> SshSource::currentSockets() const {
    if (m_streamMode && m_streamSeen)
        return m_streamed.values();
    return m_sockets;
}

void SshSource::firstAnswer() {
    m_answered = true;
    m_firstWait.stop();
    if (m_scan)
        answer();
}

bool SshSource::scan(ScanFilter filter, Done done) {
    if (m_scan)
        return false;
    m_scan = Scan{std::move(filter), std::move(done)};
    if (m_answered)
        QMetaObject::invokeMethod(this, &SshSource::answer, Qt::QueuedConnection);
    else if (!m_firstWait.isActive())
        m_firstWait.start(m_timing.firstAnswerMs);
    return true;
}

void SshSource::answer() {
    if (!m_scan)
        return;
    Scan scan = std::move(*m_scan);
    m_scan.reset();
    ScanResult result;
    if (!m_connected) {
        result.error = m_problem;
    } else {
        result.ports = ssRecords(currentSockets(), scan.filter);
        for (ListeningPort& p : result.ports)
            p.host = m_destination;
        for (const PortForward& f : std::as_const(m_forwards))
            result.forwardedPorts.append(f.localPort);
    }
    scan.done(std::move(result));
}

ServerDetails SshSource::details(const ListeningPort& record) const {
    ServerDetails details;
    details.address = record.address;
    return details;
}

void SshSource::stop(const ListeningPort& record, bool force, StopDone done) {
    const auto answerLater = [this](StopDone d, StopResult r) {
        QMetaObject::invokeMethod(
            this, [d = std::move(d), r = std::move(r)] { d(r); }, Qt::QueuedConnection);
    };
    if (record.pid <= 0)
        return answerLater(std::move(done), stopRefused(StopOutcome::InvalidPid, record.port));
    if (!m_connected)
        return answerLater(std::move(done),
                           {StopOutcome::Failed, tr("%1 is not connected").arg(m_destination)});
    const qint64 port = record.port;
    call({QStringLiteral("--"), remoteStopCommand(record.pid, port, record.startTime, force)},
         [port, done = std::move(done)](QProcess& process) {
             const QString reason =
                 sshReason(process.readAllStandardError(), tr("the host refused"));
             if (process.error() == QProcess::FailedToStart ||
                 process.exitStatus() != QProcess::NormalExit)
                 return done({StopOutcome::Failed, tr("ssh could not be run")});
             switch (process.exitCode()) {
             case 0:
                 return done({StopOutcome::Delivered});
             case remoteNotListening:
                 return done(stopRefused(StopOutcome::NotListening, port));
             case remotePidReused:
                 return done(stopRefused(StopOutcome::PidReused, port));
             default:
                 if (reason.contains(QLatin1String("No such process")))
                     return done(stopRefused(StopOutcome::Exited, port));
                 if (reason.contains(QLatin1String("ermitted")))
                     return done(stopRefused(StopOutcome::PermissionDenied, port));
                 return done({StopOutcome::Failed, reason});
             }
         });
}

void SshSource::stillRuns(const ListeningPort& record, RunsDone done) {
    bool runs = false;
    for (const SsSocket& socket : currentSockets()) {
        for (const SsHolder& holder : socket.holders)
            runs = runs || (socket.port == record.port && holder.pid == record.pid);
    }
    // While the host is away nothing is known: it is left as listed.
    runs = runs || !m_connected;
    QMetaObject::invokeMethod(
        this, [done = std::move(done), runs] { done(runs); }, Qt::QueuedConnection);
}

void SshSource::forward(qint64 remotePort, qint64 localPort, ForwardDone done) {
    const auto answerLater = [this](ForwardDone d, qint64 local, QString error) {
        QMetaObject::invokeMethod(
            this, [d = std::move(d), local, error] { d(local, error); }, Qt::QueuedConnection);
    };
    for (const PortForward& f : std::as_const(m_forwards)) {
        if (f.remotePort == remotePort)
            return answerLater(std::move(done), f.localPort, {});
    }
    if (!m_connected)
        return answerLater(std::move(done), 0, tr("%1 is not connected").arg(m_destination));
    if (m_forwarding.contains(remotePort)) {
        m_forwarding[remotePort].append(std::move(done));
        return;
    }
    // The port asked for, or the same port here when it is free, else any free one.
    const qint64 local = localPort > 0                ? bindLoopback(localPort)
                         : bindLoopback(remotePort) ? remotePort
                                                    : bindLoopback(0);
    if (local == 0) {
        return answerLater(std::move(done), 0,
                           localPort > 0 ? tr("port %1 is in use here").arg(localPort)
                                         : tr("no free port here"));
    }
    m_forwarding[remotePort].append(std::move(done));
    const PortForward wanted{remotePort, local};
    call({QStringLiteral("-O"), QStringLiteral("forward"), QStringLiteral("-L"), forwardSpec(wanted)},
         [this, wanted](QProcess& process) {
             const bool ok = process.error() != QProcess::FailedToStart &&
                             process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
             const QString error =
                 ok ? QString() : sshReason(process.readAllStandardError(), tr("ssh refused the forward"));
             if (ok) {
                 m_forwards.append(wanted);
                 std::sort(m_forwards.begin(), m_forwards.end(),
                           [](const PortForward& a, const PortForward& b) {
                               return a.remotePort < b.remotePort;
                           });
             }
             const QList<ForwardDone> waiting = m_forwarding.take(wanted.remotePort);
             for (const ForwardDone& d : waiting)
                 d(ok ? wanted.localPort : 0, error);
         });
}

void SshSource::cancelForward(qint64 remotePort, std::function<void()> done) {
    const auto found = std::find_if(m_forwards.cbegin(), m_forwards.cend(),
                                    [&](const PortForward& f) { return f.remotePort == remotePort; });
    if (found == m_forwards.cend()) {
        QMetaObject::invokeMethod(this, [done = std::move(done)] { done(); }, Qt::QueuedConnection);
        return;
    }
    const PortForward f = *found;
    m_forwards.erase(found);
    call({QStringLiteral("-O"), QStringLiteral("cancel"), QStringLiteral("-L"), forwardSpec(f)},
         [done = std::move(done)](QProcess&) { done(); });
}
