#include "platform/tray_host_wait.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QtGlobal>

namespace {
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
} // namespace

TrayHostWait::TrayHostWait(QDBusConnection bus, Probe xembedTrayPresent,
                           std::chrono::milliseconds limit, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_xembedTrayPresent(std::move(xembedTrayPresent)),
      m_limit(limit) {
    m_pollTimer.setInterval(pollInterval);
    connect(&m_pollTimer, &QTimer::timeout, this, &TrayHostWait::poll);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { finish(Host::None); });
}

TrayHostWait::~TrayHostWait() = default;

void TrayHostWait::start() {
    if (m_started)
        return;
    m_started = true;
    m_deadline.start(m_limit);
    m_pollTimer.start();

    if (m_bus.isConnected()) {
        m_serviceWatcher = std::make_unique<QDBusServiceWatcher>(
            watcherService, m_bus, QDBusServiceWatcher::WatchForRegistration);
        connect(m_serviceWatcher.get(), &QDBusServiceWatcher::serviceRegistered, this,
                &TrayHostWait::askWatcher);
        // A watcher that is already there tells when a host registers with it.
        m_bus.connect(watcherService, watcherPath, watcherInterface,
                      QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(askWatcher()));
    }

    poll();
}

// The StatusNotifierItem host goes first, as it does in Qt's own choice: a
// desktop may have both (an XEmbed tray beside a panel that hosts items), and
// then Qt exports the menu over D-Bus. So the XEmbed tray is looked at once the
// watcher has answered, or when there is no bus to ask.
void TrayHostWait::poll() {
    if (m_finished)
        return;
    if (m_bus.isConnected())
        askWatcher();
    else
        noStatusNotifierHost();
}

void TrayHostWait::noStatusNotifierHost() {
    if (m_xembedTrayPresent && m_xembedTrayPresent())
        finish(Host::XEmbed);
    else
        noHostYet();
}

// Asks org.kde.StatusNotifierWatcher whether a host has registered, without
// waiting for the answer. One question at a time.
void TrayHostWait::askWatcher() {
    if (m_finished || m_pendingQuestion)
        return;
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    m_pendingQuestion = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(m_pendingQuestion, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                m_pendingQuestion = nullptr;
                const QDBusPendingReply<QDBusVariant> reply = *call;
                if (!reply.isError() && reply.value().variant().toBool())
                    finish(Host::StatusNotifier);
                else
                    noStatusNotifierHost();
            });
}

void TrayHostWait::noHostYet() {
    if (m_finished || m_announcedWaiting)
        return;
    m_announcedWaiting = true;
    emit waiting();
}

void TrayHostWait::finish(Host host) {
    if (m_finished)
        return;
    m_finished = true;
    m_pollTimer.stop();
    m_deadline.stop();
    m_serviceWatcher.reset();
    if (m_bus.isConnected())
        m_bus.disconnect(watcherService, watcherPath, watcherInterface,
                         QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(askWatcher()));
    if (m_pendingQuestion) {
        m_pendingQuestion->disconnect(this);
        m_pendingQuestion->deleteLater();
        m_pendingQuestion = nullptr;
    }
    emit ready(host);
}

TraySession currentTraySession() {
    TraySession session;
    session.wayland =
        qgetenv("XDG_SESSION_TYPE") == "wayland" || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    // "GNOME", or a distribution's variant such as "ubuntu:GNOME".
    const QList<QByteArray> desktops = qgetenv("XDG_CURRENT_DESKTOP").split(':');
    for (const QByteArray& desktop : desktops)
        session.gnome = session.gnome || desktop.compare("GNOME", Qt::CaseInsensitive) == 0;
    return session;
}

QByteArray trayHostWaitingMessage(TraySession session, std::chrono::seconds limit) {
    const QByteArray waiting = "waiting up to " + QByteArray::number(qint64(limit.count())) + " s ";
    if (session.gnome)
        return waiting + "for a StatusNotifierItem host before showing the icon; GNOME has one "
                         "only with its AppIndicator extension enabled";
    if (session.wayland)
        return waiting + "for a StatusNotifierItem host before showing the icon; this Wayland "
                         "session has none yet, and its panel shows no other tray icons";
    return waiting + "for a system tray (a StatusNotifierItem host or an XEmbed tray) before "
                     "showing the icon";
}

// Qt decides once whether the icon is a StatusNotifierItem: one that is not
// needs an XEmbed tray, which only X11 desktops have.
QByteArray noTrayHostMessage(TraySession session) {
    if (session.gnome)
        return "no StatusNotifierItem host appeared; GNOME shows the icon only with its "
               "AppIndicator extension: enable it and start harborwatch again";
    if (session.wayland)
        return "no StatusNotifierItem host appeared, and this Wayland session shows no other tray "
               "icons: start harborwatch again once the panel has one";
    return "no system tray appeared; showing the icon for an XEmbed tray that starts later";
}
