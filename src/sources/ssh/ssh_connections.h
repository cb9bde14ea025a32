#pragma once

#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

class QObject;

// What the SSH sources of one set share: the folder of their control
// sockets, and turns to set up a connection, so that many hosts do not start
// as many ssh processes at once. Lives on the sources' thread.
class SshConnections {
public:
    // At most this many connections are set up at once.
    static constexpr int defaultMost = 8;

    explicit SshConnections(int most = defaultMost);
    SshConnections(const SshConnections&) = delete;
    SshConnections& operator=(const SshConnections&) = delete;

    // The control folder (sshControlFolder()), found at the first call. When
    // the runtime folder's path is too long for a control socket, a shorter
    // one is used and stderr says so, once. Empty with the reason in `error`
    // when there is none.
    QString controlFolder(QString* error);

    // `go` runs, from the event loop and only while `who` exists, once fewer
    // than `most` connections are being set up; until then
    // `who` waits in line, first come first served.
    void enter(QObject* who, std::function<void()> go);
    // `who` sets up no connection any more (it is connected, failed or gone),
    // or no longer waits: the next in line gets its turn.
    void leave(QObject* who);

    int settingUp() const { return int(m_settingUp.size()); }
    int waiting() const { return int(m_line.size()); }

private:
    struct Waiting {
        QObject* who;
        std::function<void()> go;
    };
    void admit(QObject* who, std::function<void()> go);

    int m_most;
    bool m_folderFound = false;
    QString m_folder;
    QString m_folderError;
    QList<QObject*> m_settingUp;
    QList<Waiting> m_line;
};
