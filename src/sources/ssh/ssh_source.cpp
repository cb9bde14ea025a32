#include "sources/ssh/ssh_source.h"

#include "core/presentation.h"
#include "sources/ssh/forward_check.h"
#include "sources/ssh/ssh_command.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How much of an ssh call's error output is kept: its end, where ssh's
// reason is.
constexpr qsizetype longestErrorOutput = 8 * 1024;

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

void keepEnd(QByteArray& bytes, qsizetype longest) {
    if (bytes.size() > longest)
        bytes.remove(0, bytes.size() - longest);
}

} // namespace

SshSource::SshSource(QString destination, SshSourceTiming timing,
                     std::shared_ptr<SshConnections> connections, QObject* parent)
    : QObject(parent), m_destination(std::move(destination)), m_timing(timing),
      m_connections(connections ? std::move(connections) : std::make_shared<SshConnections>()),
      m_retryMs(timing.firstRetryMs) {
    const QString folder = m_connections->controlFolder(&m_folderError);
    m_options = sshOptions(folder, m_timing.connectTimeoutS, m_timing.persistS);
    m_firstWait.setSingleShot(true);
    connect(&m_firstWait, &QTimer::timeout, this, &SshSource::firstAnswer);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &SshSource::start);
    start(); // connects as soon as it may, so the first scan finds an answer soon
}

// Every ssh process of the source goes, then its forwards and its master:
// nothing it started outlives it.
SshSource::~SshSource() {
    m_connections->leave(this);
    m_connections->stopExpecting(this);
    for (QProcess* process : findChildren<QProcess*>(Qt::FindDirectChildrenOnly))
        discard(process);
    if (!m_everConnected && !m_mayHaveMaster)
        return;
    const auto runNow = [this](const QStringList& tail) {
        QProcess process;
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral("ssh"), callArguments(tail));
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(1000);
        }
    };
    for (const PortForward& f : std::as_const(m_forwards))
        runNow(
            {QStringLiteral("-O"), QStringLiteral("cancel"), QStringLiteral("-L"), forwardSpec(f)});
    runNow({QStringLiteral("-O"), QStringLiteral("exit")});
}

QString SshSource::problem() const {
    switch (m_stage) {
    case Stage::Listed:
        return {};
    case Stage::Waiting:
        return firstListingNotice();
    case Stage::Down:
        return m_failure;
    case Stage::InLine:
        return m_failure.isEmpty() ? tr("waiting for its turn to connect") : m_failure;
    case Stage::Connecting:
        break;
    }
    return m_failure.isEmpty() ? tr("connecting") : m_failure;
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

// An ssh process with `tail` (options, then "--" and the remote command).
// `finished` runs once it has ended, could not start, or was killed after
// `timeoutMs` (when not 0): always from the event loop, never inside call().
// Its output is read only with `readsOutput`; of its error output the last
// 8 KiB are kept.
QProcess* SshSource::call(const QStringList& tail, int timeoutMs, CallDone finished,
                          bool readsOutput) {
    auto* process = new QProcess(this);
    process->setStandardInputFile(QProcess::nullDevice());
    if (!readsOutput)
        process->setStandardOutputFile(QProcess::nullDevice());
    // It goes with the program, even when the program is killed.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    struct State {
        CallEnd end;
        bool over = false;
    };
    const auto state = std::make_shared<State>();
    const auto readErrors = [process, state] {
        state->end.errors += process->readAllStandardError();
        keepEnd(state->end.errors, longestErrorOutput);
    };
    const auto finish = [process, state, readErrors, finished = std::move(finished)] {
        if (std::exchange(state->over, true))
            return;
        readErrors();
        process->deleteLater();
        finished(state->end);
    };
    connect(process, &QProcess::readyReadStandardError, this, readErrors);
    connect(process, &QProcess::finished, this,
            [state, finish](int code, QProcess::ExitStatus status) {
                state->end.exitCode = code;
                state->end.crashed = status != QProcess::NormalExit;
                finish();
            });
    connect(process, &QProcess::errorOccurred, this,
            [process, state, finish](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart)
                    return;
                state->end.started = false;
                state->end.startError = process->errorString();
                // Possibly inside start(): told from the event loop, unless
                // the process is dropped first.
                QMetaObject::invokeMethod(process, finish, Qt::QueuedConnection);
            });
    if (timeoutMs > 0) {
        auto* deadline = new QTimer(process);
        deadline->setSingleShot(true);
        // Never before its time: a coarse timer may fire 5 % early.
        deadline->setTimerType(Qt::PreciseTimer);
        connect(deadline, &QTimer::timeout, process, [process, state] {
            state->end.timedOut = true;
            process->kill(); // `finished` follows
        });
        deadline->start(timeoutMs);
    }
    process->start(QStringLiteral("ssh"), callArguments(tail));
    return process;
}

void SshSource::start() {
    if (m_session || m_retry.isActive())
        return;
    if (!m_folderError.isEmpty()) {
        // Told from the event loop, as every answer.
        QMetaObject::invokeMethod(
            this, [this] { failed(m_folderError); }, Qt::QueuedConnection);
        return;
    }
    m_stage = Stage::InLine;
    m_connections->enter(this, [this] { launch(); });
}

void SshSource::launch() {
    m_stage = Stage::Connecting;
    m_stream = RemoteStream();
    m_mayHaveMaster = true;
    m_session = call(
        {QStringLiteral("--"), remoteListingCommand()}, 0,
        [this](const CallEnd& end) { ended(end); }, true);
    connect(m_session, &QProcess::readyReadStandardOutput, this, &SshSource::read);
    expectListing();
}

// The next listing is due within callTimeoutMs: the shared timer of the
// connections tells when it has not come (see silent()).
void SshSource::expectListing() {
    m_expecting = true;
    m_connections->expectWithin(this, m_timing.callTimeoutMs, [this] { silent(); });
}

void SshSource::silent() {
    m_expecting = false;
    discard(m_session);
    m_connections->leave(this);
    failed(tr("no answer within %1 s").arg(m_timing.callTimeoutMs / 1000));
}

void SshSource::read() {
    const RemoteStream::News news = m_stream.read(m_session->readAllStandardOutput());
    if (news.connected) {
        // Authenticated: the master is up, the next host may connect.
        m_everConnected = true;
        m_stage = Stage::Waiting;
        m_connections->leave(this);
        emit listed();
    }
    if (news.lineTooLong) {
        discard(m_session);
        m_expecting = false;
        m_connections->stopExpecting(this);
        failed(tr("the host sent a line longer than 64 KiB"));
        return;
    }
    // Silence counts while `ss` lists, not while a stream has nothing to tell.
    if (m_stream.readsWatch()) {
        if (std::exchange(m_expecting, false))
            m_connections->stopExpecting(this);
    } else if (news.listed || !m_expecting) {
        expectListing();
    }
    if (news.listed) {
        connected();
        followListing();
        if (QList<SsSocket> sockets = m_stream.sockets(); sockets != m_toldSockets) {
            m_toldSockets = std::move(sockets);
            if (m_news)
                m_news();
        }
    }
}

void SshSource::ended(const CallEnd& end) {
    m_expecting = false;
    m_connections->stopExpecting(this);
    m_session = nullptr;
    m_connections->leave(this);
    if (!end.started) {
        m_mayHaveMaster = false;
        return failed(tr("ssh could not be started: %1").arg(end.startError));
    }
    if (end.crashed)
        return failed(tr("ssh ended unexpectedly"));
    if (end.exitCode == 255) {
        // The connection failed or was lost, and a master with it.
        m_mayHaveMaster = false;
        return failed(sshReason(end.errors, tr("the connection was lost")));
    }
    // The loop ends only when ss fails.
    failed(sshReason(end.errors, tr("ss failed on the host (status %1)").arg(end.exitCode)));
}

void SshSource::connected() {
    const bool reconnected = m_stage != Stage::Listed;
    m_stage = Stage::Listed;
    m_failure.clear();
    m_retryMs = m_timing.firstRetryMs;
    // A new master has none of the forwards: they are set up again.
    if (reconnected) {
        for (const PortForward& f : std::as_const(m_forwards))
            forwardAgain(f);
    }
    firstAnswer();
    emit listed();
}

void SshSource::failed(const QString& reason) {
    m_stage = Stage::Down;
    m_failure = reason;
    m_stream = RemoteStream();
    // Nothing passes now; looks under way are of the lost connection.
    m_looking.clear();
    m_lookAgain.clear();
    m_listedForwards.clear();
    for (const PortForward& f : std::as_const(m_forwards))
        setForwardState(f.remotePort, ForwardState::Reconnecting);
    // The host's servers leave the list now, and come back with the next listing.
    if (!std::exchange(m_toldSockets, {}).isEmpty() && m_news)
        m_news();
    if (!m_retry.isActive()) {
        m_retry.start(m_retryMs);
        m_retryMs = std::min(m_retryMs * 2, m_timing.lastRetryMs);
    }
    firstAnswer();
    emit listed();
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
    if (!isConnected()) {
        result.error = problem();
    } else {
        result.ports = ssRecords(m_stream.sockets(), scan.filter);
        for (ListeningPort& p : result.ports)
            p.host = m_destination;
        for (const PortForward& f : std::as_const(m_forwards))
            result.forwardedPorts.append(f.localPort);
        if (m_stream.isCut())
            result.problems.insert(SourceId{}, cutListingNotice());
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
    if (!isConnected())
        return answerLater(std::move(done),
                           {StopOutcome::Failed, tr("%1 is not connected").arg(m_destination)});
    // The socket the listing had the pid hold on the port.
    bool listed = false;
    quint64 inode = 0;
    for (const SsSocket& socket : m_stream.sockets()) {
        for (const SsHolder& holder : socket.holders) {
            if (socket.port == record.port && holder.pid == record.pid) {
                listed = true;
                inode = inode != 0 ? inode : socket.inode;
            }
        }
    }
    if (!listed)
        return answerLater(std::move(done), stopRefused(StopOutcome::NotListening, record.port));
    const qint64 port = record.port;
    const int seconds = m_timing.stopTimeoutMs / 1000;
    call(
        {QStringLiteral("--"), remoteStopCommand(record.pid, port, inode, record.startTime, force)},
        m_timing.stopTimeoutMs, [port, seconds, done = std::move(done)](const CallEnd& end) {
            if (!end.started)
                return done(
                    {StopOutcome::Failed, tr("ssh could not be started: %1").arg(end.startError)});
            if (end.timedOut)
                return done(
                    {StopOutcome::Failed, tr("the host did not answer within %1 s").arg(seconds)});
            if (end.crashed)
                return done({StopOutcome::Failed, tr("ssh could not be run")});
            switch (end.exitCode) {
            case 0:
                return done({StopOutcome::Delivered});
            case remoteNotListening:
                return done(stopRefused(StopOutcome::NotListening, port));
            case remotePidReused:
                return done(stopRefused(StopOutcome::PidReused, port));
            case remoteExited:
                return done(stopRefused(StopOutcome::Exited, port));
            case remoteNotPermitted:
                return done(stopRefused(StopOutcome::PermissionDenied, port));
            default:
                break;
            }
            const QString reason = sshReason(end.errors, tr("the host refused"));
            if (reason.contains(QLatin1String("No such process")))
                return done(stopRefused(StopOutcome::Exited, port));
            if (reason.contains(QLatin1String("ermitted")))
                return done(stopRefused(StopOutcome::PermissionDenied, port));
            done({StopOutcome::Failed, reason});
        });
}

void SshSource::stillRuns(const ListeningPort& record, RunsDone done) {
    bool runs = false;
    for (const SsSocket& socket : m_stream.sockets()) {
        for (const SsHolder& holder : socket.holders)
            runs = runs || (socket.port == record.port && holder.pid == record.pid);
    }
    // While the host is away nothing is known: it is left as listed.
    runs = runs || !isConnected();
    QMetaObject::invokeMethod(
        this, [done = std::move(done), runs] { done(runs); }, Qt::QueuedConnection);
}

QProcess* SshSource::callForward(const PortForward& f, CallDone finished) {
    return call(
        {QStringLiteral("-O"), QStringLiteral("forward"), QStringLiteral("-L"), forwardSpec(f)},
        m_timing.forwardTimeoutMs, std::move(finished));
}

void SshSource::forward(qint64 remotePort, qint64 localPort, ForwardDone done, LocalPort choice) {
    const auto answerLater = [this](ForwardDone d, qint64 local, QString error) {
        QMetaObject::invokeMethod(
            this, [d = std::move(d), local, error] { d(local, error); }, Qt::QueuedConnection);
    };
    for (const PortForward& f : std::as_const(m_forwards)) {
        if (f.remotePort == remotePort)
            return answerLater(std::move(done), f.localPort, {});
    }
    if (!isConnected())
        return answerLater(std::move(done), 0, tr("%1 is not connected").arg(m_destination));
    if (m_forwarding.contains(remotePort)) {
        m_forwarding[remotePort].append(std::move(done));
        return;
    }
    // The port asked for (or, when it is taken and the choice allows, any
    // free one), or the same port here when it is free, else any free one.
    qint64 local = 0;
    qint64 wanted = 0;
    if (localPort > 0) {
        local = bindLoopback(localPort);
        if (local == 0 && choice == LocalPort::OrAnyFreeOne) {
            local = bindLoopback(0);
            wanted = localPort;
        }
    } else {
        local = bindLoopback(remotePort) ? remotePort : bindLoopback(0);
    }
    if (local == 0) {
        return answerLater(std::move(done), 0,
                           localPort > 0 && choice == LocalPort::Exactly
                               ? tr("port %1 is in use here").arg(localPort)
                               : tr("no free port here"));
    }
    m_forwarding[remotePort].append(std::move(done));
    const PortForward wantedForward{remotePort, local, ForwardState::Checking, wanted};
    const int seconds = m_timing.forwardTimeoutMs / 1000;
    callForward(wantedForward, [this, wantedForward, seconds](const CallEnd& end) {
        const bool ok = end.started && !end.timedOut && !end.crashed && end.exitCode == 0;
        const QString error = ok ? QString()
                              : end.timedOut
                                  ? tr("the host did not answer within %1 s").arg(seconds)
                                  : sshReason(end.errors, tr("ssh refused the forward"));
        if (ok) {
            m_forwards.append(wantedForward);
            std::sort(m_forwards.begin(), m_forwards.end(),
                      [](const PortForward& a, const PortForward& b) {
                          return a.remotePort < b.remotePort;
                      });
            forwardsChanged();
            lookThrough(wantedForward.remotePort);
        }
        const QList<ForwardDone> waiting = m_forwarding.take(wantedForward.remotePort);
        for (const ForwardDone& d : waiting)
            d(ok ? wantedForward.localPort : 0, error);
    });
}

// After a reconnection: on its own local port again, or, when that has been
// taken meanwhile, on a free one.
void SshSource::forwardAgain(PortForward f) {
    callForward(f, [this, f](const CallEnd& end) {
        const auto current = [this, &f]() -> PortForward* {
            for (PortForward& mine : m_forwards) {
                if (mine.remotePort == f.remotePort && mine.localPort == f.localPort)
                    return &mine;
            }
            return nullptr;
        };
        if (!current() || !isConnected())
            return; // cancelled, or the connection went again
        if (end.started && !end.timedOut && !end.crashed && end.exitCode == 0)
            return lookThrough(f.remotePort);
        const qint64 other = bindLoopback(0);
        if (other == 0 || bindLoopback(f.localPort) != 0)
            return; // left "reconnecting" until the next connection
        PortForward moved = f;
        moved.localPort = other;
        moved.wantedPort = f.wantedPort > 0 ? f.wantedPort : f.localPort;
        callForward(moved, [this, f, moved](const CallEnd& again) {
            for (PortForward& mine : m_forwards) {
                if (mine.remotePort != f.remotePort || mine.localPort != f.localPort)
                    continue;
                if (!again.started || again.timedOut || again.crashed || again.exitCode != 0)
                    return;
                mine.localPort = moved.localPort;
                mine.wantedPort = moved.wantedPort;
                forwardsChanged();
                return lookThrough(f.remotePort);
            }
        });
    });
}

void SshSource::checkForwards() {
    for (const PortForward& f : std::as_const(m_forwards))
        lookThrough(f.remotePort);
}

void SshSource::lookThrough(qint64 remotePort) {
    const auto found =
        std::find_if(m_forwards.cbegin(), m_forwards.cend(),
                     [remotePort](const PortForward& f) { return f.remotePort == remotePort; });
    if (found == m_forwards.cend())
        return;
    if (!isConnected())
        return setForwardState(remotePort, ForwardState::Reconnecting);
    if (m_looking.contains(remotePort)) {
        m_lookAgain.insert(remotePort);
        return;
    }
    const quint64 look = ++m_looks;
    m_looking.insert(remotePort, look);
    lookThroughForward(found->localPort, m_timing.forwardQuietMs, this,
                       [this, remotePort, look](ForwardVerdict verdict) {
                           if (m_looking.value(remotePort) != look)
                               return; // of a lost connection
                           m_looking.remove(remotePort);
                           switch (verdict) {
                           case ForwardVerdict::Answered:
                               setForwardState(remotePort, ForwardState::Ok);
                               break;
                           case ForwardVerdict::NoServer:
                               setForwardState(remotePort, ForwardState::NoServer);
                               break;
                           case ForwardVerdict::Closed:
                               // Not set up (again) yet.
                               setForwardState(remotePort, ForwardState::Reconnecting);
                               break;
                           }
                           if (m_lookAgain.remove(remotePort))
                               lookThrough(remotePort);
                       });
}

void SshSource::setForwardState(qint64 remotePort, ForwardState state) {
    for (PortForward& f : m_forwards) {
        if (f.remotePort == remotePort && f.state != state) {
            f.state = state;
            forwardsChanged();
        }
    }
}

// A forwarded port that comes into the listing or leaves it is looked
// through again: that is how a forward follows its server without a timer.
void SshSource::followListing() {
    if (m_forwards.isEmpty())
        return;
    QSet<qint64> listed;
    for (const SsSocket& socket : m_stream.sockets())
        listed.insert(socket.port);
    for (const PortForward& f : std::as_const(m_forwards)) {
        const bool now = listed.contains(f.remotePort);
        if (now == m_listedForwards.contains(f.remotePort))
            continue;
        if (now)
            m_listedForwards.insert(f.remotePort);
        else
            m_listedForwards.remove(f.remotePort);
        lookThrough(f.remotePort);
    }
}

void SshSource::forwardsChanged() {
    if (m_forwardsChanged)
        m_forwardsChanged();
}

void SshSource::cancelForward(qint64 remotePort, std::function<void()> done) {
    const auto found =
        std::find_if(m_forwards.cbegin(), m_forwards.cend(),
                     [&](const PortForward& f) { return f.remotePort == remotePort; });
    if (found == m_forwards.cend()) {
        QMetaObject::invokeMethod(
            this, [done = std::move(done)] { done(); }, Qt::QueuedConnection);
        return;
    }
    const PortForward f = *found;
    m_forwards.erase(found);
    m_looking.remove(remotePort);
    m_lookAgain.remove(remotePort);
    m_listedForwards.remove(remotePort);
    forwardsChanged();
    call({QStringLiteral("-O"), QStringLiteral("cancel"), QStringLiteral("-L"), forwardSpec(f)},
         m_timing.forwardTimeoutMs, [done = std::move(done)](const CallEnd&) { done(); });
}
