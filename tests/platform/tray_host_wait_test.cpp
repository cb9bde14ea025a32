// Waiting for a tray host: a stand-in StatusNotifierWatcher on a private bus
// and a switchable XEmbed probe.
#include "platform/tray_host_wait.h"

#include "test_support.h"

#include <QDBusConnection>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>

using namespace std::chrono_literals;

// Just enough of org.kde.StatusNotifierWatcher for the question Qt asks.
class WatcherStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
public:
    bool isHostRegistered() const { return m_host; }
    void registerHost() {
        m_host = true;
        emit StatusNotifierHostRegistered();
    }

signals:
    void StatusNotifierHostRegistered();

private:
    bool m_host = false;
};

namespace {

struct Outcome {
    int waiting = 0;
    std::optional<TrayHostWait::Host> host;
    int readyCount = 0;
};

void record(TrayHostWait& wait, Outcome& outcome) {
    QObject::connect(&wait, &TrayHostWait::waiting, [&outcome] { ++outcome.waiting; });
    QObject::connect(&wait, &TrayHostWait::ready, [&outcome](TrayHostWait::Host host) {
        outcome.host = host;
        ++outcome.readyCount;
    });
}

class TrayHostWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.isRunning());
        ASSERT_TRUE(programBus.isConnected());
        ASSERT_TRUE(desktopBus.isConnected());
    }
    // A wait on the program's bus with the stand-in XEmbed probe, recorded
    // into `outcome` and started.
    std::unique_ptr<TrayHostWait> startWait() {
        auto wait = std::make_unique<TrayHostWait>(
            programBus, [this] { return xembedTray; }, 10s);
        record(*wait, outcome);
        wait->start();
        return wait;
    }
    // The host the wait ended with; nothing when it did not end in 5 s.
    std::optional<TrayHostWait::Host> endedWith() {
        (void)QTest::qWaitFor([&] { return outcome.host.has_value(); }, 5000);
        return outcome.host;
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("tray-wait-program"));
        QDBusConnection::disconnectFromBus(QStringLiteral("tray-wait-desktop"));
    }
    // The panel's side: the watcher object, and then its name.
    void startWatcher() {
        ASSERT_TRUE(desktopBus.registerObject(TrayHostWait::watcherPath, &watcher,
                                              QDBusConnection::ExportAllProperties |
                                                  QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(desktopBus.registerService(TrayHostWait::watcherService));
    }

    PrivateSessionBus bus;
    QDBusConnection programBus =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("tray-wait-program"));
    QDBusConnection desktopBus =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("tray-wait-desktop"));
    WatcherStandIn watcher;
    bool xembedTray = false;
    Outcome outcome;
};

} // namespace

TEST_F(TrayHostWaitTest, HostAlreadyThereNeedsNoWait) {
    watcher.registerHost();
    startWatcher();
    const auto wait = startWait();
    EXPECT_EQ(endedWith(), TrayHostWait::Host::StatusNotifier);
    EXPECT_EQ(outcome.waiting, 0);
}

// Both kinds on one desktop (an XEmbed tray beside a panel that hosts items):
// Qt exports the menu over D-Bus then, so that is the answer.
TEST_F(TrayHostWaitTest, StatusNotifierHostWinsOverAnXEmbedTray) {
    watcher.registerHost();
    startWatcher();
    xembedTray = true;
    const auto wait = startWait();
    EXPECT_EQ(endedWith(), TrayHostWait::Host::StatusNotifier);
}

TEST_F(TrayHostWaitTest, WatcherWithoutHostIsWaitedOutUntilAHostRegisters) {
    startWatcher();
    const auto wait = startWait();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.waiting == 1; }, 5000));
    QTest::qWait(3 * int(TrayHostWait::pollInterval.count())); // several polls: still waiting
    EXPECT_FALSE(outcome.host.has_value());

    watcher.registerHost();
    EXPECT_EQ(endedWith(), TrayHostWait::Host::StatusNotifier);
    EXPECT_EQ(outcome.waiting, 1);
}

TEST_F(TrayHostWaitTest, PanelStartingAfterTheProgramEndsTheWait) {
    const auto wait = startWait();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.waiting == 1; }, 5000));

    watcher.registerHost();
    startWatcher();
    EXPECT_EQ(endedWith(), TrayHostWait::Host::StatusNotifier);
}

TEST_F(TrayHostWaitTest, XEmbedTrayAppearingEndsTheWait) {
    const auto wait = startWait();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.waiting == 1; }, 5000));
    xembedTray = true;
    EXPECT_EQ(endedWith(), TrayHostWait::Host::XEmbed);
}

TEST_F(TrayHostWaitTest, NoTrayAtAllGivesUpAfterTheLimitOnce) {
    TrayHostWait wait(
        QDBusConnection(QStringLiteral("never-connected")), [this] { return xembedTray; }, 300ms);
    record(wait, outcome);
    wait.start();
    EXPECT_EQ(outcome.waiting, 1);
    EXPECT_EQ(endedWith(), TrayHostWait::Host::None);

    // Nothing more after the end, whatever appears.
    xembedTray = true;
    QTest::qWait(3 * int(TrayHostWait::pollInterval.count()));
    EXPECT_EQ(outcome.readyCount, 1);
    EXPECT_EQ(outcome.waiting, 1);
}

#include "tray_host_wait_test.moc"
