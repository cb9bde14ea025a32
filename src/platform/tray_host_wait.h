#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

// Waits, without blocking the event loop, until the session has a tray that
// can show an icon.
//
// Qt decides once, when the first QSystemTrayIcon is created, whether to
// export it as a StatusNotifierItem, and only does so when
// org.kde.StatusNotifierWatcher reports a registered host at that moment. Even
// QSystemTrayIcon::isSystemTrayAvailable() makes that decision for good, so
// neither may be used before a host is there. This class watches the bus
// itself, and asks a separate probe whether an XEmbed tray manager runs. A
// registered host is the answer even when an XEmbed tray runs too, because
// that is when Qt exports the icon and its menu over D-Bus.
class TrayHostWait : public QObject {
    Q_OBJECT
public:
    enum class Host { StatusNotifier, XEmbed, None };
    Q_ENUM(Host)

    using Probe = std::function<bool()>;

    static inline const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
    static constexpr std::chrono::milliseconds pollInterval{250};

    // `xembedTrayPresent` is asked at start and then every pollInterval.
    TrayHostWait(QDBusConnection bus, Probe xembedTrayPresent, std::chrono::milliseconds limit,
                 QObject* parent = nullptr);
    ~TrayHostWait() override;

    // Starts looking. ready() follows exactly once: as soon as a host is found,
    // or with Host::None when `limit` has passed.
    void start();
    bool isFinished() const { return m_finished; }

signals:
    // No host was there at the start; emitted at most once, before ready().
    void waiting();
    void ready(TrayHostWait::Host host);

private slots:
    void askWatcher();

private:
    void poll();
    void noStatusNotifierHost();
    void noHostYet();
    void finish(Host host);

    QDBusConnection m_bus;
    Probe m_xembedTrayPresent;
    std::chrono::milliseconds m_limit;
    QTimer m_pollTimer;
    QTimer m_deadline;
    std::unique_ptr<QDBusServiceWatcher> m_serviceWatcher;
    QDBusPendingCallWatcher* m_pendingQuestion = nullptr;
    bool m_started = false;
    bool m_announcedWaiting = false;
    bool m_finished = false;
};

// The session at hand, as far as telling what shows the icon goes.
struct TraySession {
    bool wayland = false; // a Wayland session (XDG_SESSION_TYPE, WAYLAND_DISPLAY)
    bool gnome = false;   // GNOME (XDG_CURRENT_DESKTOP), which has no tray of its own
};
TraySession currentTraySession();

// What the wait says on stderr when it starts waiting, and when it gave up:
// what the session lacks to show the icon.
QByteArray trayHostWaitingMessage(TraySession session, std::chrono::seconds limit);
QByteArray noTrayHostMessage(TraySession session);
