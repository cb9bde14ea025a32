#include "sources/lsof/lister.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>
#include <QTimer>

#include <csignal>
#include <unistd.h>

// Shown in the menu, so translatable like every other text there.
QString describeListerError(ListerError error) {
    switch (error) {
    case ListerError::None:
        return {};
    case ListerError::NotFound:
        return QCoreApplication::translate("Lister", "lsof was not found");
    case ListerError::FailedToStart:
        return QCoreApplication::translate("Lister", "lsof could not be started");
    case ListerError::TimedOut:
        return QCoreApplication::translate("Lister", "lsof timed out");
    case ListerError::Crashed:
        return QCoreApplication::translate("Lister", "lsof was killed");
    case ListerError::InvalidOutput:
        return QCoreApplication::translate("Lister", "lsof printed unreadable output");
    case ListerError::ErrorStatus:
        return QCoreApplication::translate("Lister", "lsof exited with an error");
    }
    return {};
}

QString findExecutable(const QStringList& candidates) {
    for (const QString& path : candidates) {
        const QFileInfo info(path);
        if (info.isAbsolute() && info.isFile() && info.isExecutable())
            return path;
    }
    return {};
}

ListerCommand defaultListerCommand() {
    // Debian and most distributions install lsof in /usr/bin; /usr/sbin is kept
    // first for systems that put it there. "+c 0" keeps command names whole
    // (lsof cuts them to 9 characters otherwise: "redis-server" would be
    // "redis-ser").
    const QStringList places = {QStringLiteral("/usr/sbin/lsof"), QStringLiteral("/usr/bin/lsof"),
                                QStringLiteral("/bin/lsof")};
    return {findExecutable(places),
            {QStringLiteral("+c"), QStringLiteral("0"), QStringLiteral("-iTCP"),
             QStringLiteral("-sTCP:LISTEN"), QStringLiteral("-P"), QStringLiteral("-n")},
            10'000,
            places};
}

std::optional<QString> decodeUtf8Strict(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

namespace {

// Checks that can be made before starting a process: a missing file is
// reported as such rather than as a generic start failure.
ListerError precheck(const QString& program) {
    const QFileInfo info(program);
    if (program.isEmpty() || !info.exists())
        return ListerError::NotFound;
    if (!info.isFile() || !info.isExecutable())
        return ListerError::FailedToStart;
    return ListerError::None;
}

QString programToRun(const ListerCommand& command) {
    if (command.lookIn.isEmpty())
        return command.program;
    if (QString runnable = findExecutable(command.lookIn); !runnable.isEmpty())
        return runnable;
    // A lister that is there but cannot be run is reported as such, not as
    // missing.
    for (const QString& path : command.lookIn) {
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

void configure(QProcess& process, const QString& program, const ListerCommand& command) {
    // Its own process group, so that the lister can be killed together with
    // any helper it forked. Without a group of its own it is not run: its
    // helpers could not be reached.
    process.setChildProcessModifier([] {
        if (::setpgid(0, 0) != 0)
            ::_exit(127);
    });
    process.setProgram(program);
    process.setArguments(command.arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
}

ListerResult resultOf(const QByteArray& output, const QProcess& process, bool timedOut) {
    if (timedOut)
        return {{}, ListerError::TimedOut};
    if (process.exitStatus() == QProcess::CrashExit)
        return {{}, ListerError::Crashed};
    // lsof exits 1 when nothing listens (and on some warnings), with its
    // listing whole. Any other status means it broke off, or was killed below
    // a wrapper, and what it printed may be a part of the listing.
    if (process.exitCode() != 0 && process.exitCode() != 1)
        return {{}, ListerError::ErrorStatus};
    auto text = decodeUtf8Strict(output);
    if (!text)
        return {{}, ListerError::InvalidOutput};
    return {*text, ListerError::None};
}

void killGroup(qint64 group) {
    if (group > 0)
        ::kill(static_cast<pid_t>(-group), SIGKILL);
}

void killGroup(QProcess& process) {
    killGroup(process.processId());
    process.kill();
}

} // namespace

Lister::Lister(ListerCommand command) : m_command(std::move(command)) {}

Lister::~Lister() {
    delete m_retired.data(); // its deleteLater() may never run once the loop is gone
    if (!m_process)
        return;
    m_process->disconnect();
    killGroup(*m_process);
    m_process->waitForFinished(2000); // reap it; kill cannot be ignored
    delete m_process;
}

bool Lister::start(Done done) {
    if (m_process)
        return false;
    m_done = std::move(done);
    m_output.clear();
    m_timedOut = false;
    m_process = new QProcess;

    // Every completion is queued, so the callback never runs inside start().
    const QString program = programToRun(m_command);
    if (const ListerError early = precheck(program); early != ListerError::None) {
        QProcess* process = m_process;
        QTimer::singleShot(0, process, [this, process, early] { finish(process, {{}, early}); });
        return true;
    }

    QProcess* process = m_process;
    configure(*process, program, m_command);
    auto* timeout = new QTimer(process);
    timeout->setSingleShot(true);
    QObject::connect(timeout, &QTimer::timeout, process, [this, process] {
        // A run that ended just before the deadline (its queued finished() not
        // yet delivered) has its whole listing: it did not time out.
        if (m_process != process || process->state() == QProcess::NotRunning)
            return;
        m_timedOut = true;
        killGroup(*process); // finished() follows once the process is reaped
    });
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [this, process] {
        if (m_process == process)
            m_output += process->readAllStandardOutput();
    });
    QObject::connect(
        process, &QProcess::finished, process,
        [this, process] {
            m_output += process->readAllStandardOutput();
            if (m_process == process)
                finish(process, resultOf(m_output, *process, m_timedOut));
        },
        Qt::QueuedConnection);
    QObject::connect(
        process, &QProcess::errorOccurred, process,
        [this, process](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                finish(process, {{}, ListerError::FailedToStart});
        },
        Qt::QueuedConnection);
    process->start(QIODevice::ReadOnly);
    // Once the lister is gone, whatever it left running in its group goes too
    // (a helper that still holds the output pipe, for one), right when the
    // lister is reaped: its group id cannot be taken by another process while
    // one of those helpers lives.
    QObject::connect(process, &QProcess::finished, process,
                     [group = process->processId()] { killGroup(group); });
    timeout->start(m_command.timeoutMs);
    return true;
}

void Lister::finish(QProcess* process, ListerResult result) {
    // Events queued for a run that has already ended are ignored.
    if (process != m_process)
        return;
    // Detach first, so that the callback may start the next run.
    for (QTimer* timer : m_process->findChildren<QTimer*>())
        timer->stop();
    m_process->disconnect();
    m_process->deleteLater();
    m_retired = m_process;
    m_process = nullptr;
    m_output.clear();
    Done done = std::exchange(m_done, nullptr);
    if (done)
        done(std::move(result));
}

ListerResult Lister::runBlocking() const {
    const QString program = programToRun(m_command);
    if (const ListerError early = precheck(program); early != ListerError::None)
        return {{}, early};
    QProcess process;
    configure(process, program, m_command);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted())
        return {{}, ListerError::FailedToStart};
    const qint64 group = process.processId();
    bool timedOut = false;
    if (!process.waitForFinished(m_command.timeoutMs)) {
        timedOut = true;
        killGroup(process);
        process.waitForFinished(2000);
    }
    killGroup(group);
    return resultOf(process.readAllStandardOutput(), process, timedOut);
}
