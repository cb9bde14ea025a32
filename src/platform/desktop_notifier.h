#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <utility>

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
class DesktopNotifier {
public:
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus());

    void notify(const QString& title, const QString& body);
    // Sent as the "image-data" hint from now on; a null image sends none.
    void setImage(const QImage& image);

private:
    enum class Markup { Unknown, Asking, Plain, Escaped };

    void askCapabilities();
    void send(const QString& title, const QString& body);
    void warnOnce(const QString& why);

    QDBusConnection m_bus;
    QObject m_pendingCalls; // parent of the reply watchers, so none outlives this
    Markup m_markup = Markup::Unknown;
    QList<std::pair<QString, QString>> m_waiting; // posted while asking
    QImage m_image;                               // RGBA, 8 bits per sample
    bool m_warned = false;
};
