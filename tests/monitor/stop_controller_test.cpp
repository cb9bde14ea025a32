// The stop controller over a monitor with a fake source: what is stopped,
// what the user is told, and when the list is looked at again.
#include "monitor_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <functional>

namespace {

// --- stop action -----------------------------------------------------------------------

TEST_F(PortMonitorTest, StopKillsTheRecordsPidAndRescansHalfASecondLater) {
    PortMonitor& m = makeMonitor();
    scanWith({node3000, python8000});
    takePosts();

    QElapsedTimer clock;
    clock.start();
    stops->stop(python8000);
    EXPECT_EQ(scanner->stoppedPids, QList<qint64>{103});
    EXPECT_EQ(scanner->requests.size(), 1) << "the list is not touched by the stop itself";
    EXPECT_EQ(m.ports().size(), 2);

    ASSERT_TRUE(QTest::qWaitFor([&] { return scanner->requests.size() == 2; }, 3000));
    EXPECT_GE(clock.elapsed(), 400);
    ASSERT_TRUE(scanner->completeWith({node3000}));
    EXPECT_EQ(takePosts(),
              std::vector<std::string>{"Port Stopped: Port 8000 is no longer listening"});
    EXPECT_EQ(describe(m.ports()), std::vector<std::string>{"3000 101 node"});
    EXPECT_FALSE(m.isStarted()) << "the stop action starts no timer";
}

TEST_F(PortMonitorTest, DestroyedMonitorGetsNoRescan) {
    makeMonitor();
    scanWith({node3000, python8000});
    stops->stop(node3000);
    stops->stop(python8000);
    EXPECT_EQ(scanner->stoppedPids, (QList<qint64>{101, 103}));
    stops.reset();
    monitor.reset();
    EXPECT_EQ(scanner->destroyed, 1);

    // Nothing can be waited for when nothing should happen: give the rescans
    // well past their time.
    QTest::qWait(800);
    EXPECT_EQ(scanner->requests.size(), 1) << "only the scan before the stops";
}

// A stop acts only on a record of the list shown now, and says why it did not.
TEST_F(PortMonitorTest, RefusedStopIsToldAndLeavesTheList) {
    const ListeningPort listed{8000, 103, QStringLiteral("python3"), 555};
    ListeningPort restarted = listed; // same pid and name, another process
    restarted.startTime = 556;
    const struct {
        const char* what;
        ListeningPort asked;
        StopOutcome scannerAnswer;
        bool reachesScanner;
        std::string post;
    } cases[] = {
        {"no longer listed", node3000, StopOutcome::Delivered, false,
         "Server Not Stopped: node on port 3000: it is no longer in the list"},
        {"listed with another start time", restarted, StopOutcome::Delivered, false,
         "Server Not Stopped: python3 on port 8000: it is no longer in the list"},
        {"exited", listed, StopOutcome::Exited, true,
         "Server Not Stopped: python3 on port 8000: it exited already"},
        {"pid reused", listed, StopOutcome::PidReused, true,
         "Server Not Stopped: python3 on port 8000: another process has its pid now"},
        {"another user's", listed, StopOutcome::PermissionDenied, true,
         "Server Not Stopped: python3 on port 8000: permission denied — it belongs to another "
         "user"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PortMonitor& m = makeMonitor();
        scanWith({listed});
        takePosts();
        scanner->stopResult = {c.scannerAnswer, describeStopOutcome(c.scannerAnswer, 8000)};

        stops->stop(c.asked);
        EXPECT_EQ(takePosts(), std::vector<std::string>{c.post});
        EXPECT_EQ(scanner->stoppedPids.size(), c.reachesScanner ? 1 : 0);
        EXPECT_EQ(describe(m.ports()), std::vector<std::string>{"8000 103 python3"});
        // The list is looked at again all the same.
        ASSERT_TRUE(QTest::qWaitFor([&] { return scanner->requests.size() == 2; }, 3000));
    }
}

// Five seconds after Stop Server the same process still listens: the user is
// told and offered Force Stop, in the menu and in the notification. Nothing
// stronger than SIGTERM is sent until then.
TEST_F(PortMonitorTest, ServerThatOutlivesStopIsOfferedForceStop) {
    const ListeningPort stubborn{8000, 103, QStringLiteral("python3"), 555};
    const ListeningPort obedient{3000, 101, QStringLiteral("node"), 444};
    makeMonitor();
    struct Offer {
        std::string post;
        QString action;
        std::function<void()> onAction;
    };
    QList<Offer> offers;
    stops->setNotifyWithAction([&](const QString& title, const QString& body, const QString& action,
                                   std::function<void()> onAction) {
        offers.append({(title + QStringLiteral(": ") + body).toStdString(), action, onAction});
    });
    QSignalSpy offered(stops.get(), &StopController::forceStopOffered);
    scanner->servers = {obedient, stubborn};
    scanWith(scanner->servers);
    takePosts();

    QElapsedTimer clock;
    clock.start();
    stops->stop(obedient);
    stops->stop(stubborn);
    scanner->servers = {stubborn}; // node exits, python3 ignores the request
    EXPECT_FALSE(stops->offersForceStop(stubborn));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !offers.isEmpty(); }, 20'000));
    EXPECT_GE(clock.elapsed(), StopController::stillRunningCheckMs - 100);
    QTest::qWait(200); // the other check is due at the same moment
    ASSERT_EQ(offers.size(), 1);
    EXPECT_EQ(offers[0].post, "Server Still Running: python3 on port 8000 did not stop");
    EXPECT_EQ(offers[0].action, QStringLiteral("Force Stop"));
    EXPECT_TRUE(posts.isEmpty());
    ASSERT_EQ(offered.size(), 1);
    EXPECT_EQ(offered[0][0].value<ListeningPort>(), stubborn);
    EXPECT_TRUE(stops->offersForceStop(stubborn));
    EXPECT_FALSE(stops->offersForceStop(obedient));
    EXPECT_EQ(scanner->sentSignals, (QList<int>{SIGTERM, SIGTERM}));

    // The notification's action is Force Stop: SIGKILL to the same record.
    offers[0].onAction();
    EXPECT_EQ(scanner->sentSignals, (QList<int>{SIGTERM, SIGTERM, SIGKILL}));
    EXPECT_EQ(scanner->stoppedPids.last(), 103);

    // Once the server has left the list, Force Stop is no longer offered.
    ASSERT_TRUE(scanner->completeWith({}));
    EXPECT_FALSE(stops->offersForceStop(stubborn));
}

} // namespace
