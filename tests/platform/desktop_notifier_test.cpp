// DesktopNotifier on a private session bus, against a notification server
// that lives in this process on its own bus connection.
#include "config/settings_store.h"
#include "monitor/change_notices.h"
#include "monitor/port_monitor.h"
#include "platform/desktop_notifier.h"
#include "support/fake_source.h"
#include "support/stderr_capture.h"
#include "test_support.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

const QString serverConnection = QStringLiteral("hw-test-notification-server");
const QString clientConnection = QStringLiteral("hw-test-client");

struct NotifyCall {
    QString appName;
    uint replacesId = 0;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int expireTimeout = 0;
};

} // namespace

// Records every Notify call, as a desktop's notification daemon would get it.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<NotifyCall> calls;
    QStringList capabilities{QStringLiteral("body")};

public slots:
    QStringList GetCapabilities() const { return capabilities; }

    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout) {
        calls.append({appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout});
        return static_cast<uint>(calls.size());
    }
};

namespace {

class DesktopNotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bus.isRunning()) << "dbus-daemon could not be started";
        m_client = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(m_bus.address(), clientConnection));
        ASSERT_TRUE(m_client->isConnected());
    }

    void TearDown() override {
        m_client.reset();
        QDBusConnection::disconnectFromBus(clientConnection);
        if (m_server) {
            m_serverBus->unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
            m_serverBus.reset();
            QDBusConnection::disconnectFromBus(serverConnection);
        }
    }

    // Puts a recording server on the bus as org.freedesktop.Notifications.
    NotificationServer& startServer() {
        m_server = std::make_unique<NotificationServer>();
        m_serverBus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(m_bus.address(), serverConnection));
        EXPECT_TRUE(m_serverBus->isConnected());
        EXPECT_TRUE(m_serverBus->registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                                m_server.get(), QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(m_serverBus->registerService(QStringLiteral("org.freedesktop.Notifications")));
        return *m_server;
    }

    // Returns once the bus has answered everything the client sent before: the
    // daemon handles one connection's messages in order.
    void roundTrip() {
        const QDBusMessage reply = m_client->call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
        QTest::qWait(100); // let the queued reply handlers run
    }

    PrivateSessionBus m_bus;
    std::unique_ptr<QDBusConnection> m_client;
    std::unique_ptr<QDBusConnection> m_serverBus;
    std::unique_ptr<NotificationServer> m_server;
};

// Where the icon theme has no "harborwatch" icon, the image travels with the
// notification as the desktop notification protocol's (iiibiiay) image.
TEST_F(DesktopNotifierTest, AnImageGoesAlongAsImageData) {
    NotificationServer& server = startServer();
    DesktopNotifier notifier(*m_client);
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(QColor(10, 20, 30, 255));
    image.setPixelColor(2, 1, QColor(200, 150, 100, 50));
    notifier.setImage(image);
    notifier.notify(QStringLiteral("Port Started"), QStringLiteral("node on port 3000"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.calls.size() == 1; }, 5000));

    const QVariant hint = server.calls[0].hints.value(QStringLiteral("image-data"));
    ASSERT_TRUE(hint.canConvert<QDBusArgument>());
    const QDBusArgument argument = hint.value<QDBusArgument>();
    EXPECT_EQ(argument.currentSignature(), QStringLiteral("(iiibiiay)"));
    qint32 width = 0, height = 0, stride = 0, bits = 0, channels = 0;
    bool alpha = false;
    QByteArray pixels;
    argument.beginStructure();
    argument >> width >> height >> stride >> alpha >> bits >> channels >> pixels;
    argument.endStructure();
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 2);
    EXPECT_TRUE(alpha);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(channels, 4);
    ASSERT_EQ(pixels.size(), stride * 2);
    EXPECT_EQ(pixels.left(4), QByteArray("\x0a\x14\x1e\xff"));
    // The translucent pixel, unpremultiplied: R, G, B, A.
    const QByteArray last = pixels.mid(stride + 8, 4);
    EXPECT_EQ(quint8(last[3]), 50);
    EXPECT_NEAR(quint8(last[0]), 200, 3);
}

TEST_F(DesktopNotifierTest, NotifyCallCarriesTheAppIdentityTitleBodyAndHints) {
    NotificationServer& server = startServer();
    DesktopNotifier notifier(*m_client);

    // The server answers on this thread, so a notifier that waited for the
    // reply would hang here until the call timed out.
    QElapsedTimer clock;
    clock.start();
    notifier.notify(QStringLiteral("Port Started"), QStringLiteral("node on port 3000"));
    notifier.notify(QStringLiteral("Port Stopped"),
                    QStringLiteral("Port 3000 is no longer listening"));
    EXPECT_LT(clock.elapsed(), 5000); // a blocking call would wait 25 s

    ASSERT_TRUE(QTest::qWaitFor([&] { return server.calls.size() == 2; }, 5000));
    const NotifyCall& started = server.calls[0];
    EXPECT_EQ(started.appName, QStringLiteral("Harborwatch"));
    EXPECT_EQ(started.replacesId, 0u);
    EXPECT_EQ(started.appIcon, QStringLiteral("harborwatch"));
    EXPECT_EQ(started.summary, QStringLiteral("Port Started"));
    EXPECT_EQ(started.body, QStringLiteral("node on port 3000"));
    EXPECT_TRUE(started.actions.isEmpty());
    EXPECT_EQ(started.hints.size(), 2);
    EXPECT_EQ(started.hints.value(QStringLiteral("sound-name")).toString(),
              QStringLiteral("message-new-instant"));
    EXPECT_EQ(started.hints.value(QStringLiteral("desktop-entry")).toString(),
              QStringLiteral("harborwatch"));
    EXPECT_EQ(started.expireTimeout, -1);

    const NotifyCall& stopped = server.calls[1];
    EXPECT_EQ(stopped.summary, QStringLiteral("Port Stopped"));
    EXPECT_EQ(stopped.body, QStringLiteral("Port 3000 is no longer listening"));
    EXPECT_EQ(stopped.replacesId, 0u) << "every notification is a new one";
}

// A server that reads the body as markup would drop "<x>" and stumble on "&";
// one that does not gets the text as it is.
TEST_F(DesktopNotifierTest, BodyIsEscapedOnlyForAServerThatReadsMarkup) {
    NotificationServer& server = startServer();
    const QString body = QStringLiteral("a&b<x> on port 3000");
    for (const bool markup : {false, true}) {
        SCOPED_TRACE(markup ? "body-markup" : "plain");
        if (markup)
            server.capabilities.append(QStringLiteral("body-markup"));
        server.calls.clear();
        DesktopNotifier notifier(*m_client); // each notifier asks once
        notifier.notify(QStringLiteral("Port Started"), body);
        notifier.notify(QStringLiteral("Port Stopped"), QStringLiteral("second"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.calls.size() == 2; }, 5000));
        EXPECT_EQ(server.calls[0].body,
                  markup ? QStringLiteral("a&amp;b&lt;x&gt; on port 3000") : body);
        EXPECT_EQ(server.calls[0].summary, QStringLiteral("Port Started")) << "order kept";
        EXPECT_EQ(server.calls[1].body, QStringLiteral("second"));
    }
}

// "Force Stop" on a "Server Still Running" notification: offered only where
// the server shows actions, and picking it runs the callback once.
TEST_F(DesktopNotifierTest, ActionIsOfferedWhereShownAndRunsItsCallback) {
    NotificationServer& server = startServer();
    for (const bool shown : {false, true}) {
        SCOPED_TRACE(shown ? "actions" : "no actions");
        if (shown)
            server.capabilities.append(QStringLiteral("actions"));
        server.calls.clear();
        DesktopNotifier notifier(*m_client);
        int picked = 0;
        notifier.notify(QStringLiteral("Server Still Running"),
                        QStringLiteral("node on port 3000 did not stop"),
                        QStringLiteral("Force Stop"), [&picked] { ++picked; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.calls.size() == 1; }, 5000));
        EXPECT_EQ(server.calls[0].body, QStringLiteral("node on port 3000 did not stop"));
        if (!shown) {
            EXPECT_TRUE(server.calls[0].actions.isEmpty());
            continue;
        }
        ASSERT_EQ(server.calls[0].actions.size(), 2);
        EXPECT_EQ(server.calls[0].actions[1], QStringLiteral("Force Stop"));
        roundTrip(); // the notification's id has come back

        const auto emitSignal = [&](const QString& name, const QVariantList& arguments) {
            QDBusMessage message =
                QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                           QStringLiteral("org.freedesktop.Notifications"), name);
            message.setArguments(arguments);
            EXPECT_TRUE(m_serverBus->send(message));
        };
        const uint id = 1; // the server numbers its notifications from 1
        emitSignal(QStringLiteral("ActionInvoked"),
                   {id + 1, server.calls[0].actions[0]}); // another notification
        emitSignal(QStringLiteral("ActionInvoked"), {id, server.calls[0].actions[0]});
        emitSignal(QStringLiteral("ActionInvoked"), {id, server.calls[0].actions[0]});
        ASSERT_TRUE(QTest::qWaitFor([&] { return picked > 0; }, 5000));
        QTest::qWait(200);
        EXPECT_EQ(picked, 1);
    }
}

TEST_F(DesktopNotifierTest, NoServerIsNotAnErrorAndWarnsOnce) {
    StderrCapture captured;
    {
        DesktopNotifier notifier(*m_client);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 5; ++i)
            notifier.notify(QStringLiteral("Port Started"), QStringLiteral("node on port 3000"));
        EXPECT_LT(clock.elapsed(), 5000); // a blocking call would wait 25 s
        ASSERT_TRUE(QTest::qWaitFor([&] { return captured.text().contains('\n'); }, 5000));
        roundTrip();
    }
    const QByteArray text = captured.text();
    captured.restore();
    EXPECT_EQ(text.count('\n'), 1) << text.toStdString();

    // A notifier that goes away with a call still unanswered is not called
    // back afterwards (the sanitizer sees it if it is).
    auto shortLived = std::make_unique<DesktopNotifier>(*m_client);
    shortLived->notify(QStringLiteral("Port Started"), QStringLiteral("node on port 3000"));
    shortLived.reset();
    roundTrip();
}

TEST_F(DesktopNotifierTest, NoBusIsNotAnErrorAndWarnsOnce) {
    StderrCapture captured;
    {
        const QString name = QStringLiteral("hw-test-no-bus");
        DesktopNotifier notifier(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/harborwatch-test-bus"), name));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 5; ++i)
            notifier.notify(QStringLiteral("Port Started"), QStringLiteral("node on port 3000"));
        EXPECT_LT(clock.elapsed(), 5000); // a blocking call would wait 25 s
        QTest::qWait(100);
        QDBusConnection::disconnectFromBus(name);
    }
    const QByteArray text = captured.text();
    captured.restore();
    EXPECT_LE(text.count('\n'), 1) << text.toStdString();
}

TEST_F(DesktopNotifierTest, MonitorChangesArriveAsDesktopNotifications) {
    NotificationServer& server = startServer();
    DesktopNotifier notifier(*m_client);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SettingsStore store(dir.filePath(QStringLiteral("settings.json")));
    auto scanner = std::make_shared<FakeSourceState>();
    PortMonitor monitor(store, fakeRegistry(scanner));
    ChangeNotices notices(
        monitor, [&](const QString& title, const QString& body) { notifier.notify(title, body); });

    monitor.scan();
    ASSERT_TRUE(scanner->completeWith({{3000, 4242, QStringLiteral("node")}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.calls.size() == 1; }, 5000));
    EXPECT_EQ(server.calls[0].appName, QStringLiteral("Harborwatch"));
    EXPECT_EQ(server.calls[0].summary, QStringLiteral("Port Started"));
    EXPECT_EQ(server.calls[0].body, QStringLiteral("node on port 3000"));

    monitor.scan();
    ASSERT_TRUE(scanner->completeWith({}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.calls.size() == 2; }, 5000));
    EXPECT_EQ(server.calls[1].summary, QStringLiteral("Port Stopped"));
    EXPECT_EQ(server.calls[1].body, QStringLiteral("Port 3000 is no longer listening"));
}

} // namespace

#include "desktop_notifier_test.moc"
