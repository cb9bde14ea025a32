// PortMonitor with a fake scanner, a recording notifier and a settings store
// in a temporary folder.
#include "monitor/fake_scanner.h"
#include "monitor/port_monitor.h"
#include "platform/settings_store.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> toStd(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list)
        out.push_back(s.toStdString());
    return out;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> describe(const QList<ListeningPort>& ports) {
    std::vector<std::string> out;
    for (const ListeningPort& p : ports)
        out.push_back(
            QStringLiteral("%1 %2 %3").arg(p.port).arg(p.pid).arg(p.process).toStdString());
    return out;
}

std::vector<std::string> names(const QSet<QString>& set) {
    return sorted(toStd(QStringList(set.begin(), set.end())));
}

const ListeningPort node3000{3000, 101, QStringLiteral("node")};
const ListeningPort vite5173{5173, 102, QStringLiteral("node")};
const ListeningPort python8000{8000, 103, QStringLiteral("python3")};
const ListeningPort ruby9000{9000, 104, QStringLiteral("ruby")};

class PortMonitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString settingsPath() const {
        return m_dir.filePath(QStringLiteral("harborwatch/settings.json"));
    }

    void writeSettings(const QByteArray& json) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(settingsPath()).absolutePath()));
        QFile file(settingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(json);
    }

    // A monitor over a fresh store read from settingsPath(). Notifications are
    // recorded in `posts` ("title: body"), with the list published at that
    // moment; `events` interleaves them with "published" for portsChanged.
    PortMonitor& makeMonitor() {
        monitor.reset();
        store = std::make_unique<SettingsStore>(settingsPath());
        scanner = std::make_shared<FakeScannerState>();
        monitor = std::make_unique<PortMonitor>(std::make_unique<FakeScanner>(scanner), *store,
                                                [this](const QString& title, const QString& body) {
                                                    const QString post =
                                                        title + QStringLiteral(": ") + body;
                                                    posts.append(post);
                                                    events.append(post);
                                                    listAtNotify.append(monitor->ports());
                                                });
        QObject::connect(monitor.get(), &PortMonitor::portsChanged,
                         [this] { events.append(QStringLiteral("published")); });
        return *monitor;
    }

    // Starts a scan through scan() and completes it with `ports`.
    void scanWith(const QList<ListeningPort>& ports) {
        monitor->scan();
        ASSERT_TRUE(scanner->completeWith(ports));
    }

    std::vector<std::string> takePosts() {
        std::vector<std::string> out = toStd(posts);
        posts.clear();
        events.clear();
        listAtNotify.clear();
        return out;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> store;
    std::shared_ptr<FakeScannerState> scanner;
    std::unique_ptr<PortMonitor> monitor;
    QStringList posts;
    QStringList events;
    QList<QList<ListeningPort>> listAtNotify;
};

// --- change notifications ------------------------------------------------

TEST_F(PortMonitorTest, FirstScanPostsStartedForEveryPortAndUnchangedScanOnlyRepublishes) {
    PortMonitor& m = makeMonitor();
    QSignalSpy published(&m, &PortMonitor::portsChanged);

    scanWith({node3000, python8000});
    EXPECT_EQ(sorted(takePosts()),
              (std::vector<std::string>{"Port Started: node on port 3000",
                                        "Port Started: python3 on port 8000"}));
    EXPECT_EQ(describe(m.ports()), (std::vector<std::string>{"3000 101 node", "8000 103 python3"}));
    EXPECT_EQ(published.count(), 1);

    scanWith({node3000, python8000});
    EXPECT_TRUE(takePosts().empty());
    EXPECT_EQ(published.count(), 2) << "an unchanged scan still publishes";
    EXPECT_EQ(describe(m.ports()), (std::vector<std::string>{"3000 101 node", "8000 103 python3"}));
}

TEST_F(PortMonitorTest, VanishedPortPostsStoppedAndTakenOverPortPostsNothing) {
    PortMonitor& m = makeMonitor();
    scanWith({node3000, python8000});
    takePosts();

    scanWith({python8000});
    EXPECT_EQ(takePosts(),
              std::vector<std::string>{"Port Stopped: Port 3000 is no longer listening"});
    EXPECT_EQ(describe(m.ports()), std::vector<std::string>{"8000 103 python3"});

    // Another process on the same port: same number, so no change to report,
    // but the new record is what the list shows.
    scanWith({{8000, 999, QStringLiteral("uvicorn")}});
    EXPECT_TRUE(takePosts().empty());
    EXPECT_EQ(describe(m.ports()), std::vector<std::string>{"8000 999 uvicorn"});

    // Once gone, the same port is reported again when it comes back.
    scanWith({});
    EXPECT_EQ(takePosts(),
              std::vector<std::string>{"Port Stopped: Port 8000 is no longer listening"});
    scanWith({{8000, 1000, QStringLiteral("uvicorn")}});
    EXPECT_EQ(takePosts(), std::vector<std::string>{"Port Started: uvicorn on port 8000"});
}

TEST_F(PortMonitorTest, StartedComesBeforeStoppedAndAllBeforeThePublication) {
    PortMonitor& m = makeMonitor();
    scanWith({node3000, vite5173});
    takePosts();

    scanWith({python8000, ruby9000});
    ASSERT_EQ(events.size(), 5) << events.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(sorted(toStd(events.mid(0, 2))),
              (std::vector<std::string>{"Port Started: python3 on port 8000",
                                        "Port Started: ruby on port 9000"}));
    EXPECT_EQ(sorted(toStd(events.mid(2, 2))),
              (std::vector<std::string>{"Port Stopped: Port 3000 is no longer listening",
                                        "Port Stopped: Port 5173 is no longer listening"}));
    EXPECT_EQ(events[4], QStringLiteral("published"));
    // While notifying, the old list is still the published one.
    for (const QList<ListeningPort>& seen : std::as_const(listAtNotify))
        EXPECT_EQ(describe(seen), (std::vector<std::string>{"3000 101 node", "5173 102 node"}));
    EXPECT_EQ(describe(m.ports()), (std::vector<std::string>{"8000 103 python3", "9000 104 ruby"}));
}

// The fake filters like the real scanner, with what the monitor passed it, so
// a monitor that scans with a stale range or allowlist shows up here. Servers
// that enter or leave the list because of an edit are not events.
TEST_F(PortMonitorTest, RangeAndAllowlistEditsAreNoEventsButRealStopsInTheSameScanAre) {
    PortMonitor& m = makeMonitor();
    scanner->servers = {node3000, vite5173, python8000, ruby9000};
    m.scan();
    ASSERT_TRUE(scanner->completeWithServers());
    EXPECT_EQ(takePosts(), std::vector<std::string>{
                               "Ports Started: node on port 3000, node on port 5173, python3 on "
                               "port 8000 and ruby on port 9000"});

    auto rescan = [&] {
        if (!scanner->isRunning())
            m.scan();
        EXPECT_TRUE(scanner->completeWithServers());
        return sorted(takePosts());
    };

    m.setMaxPort(5999);
    EXPECT_TRUE(rescan().empty());
    EXPECT_EQ(describe(m.ports()), (std::vector<std::string>{"3000 101 node", "5173 102 node"}));
    m.setMaxPort(9999);
    EXPECT_TRUE(rescan().empty());
    EXPECT_EQ(m.ports().size(), 4);

    // Through the store, as the settings window and a hand edit do: the
    // monitor follows and scans by itself.
    store->setInteger(QStringLiteral("minPort"), 3600);
    scanner->servers.removeOne(python8000); // stops during the same scan
    EXPECT_EQ(rescan(), std::vector<std::string>{"Port Stopped: Port 8000 is no longer listening"});
    EXPECT_EQ(describe(m.ports()), (std::vector<std::string>{"5173 102 node", "9000 104 ruby"}));

    store->setInteger(QStringLiteral("minPort"), 3000);
    scanner->servers.insert(2, python8000); // starts during the same scan
    EXPECT_EQ(rescan(), std::vector<std::string>{"Port Started: python3 on port 8000"});

    m.removeAllowed(QStringLiteral("node"));
    EXPECT_TRUE(rescan().empty());
    EXPECT_EQ(describe(m.ports()), (std::vector<std::string>{"8000 103 python3", "9000 104 ruby"}));
    m.insertAllowed(QStringLiteral("node"));
    EXPECT_TRUE(rescan().empty());

    store->setArray(QStringLiteral("allowlist"), {QStringLiteral("ruby")});
    EXPECT_TRUE(rescan().empty());
    EXPECT_EQ(describe(m.ports()), std::vector<std::string>{"9000 104 ruby"});

    // The next scans compare as before.
    scanner->servers.removeOne(ruby9000);
    EXPECT_EQ(rescan(), std::vector<std::string>{"Port Stopped: Port 9000 is no longer listening"});
    EXPECT_EQ(scanner->overlappingRequests, 0);
}

TEST_F(PortMonitorTest, BurstsOfMoreThanThreeAreSummarisedEachWay) {
    PortMonitor& m = makeMonitor();
    QList<ListeningPort> eight;
    for (qint64 port = 3000; port < 3008; ++port)
        eight.append(
            {port, port, port == 3002 ? QStringLiteral("python3") : QStringLiteral("node")});
    QSignalSpy found(&m, &PortMonitor::changesFound);
    scanWith(eight);
    EXPECT_EQ(takePosts(), std::vector<std::string>{
                               "Ports Started: node on port 3000, node on port 3001, python3 on "
                               "port 3002 and 5 more"});
    ASSERT_EQ(found.count(), 1);
    EXPECT_EQ(found[0][0].value<PortChanges>().started.size(), 8) << "every event, as data";

    scanWith({});
    EXPECT_EQ(takePosts(), std::vector<std::string>{
                               "Ports Stopped: Ports 3000, 3001, 3002 and 5 more are no longer "
                               "listening"});
}

// --- start() and the timer --------------------------------------------------

struct StoredRange {
    const char* json;
    qint64 min;
    qint64 max;
    friend void PrintTo(const StoredRange& r, std::ostream* os) { *os << r.json; }
};

class StoredRangeTest : public PortMonitorTest,
                        public ::testing::WithParamInterface<StoredRange> {};

TEST_P(StoredRangeTest, StartTakesTheStoredRangeOrTheDefaults) {
    writeSettings(GetParam().json);
    PortMonitor& m = makeMonitor();
    // Construction leaves the range alone; start() reads it.
    EXPECT_EQ(m.minPort(), 3000);
    EXPECT_EQ(m.maxPort(), 9999);
    EXPECT_TRUE(scanner->requests.isEmpty());

    m.start();
    EXPECT_EQ(m.minPort(), GetParam().min);
    EXPECT_EQ(m.maxPort(), GetParam().max);
    ASSERT_EQ(scanner->requests.size(), 1);
    EXPECT_EQ(scanner->requests[0].minPort, GetParam().min);
    EXPECT_EQ(scanner->requests[0].maxPort, GetParam().max);
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredRangeTest,
    ::testing::Values(StoredRange{"{}", 3000, 9999},
                      StoredRange{R"({"minPort": 0, "maxPort": 0})", 3000, 9999},
                      StoredRange{R"({"minPort": -1, "maxPort": -65535})", 3000, 9999},
                      StoredRange{R"({"minPort": 8000, "maxPort": 4000})", 8000, 4000},
                      StoredRange{R"({"minPort": 3500})", 3500, 9999},
                      StoredRange{R"({"minPort": "4000", "maxPort": 4500.5})", 3000, 9999},
                      StoredRange{"not json", 3000, 9999}));

TEST_F(PortMonitorTest, StartScansAtOnceAndThenEveryTwoSeconds) {
    PortMonitor& m = makeMonitor();
    EXPECT_FALSE(m.isStarted());
    QElapsedTimer clock;
    clock.start();
    m.start();
    EXPECT_TRUE(m.isStarted());
    ASSERT_EQ(scanner->requests.size(), 1) << "the first scan starts inside start()";
    ASSERT_TRUE(scanner->completeWith({node3000}));

    ASSERT_TRUE(QTest::qWaitFor([&] { return scanner->requests.size() >= 2; }, 15000));
    // Qt's coarse timers may fire up to 5 % early; a loaded machine (the
    // sanitizers, parallel tests) may deliver late, so only "about two
    // seconds, not at once, not never" is checked.
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 1800);
    EXPECT_LT(elapsed, 10000);
    EXPECT_EQ(scanner->requests.size(), 2);
    EXPECT_TRUE(m.isStarted()) << "the timer repeats";
}

// A scan that outlasts the tick is not followed at once by the next one: the
// tick that found it running is dropped.
TEST_F(PortMonitorTest, TickDuringAScanIsSkipped) {
    PortMonitor& m = makeMonitor();
    QElapsedTimer clock;
    clock.start();
    m.start();
    ASSERT_EQ(scanner->requests.size(), 1);
    // A scan of three seconds, over the tick at two.
    QTest::qWait(3000);
    ASSERT_TRUE(scanner->completeWith({node3000}));
    QCoreApplication::processEvents();
    EXPECT_EQ(scanner->requests.size(), 1) << "no scan right after the slow one";

    ASSERT_TRUE(QTest::qWaitFor([&] { return scanner->requests.size() >= 2; }, 15000));
    EXPECT_GE(clock.elapsed(), 3700) << "the next scan waits for the next tick";
    EXPECT_EQ(scanner->overlappingRequests, 0);
}

TEST_F(PortMonitorTest, OtherListenersArePublishedWithEveryScan) {
    PortMonitor& m = makeMonitor();
    QSignalSpy published(&m, &PortMonitor::otherListenersChanged);
    const QList<ListeningPort> others = {{5432, 0, QString()}, {6379, 77, QStringLiteral("sshd")}};
    m.scan();
    ASSERT_TRUE(scanner->complete({{node3000}, ListerError::None, others}));
    EXPECT_EQ(m.otherListeners(), others);
    EXPECT_TRUE(takePosts() == std::vector<std::string>{"Port Started: node on port 3000"})
        << "other listeners are not announced";
    m.scan();
    ASSERT_TRUE(scanner->fail(ListerError::TimedOut));
    EXPECT_EQ(m.otherListeners(), others) << "kept over a failed scan";
    m.scan();
    ASSERT_TRUE(scanner->complete({{node3000}, ListerError::None, {}}));
    EXPECT_TRUE(m.otherListeners().isEmpty());
    EXPECT_EQ(published.count(), 2);
}

TEST_F(PortMonitorTest, ListerSettingSelectsTheSource) {
    const struct {
        QByteArray json;
        SourceKind kind;
    } cases[] = {
        {"{}", SourceKind::Proc},
        {R"({"lister": "proc"})", SourceKind::Proc},
        {R"({"lister": "lsof"})", SourceKind::Lsof},
        {R"({"lister": "LSOF"})", SourceKind::Proc},
        {R"({"lister": 1})", SourceKind::Proc},
        {"not json", SourceKind::Proc},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json.toStdString());
        writeSettings(c.json);
        makeMonitor();
        EXPECT_EQ(scanner->selectedSources, QList<SourceKind>{c.kind});
    }

    // A change while it runs switches the source and scans again.
    PortMonitor& m = makeMonitor();
    m.start();
    ASSERT_TRUE(scanner->completeWith({}));
    store->setString(QStringLiteral("lister"), QStringLiteral("lsof"));
    EXPECT_EQ(scanner->selectedSources, (QList<SourceKind>{SourceKind::Proc, SourceKind::Lsof}));
    EXPECT_EQ(scanner->requests.size(), 2);
}

// --- allowlist loading and saving --------------------------------------------

struct StoredAllowlist {
    const char* json;
    std::vector<std::string> expected; // empty with useDefaults: the default set
    bool useDefaults;
    friend void PrintTo(const StoredAllowlist& a, std::ostream* os) { *os << a.json; }
};

class StoredAllowlistTest : public PortMonitorTest,
                            public ::testing::WithParamInterface<StoredAllowlist> {};

TEST_P(StoredAllowlistTest, LoadsOnlyAWholeArrayOfStrings) {
    writeSettings(GetParam().json);
    PortMonitor& m = makeMonitor();
    if (GetParam().useDefaults) {
        EXPECT_EQ(m.allowlist().size(), 37);
        EXPECT_EQ(names(m.allowlist()), names(PortScanner::defaultAllowlist()));
    } else {
        EXPECT_EQ(names(m.allowlist()), GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredAllowlistTest,
    ::testing::Values(StoredAllowlist{"{}", {}, true},
                      StoredAllowlist{R"({"allowlist": ["node", 3000]})", {}, true},
                      StoredAllowlist{R"({"allowlist": ["node", null]})", {}, true},
                      StoredAllowlist{R"({"allowlist": "node"})", {}, true},
                      StoredAllowlist{R"({"allowlist": {"node": true}})", {}, true},
                      StoredAllowlist{
                          R"({"allowlist": ["node", "node", "caddy"]})", {"caddy", "node"}, false},
                      StoredAllowlist{R"({"allowlist": []})", {}, false}));

TEST_F(PortMonitorTest, FirstLaunchWritesNothingToTheStore) {
    PortMonitor& m = makeMonitor();
    m.start();
    ASSERT_TRUE(scanner->completeWith({node3000}));
    EXPECT_FALSE(QFileInfo::exists(settingsPath()));
    EXPECT_FALSE(store->contains(QStringLiteral("allowlist")));
    EXPECT_FALSE(store->contains(QStringLiteral("minPort")));
    EXPECT_FALSE(store->contains(QStringLiteral("maxPort")));
}

TEST_F(PortMonitorTest, SavedAllowlistIsWhatTheNextMonitorLoads) {
    PortMonitor& m = makeMonitor();
    m.setAllowlist({QStringLiteral("node"), QStringLiteral("caddy"), QStringLiteral("Python"),
                    QStringLiteral("my server")});
    m.saveAllowlist();
    makeMonitor();
    EXPECT_EQ(names(monitor->allowlist()),
              (std::vector<std::string>{"Python", "caddy", "my server", "node"}));

    // An empty list is kept as empty, not replaced by the defaults.
    monitor->setAllowlist({});
    monitor->saveAllowlist();
    makeMonitor();
    EXPECT_TRUE(monitor->allowlist().isEmpty());
}

TEST_F(PortMonitorTest, EveryAllowlistChangeIsAnnouncedEvenWhenEqual) {
    PortMonitor& m = makeMonitor();
    QSignalSpy changed(&m, &PortMonitor::allowlistChanged);
    const QSet<QString> same = m.allowlist();

    m.setAllowlist(same);
    EXPECT_EQ(changed.count(), 1);
    m.insertAllowed(QStringLiteral("node")); // already a member
    EXPECT_EQ(changed.count(), 2);
    m.removeAllowed(QStringLiteral("no-such-name"));
    EXPECT_EQ(changed.count(), 3);
    EXPECT_EQ(m.allowlist(), same);

    // Range assignments are plain: no signal, no scan.
    QSignalSpy published(&m, &PortMonitor::portsChanged);
    m.setMinPort(1);
    m.setMaxPort(2);
    EXPECT_EQ(published.count(), 0);
    EXPECT_TRUE(scanner->requests.isEmpty());
}

// --- scans never overlap ---------------------------------------------------------

TEST_F(PortMonitorTest, RequestsDuringARunLeadToExactlyOneFollowUpWithTheNewSettings) {
    PortMonitor& m = makeMonitor();
    scanner->servers = {node3000, vite5173, python8000};
    m.scan();
    ASSERT_EQ(scanner->requests.size(), 1);

    m.scan();
    m.setMinPort(4000);
    m.scan();
    m.removeAllowed(QStringLiteral("python3"));
    m.scan();
    EXPECT_EQ(scanner->requests.size(), 1) << "no second run while one is going";
    EXPECT_EQ(scanner->overlappingRequests, 0);

    // The first run ends with what it was asked for; the follow-up starts
    // right away, with the range and allowlist as they are now.
    ASSERT_TRUE(scanner->completeWithServers());
    EXPECT_EQ(describe(m.ports()),
              (std::vector<std::string>{"3000 101 node", "5173 102 node", "8000 103 python3"}));
    ASSERT_EQ(scanner->requests.size(), 2);
    EXPECT_EQ(scanner->requests[1].minPort, 4000);
    EXPECT_FALSE(scanner->requests[1].allowlist.contains(QStringLiteral("python3")));

    ASSERT_TRUE(scanner->completeWithServers());
    EXPECT_EQ(describe(m.ports()), std::vector<std::string>{"5173 102 node"});
    QCoreApplication::processEvents();
    EXPECT_EQ(scanner->requests.size(), 2) << "exactly one follow-up";
    EXPECT_FALSE(scanner->isRunning());
}

// --- failed scans --------------------------------------------------------------------

TEST_F(PortMonitorTest, FailedScanKeepsTheListPostsNothingAndPublishesWhy) {
    PortMonitor& m = makeMonitor();
    QSignalSpy errorChanged(&m, &PortMonitor::scanErrorChanged);
    scanWith({node3000, python8000});
    takePosts();
    EXPECT_TRUE(m.scanError().isEmpty());
    QSignalSpy published(&m, &PortMonitor::portsChanged);

    QStringList reasons;
    for (ListerError error :
         {ListerError::NotFound, ListerError::FailedToStart, ListerError::TimedOut,
          ListerError::Crashed, ListerError::InvalidOutput, ListerError::ErrorStatus,
          ListerError::ProcUnreadable}) {
        const int before = errorChanged.count();
        m.scan();
        ASSERT_TRUE(scanner->fail(error));
        EXPECT_TRUE(takePosts().empty());
        EXPECT_EQ(describe(m.ports()),
                  (std::vector<std::string>{"3000 101 node", "8000 103 python3"}));
        EXPECT_FALSE(m.scanError().isEmpty());
        EXPECT_FALSE(m.scanError().contains(QStringLiteral("::")));
        EXPECT_EQ(errorChanged.count(), before + 1);
        reasons.append(m.scanError());
    }
    EXPECT_EQ(published.count(), 0);
    EXPECT_EQ(QSet<QString>(reasons.begin(), reasons.end()).size(), reasons.size())
        << "each failure says what went wrong";

    // The ports seen before the failures are still the previous ones: nothing
    // to report, and the error is cleared.
    const int before = errorChanged.count();
    scanWith({node3000, python8000});
    EXPECT_TRUE(takePosts().empty());
    EXPECT_TRUE(m.scanError().isEmpty());
    EXPECT_EQ(errorChanged.count(), before + 1);
    EXPECT_EQ(published.count(), 1);

    // A follow-up asked for during a failing run still happens.
    m.scan();
    m.scan();
    ASSERT_TRUE(scanner->fail(ListerError::TimedOut));
    EXPECT_TRUE(scanner->isRunning());
    ASSERT_TRUE(scanner->completeWith({node3000}));
    EXPECT_EQ(takePosts(),
              std::vector<std::string>{"Port Stopped: Port 8000 is no longer listening"});
    EXPECT_TRUE(m.scanError().isEmpty());
}

// --- stop action -----------------------------------------------------------------------

TEST_F(PortMonitorTest, StopKillsTheRecordsPidAndRescansHalfASecondLater) {
    PortMonitor& m = makeMonitor();
    scanWith({node3000, python8000});
    takePosts();

    QElapsedTimer clock;
    clock.start();
    m.stopProcess(python8000);
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
    PortMonitor& m = makeMonitor();
    scanWith({node3000, python8000});
    m.stopProcess(node3000);
    m.stopProcess(python8000);
    EXPECT_EQ(scanner->stoppedPids, (QList<qint64>{101, 103}));
    monitor.reset();
    EXPECT_TRUE(scanner->destroyed);

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

        EXPECT_FALSE(m.stopProcess(c.asked));
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
    PortMonitor& m = makeMonitor();
    struct Offer {
        std::string post;
        QString action;
        std::function<void()> onAction;
    };
    QList<Offer> offers;
    m.setNotifyWithAction([&](const QString& title, const QString& body, const QString& action,
                              std::function<void()> onAction) {
        offers.append({(title + QStringLiteral(": ") + body).toStdString(), action, onAction});
    });
    QSignalSpy offered(&m, &PortMonitor::forceStopOffered);
    scanner->servers = {obedient, stubborn};
    scanWith(scanner->servers);
    takePosts();

    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(m.stopProcess(obedient));
    EXPECT_TRUE(m.stopProcess(stubborn));
    scanner->servers = {stubborn}; // node exits, python3 ignores the request
    EXPECT_FALSE(m.offersForceStop(stubborn));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !offers.isEmpty(); }, 20'000));
    EXPECT_GE(clock.elapsed(), PortMonitor::stillRunningCheckMs - 100);
    QTest::qWait(200); // the other check is due at the same moment
    ASSERT_EQ(offers.size(), 1);
    EXPECT_EQ(offers[0].post, "Server Still Running: python3 on port 8000 did not stop");
    EXPECT_EQ(offers[0].action, QStringLiteral("Force Stop"));
    EXPECT_TRUE(posts.isEmpty());
    ASSERT_EQ(offered.size(), 1);
    EXPECT_EQ(offered[0][0].value<ListeningPort>(), stubborn);
    EXPECT_TRUE(m.offersForceStop(stubborn));
    EXPECT_FALSE(m.offersForceStop(obedient));
    EXPECT_EQ(scanner->sentSignals, (QList<int>{SIGTERM, SIGTERM}));

    // The notification's action is Force Stop: SIGKILL to the same record.
    offers[0].onAction();
    EXPECT_EQ(scanner->sentSignals, (QList<int>{SIGTERM, SIGTERM, SIGKILL}));
    EXPECT_EQ(scanner->stoppedPids.last(), 103);

    // Once the server has left the list, Force Stop is no longer offered.
    ASSERT_TRUE(scanner->completeWith({}));
    EXPECT_FALSE(m.offersForceStop(stubborn));
}

TEST_F(PortMonitorTest, DestroyingTheMonitorDuringARunDropsTheResult) {
    PortMonitor& m = makeMonitor();
    m.start();
    ASSERT_TRUE(scanner->isRunning());
    monitor.reset();
    EXPECT_TRUE(scanner->destroyed);
    EXPECT_FALSE(scanner->isRunning());
    EXPECT_TRUE(posts.isEmpty());
}

} // namespace

// --- details and other listeners --------------------------------------------

TEST_F(PortMonitorTest, DetailsAreReadOffTheInterfaceThreadOncePerListedProcess) {
    PortMonitor& m = makeMonitor();
    struct Reads {
        QMutex mutex;
        QList<qint64> pids;
        bool onInterfaceThread = false;
    };
    auto reads = std::make_shared<Reads>();
    QThread* interfaceThread = QThread::currentThread();
    m.setDetailsSource([reads, interfaceThread](const ListeningPort& port) {
        QMutexLocker lock(&reads->mutex);
        reads->pids.append(port.pid);
        reads->onInterfaceThread |= QThread::currentThread() == interfaceThread;
        return ServerDetails{"/src/p" + QString::number(port.pid), "p", {}, {}, 0, {}};
    });
    const auto readPids = [reads] {
        QMutexLocker lock(&reads->mutex);
        return reads->pids;
    };

    const ListeningPort other{6000, 200, QStringLiteral("sshd")};
    m.setAllowlist({QStringLiteral("node")});
    scanner->servers = {node3000, vite5173, other};
    m.scan();
    ASSERT_TRUE(scanner->complete({{node3000, vite5173}, ListerError::None, {other}}));
    EXPECT_EQ(m.otherListeners(), QList<ListeningPort>{other});
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.details(5173).project == "p"; }, 5000));
    EXPECT_EQ(m.details(3000).folder, "/src/p101");

    // Unchanged records are not read again; a new process on a port is.
    scanWith({node3000, vite5173});
    scanWith({node3000, {5173, 150, QStringLiteral("node")}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.details(5173).folder == "/src/p150"; }, 5000));
    QList<qint64> pids = readPids();
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (QList<qint64>{101, 102, 150}));
    EXPECT_FALSE(reads->onInterfaceThread);
    EXPECT_TRUE(m.otherListeners().isEmpty());
}
