#include "platform/desktop_notifier.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QHash>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString actionKey = QStringLiteral("action");

QString escapeMarkup(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&amp;"))
        .replace(QLatin1Char('<'), QStringLiteral("&lt;"))
        .replace(QLatin1Char('>'), QStringLiteral("&gt;"));
}

} // namespace

// The callbacks of the notifications shown with an action, until the user
// picks the action or the notification closes.
class NotificationActions : public QObject {
    Q_OBJECT
public:
    QHash<uint, std::function<void()>> callbacks;

public slots:
    void invoked(uint id, const QString& key) {
        if (key != actionKey)
            return;
        // Taken out first: the callback may post another notification.
        if (const std::function<void()> callback = callbacks.take(id))
            callback();
    }
    void closed(uint id, uint) { callbacks.remove(id); }
};

DesktopNotifier::DesktopNotifier(QDBusConnection bus)
    : m_bus(std::move(bus)), m_actions(std::make_unique<NotificationActions>()) {}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::setImage(const QImage& image) {
    m_image = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGBA8888);
}

void DesktopNotifier::notify(const QString& title, const QString& body) {
    post({title, body});
}

void DesktopNotifier::notify(const QString& title, const QString& body, const QString& action,
                             std::function<void()> onAction) {
    post({title, body, action, std::move(onAction)});
}

void DesktopNotifier::post(Post post) {
    if (!m_bus.isConnected()) {
        warnOnce(QStringLiteral("no session bus"));
        return;
    }
    if (m_markup == Markup::Plain || m_markup == Markup::Escaped) {
        send(post);
        return;
    }
    m_waiting.append(std::move(post));
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
            if (reply.isError()) {
                m_markup = Markup::Unknown;
            } else {
                m_markup = reply.value().contains(QStringLiteral("body-markup")) ? Markup::Escaped
                                                                                 : Markup::Plain;
                m_showsActions = reply.value().contains(QStringLiteral("actions"));
            }
            for (const Post& post : std::exchange(m_waiting, {}))
                send(post);
            w->deleteLater();
        });
}

void DesktopNotifier::send(const Post& post) {
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
    const bool withAction = m_showsActions && !post.action.isEmpty() && post.onAction;
    if (withAction && !m_listening) {
        // Subscribed before the first notification with an action goes out,
        // so no click can come before it.
        m_bus.connect(service, path, service, QStringLiteral("ActionInvoked"), m_actions.get(),
                      SLOT(invoked(uint, QString)));
        m_bus.connect(service, path, service, QStringLiteral("NotificationClosed"), m_actions.get(),
                      SLOT(closed(uint, uint)));
        m_listening = true;
    }
    call << QStringLiteral("Harborwatch") // app_name
         << quint32(0)                    // replaces_id: every notification is new
         << QStringLiteral("harborwatch") // app_icon
         << post.title << (m_markup == Markup::Escaped ? escapeMarkup(post.body) : post.body)
         << (withAction ? QStringList{actionKey, post.action} : QStringList()) << hints
         << qint32(-1);

    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), &m_pendingCalls);
    std::function<void()> onAction = withAction ? post.onAction : nullptr;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [this, onAction = std::move(onAction)](QDBusPendingCallWatcher* w) {
                         const QDBusPendingReply<uint> reply = *w;
                         if (reply.isError())
                             warnOnce(reply.error().message());
                         else if (onAction)
                             m_actions->callbacks.insert(reply.value(), onAction);
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

#include "desktop_notifier.moc"
