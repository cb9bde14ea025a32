#include "sources/ssh/ssh_connections.h"

#include "sources/ssh/ssh_command.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <limits>

SshConnections::SshConnections(int most) : m_most(most) {
    m_clock.start();
}

SshConnections::~SshConnections() = default;

QString SshConnections::controlFolder(QString* error) {
    if (!m_folderFound) {
        m_folderFound = true;
        QString tooLong;
        m_folder = sshControlFolder(&m_folderError, &tooLong);
        if (!tooLong.isEmpty() && !m_folder.isEmpty()) {
            std::fprintf(
                stderr, "harborwatch: %s\n",
                qPrintable(QCoreApplication::translate(
                               "SshConnections", "%1 is too long a path for ssh's control sockets; "
                                                 "using %2")
                               .arg(tooLong, m_folder)));
        }
    }
    *error = m_folderError;
    return m_folder;
}

void SshConnections::enter(QObject* who, std::function<void()> go) {
    leave(who);
    if (m_settingUp.size() < m_most)
        admit(who, std::move(go));
    else
        m_line.append({who, std::move(go)});
}

void SshConnections::leave(QObject* who) {
    m_line.removeIf([who](const Waiting& w) { return w.who == who; });
    if (m_settingUp.removeAll(who) == 0)
        return;
    while (m_settingUp.size() < m_most && !m_line.isEmpty()) {
        Waiting next = m_line.takeFirst();
        admit(next.who, std::move(next.go));
    }
}

void SshConnections::admit(QObject* who, std::function<void()> go) {
    m_settingUp.append(who);
    // Queued on `who`: a source destroyed meanwhile gets no call (and has
    // left, giving its turn on).
    QMetaObject::invokeMethod(who, std::move(go), Qt::QueuedConnection);
}

void SshConnections::expectWithin(QObject* who, int ms, std::function<void()> silent) {
    const qint64 deadline = m_clock.elapsed() + ms;
    m_expected.insert(who, {deadline, std::move(silent)});
    // A timer due before this deadline looks again when it fires: hearing
    // from a host costs no timer call.
    if (!m_silence || !m_silence->isActive() || deadline < m_silenceDueMs)
        watch();
}

void SshConnections::stopExpecting(QObject* who) {
    m_expected.remove(who);
    if (m_expected.isEmpty() && m_silence)
        m_silence->stop();
}

void SshConnections::watch() {
    if (m_expected.isEmpty())
        return;
    if (!m_silence) {
        m_silence = std::make_unique<QTimer>();
        m_silence->setSingleShot(true);
        QObject::connect(m_silence.get(), &QTimer::timeout, m_silence.get(),
                         [this] { checkSilence(); });
    }
    qint64 earliest = std::numeric_limits<qint64>::max();
    for (const Expected& expected : std::as_const(m_expected))
        earliest = std::min(earliest, expected.deadlineMs);
    m_silenceDueMs = earliest;
    m_silence->start(int(std::max<qint64>(earliest - m_clock.elapsed(), 0)));
}

void SshConnections::checkSilence() {
    const qint64 now = m_clock.elapsed();
    for (auto it = m_expected.begin(); it != m_expected.end();) {
        if (it->deadlineMs > now) {
            ++it;
            continue;
        }
        // Told from the event loop, each only while its source exists.
        QMetaObject::invokeMethod(it.key(), std::move(it->silent), Qt::QueuedConnection);
        it = m_expected.erase(it);
    }
    watch();
}
