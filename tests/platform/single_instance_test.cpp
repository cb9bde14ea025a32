// One instance per session, on a private session bus: each "launch" is a
// SingleInstance on a connection of its own, as separate processes would be.
#include "platform/single_instance.h"

#include "test_support.h"

#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class Launches {
public:
    explicit Launches(const QString& address) : m_address(address) {}
    ~Launches() {
        for (const QString& name : std::as_const(m_names))
            QDBusConnection::disconnectFromBus(name);
    }
    QDBusConnection connect() {
        const QString name = QStringLiteral("single-instance-%1").arg(m_names.size());
        m_names.append(name);
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QString m_address;
    QStringList m_names;
};

} // namespace

TEST(SingleInstanceTest, FirstLaunchOwnsTheNameAndASecondHandsOver) {
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.isRunning());
    Launches launches(bus.address());

    QDBusConnection firstBus = launches.connect();
    auto first = std::make_unique<SingleInstance>(firstBus);
    QSignalSpy showServers(first.get(), &SingleInstance::showServersRequested);
    QSignalSpy showSettings(first.get(), &SingleInstance::showSettingsRequested);
    ASSERT_EQ(first->claim(), SingleInstance::Claim::Owner);
    EXPECT_EQ(firstBus.interface()->serviceOwner(SingleInstance::serviceName).value(),
              firstBus.baseService());

    SingleInstance second(launches.connect());
    EXPECT_EQ(second.claim(), SingleInstance::Claim::HandedOver);
    EXPECT_EQ(showServers.size(), 1); // answered before the second one returned
    EXPECT_EQ(firstBus.interface()->serviceOwner(SingleInstance::serviceName).value(),
              firstBus.baseService());

    SingleInstance third(launches.connect());
    EXPECT_EQ(third.claim(), SingleInstance::Claim::HandedOver);
    EXPECT_EQ(showServers.size(), 2);
    EXPECT_EQ(showSettings.size(), 0); // the settings stay behind "Settings..."

    // The owner ends: the name is free for the next launch.
    first.reset();
    SingleInstance next(launches.connect());
    EXPECT_EQ(next.claim(), SingleInstance::Claim::Owner);
}

TEST(SingleInstanceTest, AnOwnerThatDoesNotAnswerIsNoHandOver) {
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.isRunning());
    Launches launches(bus.address());

    // Something holds the name but serves nothing behind it.
    QDBusConnection squatter = launches.connect();
    ASSERT_TRUE(squatter.registerService(SingleInstance::serviceName));

    SingleInstance launch(launches.connect());
    EXPECT_EQ(launch.claim(), SingleInstance::Claim::HandOverFailed);
    EXPECT_FALSE(launch.problem().isEmpty());
}

TEST(SingleInstanceTest, WithoutASessionBusTheProgramRunsAnyway) {
    SingleInstance launch(QDBusConnection(QStringLiteral("never-connected")));
    EXPECT_EQ(launch.claim(), SingleInstance::Claim::NoBus);
}
