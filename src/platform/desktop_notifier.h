#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

class NotificationActions;

// Posts desktop notifications through org.freedesktop.Notifications on the
// session bus. Calls are sent without waiting for the reply. With no session
// bus or no notification server nothing is shown, and one line goes to stderr
// the first time.
//
// A server that reads bodies as markup ("body-markup" among its capabilities)
// gets "&", "<" and ">" escaped, so a process name is shown as it is. The
// capabilities are asked once, without blocking; notifications posted before
// the answer wait for it and keep their order.
//
// Notifications name the "harborwatch" icon; where the icon theme has none
// (the program runs from its build folder), setImage() gives one to send with
// every notification instead.
//
// A notification may offer one action. Servers that advertise "actions" show
// it, and its callback runs when the user picks it (the ActionInvoked signal);
// other servers get the notification without it.
class DesktopNotifier {
public:
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus());
    ~DesktopNotifier();
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    void notify(const QString& title, const QString& body);
    void notify(const QString& title, const QString& body, const QString& action,
                std::function<void()> onAction);
    // Sent as the "image-data" hint from now on; a null image sends none.
    void setImage(const QImage& image);

private:
    enum class Markup { Unknown, Asking, Plain, Escaped };

    void askCapabilities();
    struct Post {
        QString title;
        QString body;
        QString action = {};
        std::function<void()> onAction = {};
    };

    void post(Post post);
    void send(const Post& post);
    void warnOnce(const QString& why);

    QDBusConnection m_bus;
    QObject m_pendingCalls; // parent of the reply watchers, so none outlives this
    std::unique_ptr<NotificationActions> m_actions; // callbacks by notification id
    Markup m_markup = Markup::Unknown;
    bool m_showsActions = false;
    bool m_listening = false; // subscribed to the action signals
    QList<Post> m_waiting;    // posted while asking
    QImage m_image;           // RGBA, 8 bits per sample
    bool m_warned = false;
};
