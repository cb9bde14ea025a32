#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// A running stand-in server (tests/support/listener.cpp). Stopped and reaped
// when the object goes away.
class ListenerProcess {
public:
    // `ports` is "0", "PORT" or "LOW-HIGH"; `options` are the listener's
    // ("--ipv6", "--fork CHILDNAME"); `program` runs instead of hw-listener (a
    // copy of it under another file name). It runs in `folder` when given;
    // `extra` arguments only show on its command line. Waits until it listens.
    ListenerProcess(const QString& name, const QString& ports = QStringLiteral("0"),
                    const QStringList& options = {}, const QString& program = {},
                    const QString& folder = {}, const QStringList& extra = {});
    ~ListenerProcess();
    ListenerProcess(const ListenerProcess&) = delete;
    ListenerProcess& operator=(const ListenerProcess&) = delete;

    bool isListening() const { return m_port > 0; }
    qint64 port() const { return m_port; }
    qint64 pid() const;
    // The child started with "--fork"; 0 without.
    qint64 childPid() const { return m_childPid; }
    // The hw-listener program, to copy under another name.
    static QString programPath();
    // Waits up to `ms` for it to exit (after a stop request, say).
    bool waitForExit(int ms);
    // Its exit code once it has exited; -1 while it runs or after a crash.
    int exitCode() const;

private:
    std::unique_ptr<QProcess> m_process;
    qint64 m_port = 0;
    qint64 m_childPid = 0;
};

// A private D-Bus session bus for the lifetime of the object; its address is
// put in DBUS_SESSION_BUS_ADDRESS and the previous value restored afterwards.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    bool isRunning() const { return !m_address.isEmpty(); }
    const QString& address() const { return m_address; }

private:
    QString m_address;
    qint64 m_pid = 0;
    QByteArray m_previousAddress;
    bool m_hadPrevious = false;
};

// True when a process with this pid exists (zombies count as gone).
bool processExists(qint64 pid);
