#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

// Posts desktop notifications through org.freedesktop.Notifications on the
// session bus. Calls are sent without waiting for the reply. With no session
// bus or no notification server nothing is shown, and one line goes to stderr
// the first time.
class DesktopNotifier {
public:
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus());

    void notify(const QString& title, const QString& body);

private:
    void warnOnce(const QString& why);

    QDBusConnection m_bus;
    QObject m_pendingCalls; // parent of the reply watchers, so none outlives this
    bool m_warned = false;
};
