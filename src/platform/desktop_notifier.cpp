#include "platform/desktop_notifier.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");

QString escapeMarkup(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&amp;"))
        .replace(QLatin1Char('<'), QStringLiteral("&lt;"))
        .replace(QLatin1Char('>'), QStringLiteral("&gt;"));
}

} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus) : m_bus(std::move(bus)) {}

void DesktopNotifier::setImage(const QImage& image) {
    m_image = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGBA8888);
}

void DesktopNotifier::notify(const QString& title, const QString& body) {
    if (!m_bus.isConnected()) {
        warnOnce(QStringLiteral("no session bus"));
        return;
    }
    if (m_markup == Markup::Plain || m_markup == Markup::Escaped) {
        send(title, body);
        return;
    }
    m_waiting.append({title, body});
    if (m_markup == Markup::Unknown)
        askCapabilities();
}

void DesktopNotifier::askCapabilities() {
    m_markup = Markup::Asking;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), &m_pendingCalls);
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher, [this](QDBusPendingCallWatcher* w) {
            const QDBusPendingReply<QStringList> reply = *w;
            // No answer (no server yet): the waiting notifications go out
            // plain, and the next one asks again.
            if (reply.isError())
                m_markup = Markup::Unknown;
            else
                m_markup = reply.value().contains(QStringLiteral("body-markup")) ? Markup::Escaped
                                                                                 : Markup::Plain;
            for (const auto& [title, body] : std::exchange(m_waiting, {}))
                send(title, body);
            w->deleteLater();
        });
}

void DesktopNotifier::send(const QString& title, const QString& body) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    QVariantMap hints{
        {QStringLiteral("sound-name"), QStringLiteral("message-new-instant")},
        {QStringLiteral("desktop-entry"), QStringLiteral("harborwatch")},
    };
    if (!m_image.isNull()) {
        // (iiibiiay): width, height, row stride, alpha, bits per sample,
        // channels, the pixels as R, G, B, A bytes.
        QDBusArgument image;
        image.beginStructure();
        image << qint32(m_image.width()) << qint32(m_image.height())
              << qint32(m_image.bytesPerLine()) << true << qint32(8) << qint32(4)
              << QByteArray(reinterpret_cast<const char*>(m_image.constBits()),
                            m_image.sizeInBytes());
        image.endStructure();
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(image));
    }
    call << QStringLiteral("Harborwatch") // app_name
         << quint32(0)                    // replaces_id: every notification is new
         << QStringLiteral("harborwatch") // app_icon
         << title << (m_markup == Markup::Escaped ? escapeMarkup(body) : body) << QStringList()
         << hints << qint32(-1);

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
