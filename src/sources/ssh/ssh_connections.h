#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QObject;
class QTimer;

// What the SSH sources of one set share: the folder of their control
// sockets, turns to set up a connection, so that many hosts do not start
// as many ssh processes at once, and one timer that tells a source its host
// has been silent too long, so that a host costs no timer of its own. Lives
// on the sources' thread.
class SshConnections {
public:
    // At most this many connections are set up at once.
    static constexpr int defaultMost = 8;

    explicit SshConnections(int most = defaultMost);
    ~SshConnections();
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

    // `silent` runs, from the event loop and only while `who` exists, once
    // `who` has not called this again for `ms`; a later call moves the
    // deadline.
    void expectWithin(QObject* who, int ms, std::function<void()> silent);
    // `who` is no longer waited for.
    void stopExpecting(QObject* who);

    int settingUp() const { return int(m_settingUp.size()); }
    int waiting() const { return int(m_line.size()); }

private:
    struct Waiting {
        QObject* who;
        std::function<void()> go;
    };
    void admit(QObject* who, std::function<void()> go);
    void watch();
    void checkSilence();

    int m_most;
    bool m_folderFound = false;
    QString m_folder;
    QString m_folderError;
    QList<QObject*> m_settingUp;
    QList<Waiting> m_line;

    struct Expected {
        qint64 deadlineMs; // on m_clock
        std::function<void()> silent;
    };
    QElapsedTimer m_clock;
    QHash<QObject*, Expected> m_expected;
    std::unique_ptr<QTimer> m_silence; // due at the earliest deadline, or before
    qint64 m_silenceDueMs = 0;
};
