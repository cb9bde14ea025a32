// The sources in force as one: chosen from the settings, scanned together,
// their results merged, a scan restarted when the set changes under it.
#include "config/settings.h"
#include "sources/lsof/lister.h"
#include "sources/registry.h"
#include "sources/source_set.h"
#include "support/fake_source.h"
#include "support/test_support.h"

#include "core/container_engines.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

namespace {

settings::Values stored(const char* json) {
    return settings::read(QJsonDocument::fromJson(json).object());
}

QList<SourceId> idsOf(const QList<SourceSpec>& chosen) {
    QList<SourceId> ids;
    for (const SourceSpec& wanted : chosen)
        ids.append(wanted.id);
    return ids;
}

} // namespace

TEST(Registry, SettingsChooseTheSources) {
    const struct {
        const char* json;
        const char* ids;
    } cases[] = {
        {"{}", "containers+proc"},
        {R"({"lister": "proc"})", "containers+proc"},
        {R"({"lister": "lsof"})", "containers+lsof"},
        {R"({"lister": "LSOF"})", "containers+proc"},
        {R"({"lister": 1})", "containers+proc"},
        {"not json", "containers+proc"},
        {R"({"containers": false})", "proc"},
        {R"({"containers": false, "lister": "lsof"})", "lsof"},
        {R"({"containers": "no"})", "containers+proc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(idsText(idsOf(sourcesFor(stored(c.json)))), c.ids);
    }
}

// Two sources: the first one's record wins a port both list, a listener that
// no allowed process holds is left out where a source lists its port, and
// every record names its source. One failure fails the scan.
TEST(SourceSet, MergesInTheRegistrysOrder) {
    auto first = std::make_shared<FakeSourceState>();
    auto second = std::make_shared<FakeSourceState>();
    SourceSet set([&](const settings::Values&) {
        return QList<SourceSpec>{
            {testId(QStringLiteral("a")), [first] { return std::make_unique<FakeSource>(first); }},
            {testId(QStringLiteral("b")),
             [second] { return std::make_unique<FakeSource>(second); }}};
    });
    EXPECT_TRUE(set.update({}));
    EXPECT_FALSE(set.update({}));
    EXPECT_EQ(idsText(set.identity()), QStringLiteral("ssh:a+ssh:b"));

    std::optional<ScanResult> result;
    const auto scan = [&] {
        result.reset();
        return set.scan({1, 65535, QSet<QString>{}}, [&](ScanResult r) { result = std::move(r); });
    };
    ASSERT_TRUE(scan());
    EXPECT_FALSE(set.scan({}, [](ScanResult) { FAIL(); })) << "one scan at a time";
    ASSERT_TRUE(
        second->complete({{{5432, 0, "db"}, {3000, 2, "b-node"}}, {}, {{8080, 9, "sshd"}}}));
    EXPECT_FALSE(result.has_value()) << "waits for every source";
    ASSERT_TRUE(first->complete({{{3000, 1, "a-node"}}, {}, {{5432, 7, "docker-proxy"}}}));
    ASSERT_TRUE(result.has_value());
    ASSERT_TRUE(result->ok());
    EXPECT_EQ(result->ports, (QList<ListeningPort>{{3000, 1, "a-node"}, {5432, 0, "db"}}));
    EXPECT_EQ(result->ports[0].origin, testId(QStringLiteral("a")));
    EXPECT_EQ(result->ports[1].origin, testId(QStringLiteral("b")));
    EXPECT_EQ(result->others, (QList<ListeningPort>{{8080, 9, "sshd"}}));
    const ListeningPort& db = result->ports[1];
    EXPECT_EQ(set.sourceOf(db), set.sourceOf(result->others[0]));
    EXPECT_NE(set.sourceOf(db), set.sourceOf(result->ports[0]));

    ASSERT_TRUE(scan());
    ASSERT_TRUE(first->completeWith({{3000, 1, "a-node"}}));
    ASSERT_TRUE(second->fail(describeListerError(ListerError::TimedOut)));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->error, describeListerError(ListerError::TimedOut));
    EXPECT_TRUE(result->ports.isEmpty());
}

// A source that is not essential (a container engine, a remote host) fails
// alone: its reason goes into `problems` and the others' records stand. The
// same port on two machines is two records.
TEST(SourceSet, ANonEssentialSourceFailsAloneAndHostsKeepTheirPorts) {
    auto local = std::make_shared<FakeSourceState>();
    auto remote = std::make_shared<FakeSourceState>();
    SourceSet set([&](const settings::Values&) {
        return QList<SourceSpec>{{testId(QStringLiteral("proc")),
                                  [local] { return std::make_unique<FakeSource>(local); }},
                                 {testId(QStringLiteral("ssh:box")),
                                  [remote] { return std::make_unique<FakeSource>(remote); },
                                  false}};
    });
    set.update({});
    std::optional<ScanResult> result;
    const auto scan = [&] {
        result.reset();
        return set.scan({1, 65535, QSet<QString>{}}, [&](ScanResult r) { result = std::move(r); });
    };
    ListeningPort there{3000, 5, "node"};
    there.host = QStringLiteral("box");
    ASSERT_TRUE(scan());
    ASSERT_TRUE(local->completeWith({{3000, 1, "node"}}));
    ASSERT_TRUE(remote->completeWith({there}));
    ASSERT_TRUE(result.has_value() && result->ok());
    EXPECT_EQ(result->ports, (QList<ListeningPort>{{3000, 1, "node"}, there}));
    EXPECT_TRUE(result->problems.isEmpty());

    ASSERT_TRUE(scan());
    ASSERT_TRUE(local->completeWith({{3000, 1, "node"}}));
    ASSERT_TRUE(remote->complete({{}, QStringLiteral("not connected — Connection refused")}));
    ASSERT_TRUE(result.has_value() && result->ok());
    EXPECT_EQ(result->ports, (QList<ListeningPort>{{3000, 1, "node"}}));
    EXPECT_EQ(result->problems,
              (QMap<SourceId, QString>{{SourceId::ofHost(QStringLiteral("box")),
                                        QStringLiteral("not connected — Connection refused")}}));
}

namespace {

// A container source: answers every scan from the event loop with `listed`,
// which becomes `onRelist` once it has been asked to relist `relistsNeeded`
// times (0: never).
struct EnginesState {
    QList<ListeningPort> listed;
    QList<ListeningPort> onRelist;
    int relistsNeeded = 0;
    int relists = 0;
};

class FakeEngines : public ServerSource, public ContainerEngines {
public:
    explicit FakeEngines(std::shared_ptr<EnginesState> state) : m_state(std::move(state)) {}
    bool scan(ScanFilter, Done done) override {
        if (m_scanning)
            return false;
        m_scanning = true;
        QTimer::singleShot(0, &m_context, [this, done = std::move(done)] {
            m_scanning = false;
            done({m_state->listed});
        });
        return true;
    }
    bool isScanning() const override { return m_scanning; }
    ServerDetails details(const ListeningPort&) const override { return {}; }
    void stop(const ListeningPort&, bool, StopDone) override {}
    void stillRuns(const ListeningPort&, RunsDone) override {}
    void relist(std::function<void()> done) override {
        if (++m_state->relists == m_state->relistsNeeded)
            m_state->listed = m_state->onRelist;
        QTimer::singleShot(0, &m_context, std::move(done));
    }

private:
    std::shared_ptr<EnginesState> m_state;
    QObject m_context;
    bool m_scanning = false;
};

QString described(const QList<ListeningPort>& ports) {
    QStringList items;
    for (const ListeningPort& p : ports)
        items.append(QStringLiteral("%1 %2 %3").arg(p.port).arg(p.pid).arg(p.process));
    return items.join(QStringLiteral(", "));
}

struct HoldRound {
    QList<ListeningPort> procPorts;
    QList<ListeningPort> procOthers;
    QList<ListeningPort> listed; // by the container source at first
    QList<ListeningPort> onRelist = {};
    int relistsNeeded = 0;
    const char* ports = "";
    const char* others = "";
    int relists = 0; // asked of the container source in this round; -1: once or more
};

struct HoldCase {
    const char* name;
    QList<HoldRound> rounds;
};

const ListeningPort web{8081, 0, "shop-web-1"};
const ListeningPort proxy{8081, 50, "docker-proxy"};

class ProxyHold : public ::testing::TestWithParam<HoldCase> {};

} // namespace

// A port that an engine's proxy holds is told as its container's: the round
// waits while the container source asks its engines again (at most the
// hold's limit, once per proxy), and a proxy left behind by a container that
// has stopped is not listed.
TEST_P(ProxyHold, TellsAContainersPortAsTheContainers) {
    constexpr int holdMs = 300;
    auto proc = std::make_shared<FakeSourceState>();
    auto engines = std::make_shared<EnginesState>();
    SourceSet set(
        [&](const settings::Values&) {
            return QList<SourceSpec>{{testId(QStringLiteral("containers")),
                                      [engines] { return std::make_unique<FakeEngines>(engines); },
                                      false},
                                     {testId(QStringLiteral("proc")),
                                      [proc] { return std::make_unique<FakeSource>(proc); }}};
        },
        holdMs);
    set.update({});
    int round = 0;
    for (const HoldRound& row : GetParam().rounds) {
        SCOPED_TRACE(++round);
        engines->listed = row.listed;
        engines->onRelist = row.onRelist;
        engines->relistsNeeded = row.relistsNeeded;
        engines->relists = 0;
        std::optional<ScanResult> result;
        QElapsedTimer took;
        took.start();
        ASSERT_TRUE(set.scan({1, 65535, QSet<QString>{"docker-proxy", "dockerd", "node"}},
                             [&](ScanResult r) { result = std::move(r); }));
        ASSERT_TRUE(proc->complete({row.procPorts, {}, row.procOthers}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 5000));
        EXPECT_LT(took.elapsed(), holdMs + 1000);
        ASSERT_TRUE(result->ok());
        EXPECT_EQ(described(result->ports), QLatin1String(row.ports));
        EXPECT_EQ(described(result->others), QLatin1String(row.others));
        if (row.relists < 0)
            EXPECT_GE(engines->relists, 1);
        else
            EXPECT_EQ(engines->relists, row.relists);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ProxyHold,
    ::testing::Values(
        // Docker starts the proxy before the container runs: the first relist
        // does not list it yet, the second does.
        HoldCase{"proxy_before_its_container_runs",
                 {{{proxy}, {}, {}, {web}, 2, "8081 0 shop-web-1", "", 2},
                  {{proxy}, {}, {web}, {}, 0, "8081 0 shop-web-1", "", 0}}},
        HoldCase{"proxy_not_allowed", {{{}, {proxy}, {}, {web}, 1, "8081 0 shop-web-1", "", 1}}},
        // Podman's conmon reserves a rootful container's port.
        HoldCase{"conmon",
                 {{{}, {{8101, 60, "conmon"}}, {}, {{8101, 0, "pw"}}, 1, "8101 0 pw", "", 1}}},
        HoldCase{"listed_already", {{{proxy}, {}, {web}, {}, 0, "8081 0 shop-web-1", "", 0}}},
        // A daemon's own port is no container's: held once, then listed as it is.
        HoldCase{"no_container_behind_it",
                 {{{{2375, 7, "dockerd"}}, {}, {}, {}, 0, "2375 7 dockerd", "", -1},
                  {{{2375, 7, "dockerd"}}, {}, {}, {}, 0, "2375 7 dockerd", "", 0}}},
        // The container has left the list; its proxies (one per address
        // family) are going: the port stops as the container's. A new proxy
        // on the port is another matter.
        HoldCase{"proxy_left_behind",
                 {{{proxy}, {}, {web}, {}, 0, "8081 0 shop-web-1", "", 0},
                  {{{8081, 49, "docker-proxy"}}, {}, {}, {}, 0, "", "", 0},
                  {{}, {}, {}, {}, 0, "", "", 0},
                  {{{8081, 51, "docker-proxy"}}, {}, {}, {web}, 1, "8081 0 shop-web-1", "", 1}}},
        HoldCase{"not_a_proxy", {{{{3000, 9, "node"}}, {}, {}, {}, 0, "3000 9 node", "", 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A source switched during a scan runs the scan again and calls back once,
// with the new source's result, on the asking thread.
TEST(SourceSet, ScanRunningWhenTheSourceChangesIsRunAgainOnTheNewOne) {
    const QString name = QStringLiteral("hwsw-%1").arg(getpid() % 100'000);
    ListenerProcess listener(name, QStringLiteral("20000-29999"));
    ASSERT_TRUE(listener.isListening());
    const QList<ListeningPort> expected = {{listener.port(), listener.pid(), name}};

    SourceSet set;
    set.update(stored(R"({"lister": "proc", "containers": false})"));
    int calls = 0;
    std::optional<ScanResult> result;
    ASSERT_TRUE(set.scan({20'000, 29'999, QSet<QString>{name}}, [&](ScanResult r) {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        ++calls;
        result = std::move(r);
    }));
    EXPECT_TRUE(set.update(stored(R"({"lister": "lsof", "containers": false})")));
    EXPECT_EQ(idsText(set.identity()), QStringLiteral("lsof"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 20'000));
    QTest::qWait(50);
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(result->ok()) << result->error.toStdString();
    EXPECT_EQ(result->ports, expected);
    ASSERT_EQ(result->ports.size(), 1);
    EXPECT_EQ(result->ports[0].origin, SourceId::of(SourceId::Kind::Lsof));
}

// A source that lists a split port keeps both of its records; a later
// source's record on that port, whatever its address, is left out.
TEST(SourceSet, ASplitPortIsOneSourcesTwoRecords) {
    auto first = std::make_shared<FakeSourceState>();
    auto second = std::make_shared<FakeSourceState>();
    SourceSet set([&](const settings::Values&) {
        return QList<SourceSpec>{{testId(QStringLiteral("proc")),
                                  [first] { return std::make_unique<FakeSource>(first); }},
                                 {testId(QStringLiteral("ssh:b")),
                                  [second] { return std::make_unique<FakeSource>(second); },
                                  false}};
    });
    set.update({});
    ListeningPort v4{3000, 10, "node", 0, "127.0.0.1"};
    ListeningPort v6{3000, 20, "node", 0, "::1"};
    v4.split = v6.split = true;
    std::optional<ScanResult> result;
    ASSERT_TRUE(set.scan({1, 65535, std::nullopt}, [&](ScanResult r) { result = std::move(r); }));
    ASSERT_TRUE(first->completeWith({v6, v4}));
    ASSERT_TRUE(second->complete({{{3000, 30, "node", 0, "0.0.0.0"}}, {}, {{3000, 31, "nc"}}}));
    ASSERT_TRUE(result.has_value() && result->ok());
    EXPECT_EQ(result->ports, (QList<ListeningPort>{v4, v6}));
    EXPECT_TRUE(result->others.isEmpty());
}
