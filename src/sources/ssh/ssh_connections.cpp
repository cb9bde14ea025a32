#include "sources/ssh/ssh_connections.h"

#include "sources/ssh/ssh_command.h"

#include <QCoreApplication>
#include <QObject>

#include <cstdio>

SshConnections::SshConnections(int most) : m_most(most) {}

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
