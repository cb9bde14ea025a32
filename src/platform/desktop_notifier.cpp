#include "platform/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <cstdio>

DesktopNotifier::DesktopNotifier(QDBusConnection bus) : m_bus(std::move(bus)) {}

void DesktopNotifier::notify(const QString& title, const QString& body) {
    if (!m_bus.isConnected()) {
        warnOnce(QStringLiteral("no session bus"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("sound-name"), QStringLiteral("message-new-instant")},
        {QStringLiteral("desktop-entry"), QStringLiteral("harborwatch")},
    };
    call << QStringLiteral("Harborwatch") // app_name
         << quint32(0)                    // replaces_id: every notification is new
         << QStringLiteral("harborwatch") // app_icon
         << title << body << QStringList() << hints << qint32(-1);

    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), &m_pendingCalls);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [this](QDBusPendingCallWatcher* w) {
                         if (w->isError())
                             warnOnce(w->error().message());
                         w->deleteLater();
                     });
}

void DesktopNotifier::warnOnce(const QString& why) {
    if (m_warned)
        return;
    m_warned = true;
    std::fprintf(stderr, "harborwatch: desktop notifications are not shown (%s)\n",
                 qPrintable(why));
}
