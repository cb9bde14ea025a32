// The sources in force as one: chosen from the settings, scanned together,
// their results merged, a scan restarted when the set changes under it.
#include "config/settings.h"
#include "sources/lsof/lister.h"
#include "sources/registry.h"
#include "sources/source_set.h"
#include "support/fake_source.h"
#include "support/test_support.h"

#include <QJsonDocument>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <optional>

namespace {

settings::Values stored(const char* json) {
    return settings::read(QJsonDocument::fromJson(json).object());
}

QStringList idsOf(const QList<SourceSpec>& chosen) {
    QStringList ids;
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
        EXPECT_EQ(idsOf(sourcesFor(stored(c.json))).join(QLatin1Char('+')), c.ids);
        EXPECT_EQ(sourceIdentity(stored(c.json)), c.ids);
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
            {QStringLiteral("a"), [first] { return std::make_unique<FakeSource>(first); }},
            {QStringLiteral("b"), [second] { return std::make_unique<FakeSource>(second); }}};
    });
    EXPECT_TRUE(set.update({}));
    EXPECT_FALSE(set.update({}));
    EXPECT_EQ(set.identity(), QStringLiteral("a+b"));

    std::optional<ScanResult> result;
    const auto scan = [&] {
        result.reset();
        return set.scan({1, 65535, QSet<QString>{}}, [&](ScanResult r) { result = std::move(r); });
    };
    ASSERT_TRUE(scan());
    EXPECT_FALSE(set.scan({}, [](ScanResult) { FAIL(); })) << "one scan at a time";
    ASSERT_TRUE(second->complete({{{5432, 0, "db"}, {3000, 2, "b-node"}}, {}, {{8080, 9, "sshd"}}}));
    EXPECT_FALSE(result.has_value()) << "waits for every source";
    ASSERT_TRUE(first->complete({{{3000, 1, "a-node"}}, {}, {{5432, 7, "docker-proxy"}}}));
    ASSERT_TRUE(result.has_value());
    ASSERT_TRUE(result->ok());
    EXPECT_EQ(result->ports, (QList<ListeningPort>{{3000, 1, "a-node"}, {5432, 0, "db"}}));
    EXPECT_EQ(result->ports[0].origin, QStringLiteral("a"));
    EXPECT_EQ(result->ports[1].origin, QStringLiteral("b"));
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
        return QList<SourceSpec>{
            {QStringLiteral("proc"), [local] { return std::make_unique<FakeSource>(local); }},
            {QStringLiteral("ssh:box"), [remote] { return std::make_unique<FakeSource>(remote); },
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
              (QMap<QString, QString>{
                  {QStringLiteral("ssh:box"), QStringLiteral("not connected — Connection refused")}}));
}

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
    EXPECT_EQ(set.identity(), QStringLiteral("lsof"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 20'000));
    QTest::qWait(50);
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(result->ok()) << result->error.toStdString();
    EXPECT_EQ(result->ports, expected);
    ASSERT_EQ(result->ports.size(), 1);
    EXPECT_EQ(result->ports[0].origin, QStringLiteral("lsof"));
}
