// What counts as a start or a stop across a filter edit, and how many
// notifications one scan's changes become.
#include "core/changes.h"
#include "monitor/change_notices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ListeningPort server(qint64 port, const char* name = "node") {
    return {port, port + 100000, QString::fromLatin1(name)};
}

std::vector<qint64> numbers(const QList<ListeningPort>& ports) {
    std::vector<qint64> out;
    for (const ListeningPort& p : ports)
        out.push_back(p.port);
    return out;
}

std::vector<std::string> describe(const QList<Notice>& notices) {
    std::vector<std::string> out;
    for (const Notice& n : notices)
        out.push_back((n.title + QStringLiteral(": ") + n.body).toStdString());
    return out;
}

const ScanFilter wide{
    3000, 9999, QSet<QString>{"node", "ruby"}, {SourceId::of(SourceId::Kind::Proc)}};

struct FilterEdit {
    const char* what;
    ScanFilter before;
    QList<ListeningPort> listedBefore;
    ScanFilter now;
    QList<ListeningPort> listedNow;
    std::vector<qint64> started;
    std::vector<qint64> stopped;
};

class FilterEditTest : public ::testing::TestWithParam<FilterEdit> {};

TEST_P(FilterEditTest, OnlyServersThatReallyCameOrWentAreEvents) {
    const FilterEdit& c = GetParam();
    const PortChanges changes = comparePorts(c.listedBefore, c.before, c.listedNow, c.now);
    EXPECT_EQ(numbers(changes.started), c.started);
    EXPECT_EQ(numbers(changes.stopped), c.stopped);
    EXPECT_EQ(changes.filterChanged, !(c.before == c.now));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterEditTest,
    ::testing::Values(
        FilterEdit{"unchanged filter",
                   wide,
                   {server(3000), server(4000)},
                   wide,
                   {server(4000), server(5000)},
                   {5000},
                   {3000}},
        FilterEdit{
            "lower bound raised above a running server",
            wide,
            {server(3511)},
            {3600, 9999, QSet<QString>{"node", "ruby"}, {SourceId::of(SourceId::Kind::Proc)}},
            {},
            {},
            {}},
        FilterEdit{
            "range narrowed while another server stops",
            wide,
            {server(3511), server(8000)},
            {3600, 9999, QSet<QString>{"node", "ruby"}, {SourceId::of(SourceId::Kind::Proc)}},
            {},
            {},
            {8000}},
        FilterEdit{"range widened while another server starts",
                   {3600, 9999, QSet<QString>{"node"}, {SourceId::of(SourceId::Kind::Proc)}},
                   {},
                   {3000, 9999, QSet<QString>{"node"}, {SourceId::of(SourceId::Kind::Proc)}},
                   {server(3511), server(8000)},
                   {8000},
                   {}},
        FilterEdit{"name removed from the allowlist",
                   wide,
                   {server(3000, "ruby"), server(4000)},
                   {3000, 9999, QSet<QString>{"node"}, {SourceId::of(SourceId::Kind::Proc)}},
                   {server(4000)},
                   {},
                   {}},
        FilterEdit{"name added back while the other stops",
                   {3000, 9999, QSet<QString>{"node"}, {SourceId::of(SourceId::Kind::Proc)}},
                   {server(4000)},
                   wide,
                   {server(3000, "ruby")},
                   {},
                   {4000}},
        FilterEdit{"every process, as the command line's --all lists them",
                   {1, 65535, std::nullopt, {SourceId::of(SourceId::Kind::Proc)}},
                   {server(3000)},
                   {1, 65535, std::nullopt, {SourceId::of(SourceId::Kind::Proc)}},
                   {server(3000), server(4000, "sshd")},
                   {4000},
                   {}},
        FilterEdit{
            "source switched",
            wide,
            {server(3000)},
            {3000, 9999, QSet<QString>{"node", "ruby"}, {SourceId::of(SourceId::Kind::Lsof)}},
            {server(4000)},
            {},
            {}}),
    [](const ::testing::TestParamInfo<FilterEdit>& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

QList<ListeningPort> burst(int count) {
    QList<ListeningPort> out;
    for (int i = 0; i < count; ++i)
        out.append(server(3000 + i, i == 2 ? "python3" : "node"));
    return out;
}

TEST(ChangePolicyTest, UpToThreeEachWayAreToldOneByOne) {
    PortChanges changes;
    changes.started = burst(3);
    changes.stopped = {server(8000)};
    EXPECT_EQ(describe(noticesFor(changes)),
              (std::vector<std::string>{"Port Started: node on port 3000",
                                        "Port Started: node on port 3001",
                                        "Port Started: python3 on port 3002",
                                        "Port Stopped: Port 8000 is no longer listening"}));
}

TEST(ChangePolicyTest, MoreBecomeOneSummaryEachWay) {
    struct Case {
        int count;
        std::string started;
        std::string stopped;
    };
    for (const Case& c : {
             Case{
                 4,
                 "node on port 3000, node on port 3001, python3 on port 3002 and node on port 3003",
                 "Ports 3000, 3001, 3002 and 3003 are no longer listening"},
             Case{5,
                  "node on port 3000, node on port 3001, python3 on port 3002, node on port 3003 "
                  "and node on port 3004",
                  "Ports 3000, 3001, 3002, 3003 and 3004 are no longer listening"},
             Case{8, "node on port 3000, node on port 3001, python3 on port 3002 and 5 more",
                  "Ports 3000, 3001, 3002 and 5 more are no longer listening"},
             Case{200000,
                  "node on port 3000, node on port 3001, python3 on port 3002 and 199997 more",
                  "Ports 3000, 3001, 3002 and 199997 more are no longer listening"},
         }) {
        SCOPED_TRACE(c.count);
        PortChanges changes;
        changes.started = burst(c.count);
        changes.stopped = burst(c.count);
        EXPECT_EQ(describe(noticesFor(changes)),
                  (std::vector<std::string>{"Ports Started: " + c.started,
                                            "Ports Stopped: " + c.stopped}));
    }
}

// Silenced ports and quiet names make no notification; a remote host's port
// of the same number is not this machine's.
TEST(ChangePolicyTest, SilencedServersAreNotTold) {
    settings::Values values;
    values.ports.insert(3000, settings::PortChoice{{}, {}, false});
    values.ports.insert(3001, settings::PortChoice{QStringLiteral("Shop"), {}, true});
    values.quietProcesses = {QStringLiteral("ruby")};
    ListeningPort remote = server(3000);
    remote.host = QStringLiteral("box");
    PortChanges changes;
    changes.started = {server(3000), server(3001), server(3002, "ruby"), remote};
    changes.stopped = {server(3000), server(4000, "ruby"), server(4001)};
    const PortChanges audible = audibleChanges(changes, values);
    EXPECT_EQ(numbers(audible.started), (std::vector<qint64>{3001, 3000}));
    EXPECT_EQ(audible.started.last().host, QStringLiteral("box"));
    EXPECT_EQ(numbers(audible.stopped), (std::vector<qint64>{4001}));
}

TEST(ChangePolicyTest, NothingChangedIsNothingToTell) {
    EXPECT_TRUE(noticesFor(PortChanges{}).isEmpty());
}

} // namespace

TEST(Notices, RemotePortsNameTheirHost) {
    ListeningPort remote = server(5173);
    remote.host = QStringLiteral("box");
    PortChanges changes;
    changes.started = {remote, server(3000)};
    changes.stopped = {remote};
    EXPECT_EQ(describe(noticesFor(changes)),
              (std::vector<std::string>{"Port Started: node on port 5173 on box",
                                        "Port Started: node on port 3000",
                                        "Port Stopped: Port 5173 on box is no longer listening"}));
}

// A port two processes hold on different addresses is two servers: the one
// that comes or goes beside the other is an event; the same count of holders
// on the port, whoever they are, is none.
TEST(SplitPorts, OnlyAHolderThatCameOrWentIsAnEvent) {
    const auto on = [](qint64 pid, const char* address, bool split) {
        ListeningPort p{3000, pid, QStringLiteral("node"), 0, QString::fromLatin1(address)};
        p.split = split;
        return p;
    };
    const ListeningPort alone = on(10, "127.0.0.1", false);
    const ListeningPort v4 = on(10, "127.0.0.1", true);
    const ListeningPort v6 = on(20, "::1", true);
    const ListeningPort otherV6 = on(30, "::1", true);
    const struct {
        const char* what;
        QList<ListeningPort> before;
        QList<ListeningPort> now;
        QList<qint64> started;
        QList<qint64> stopped;
    } cases[] = {
        {"a second holder on another address", {alone}, {v4, v6}, {20}, {}},
        {"both at once", {}, {v4, v6}, {10, 20}, {}},
        {"one of two goes", {v4, v6}, {alone}, {}, {20}},
        {"the other one goes", {v4, v6}, {on(20, "::1", false)}, {}, {10}},
        {"one of two is replaced", {v4, v6}, {v4, otherV6}, {}, {}},
        {"both go", {v4, v6}, {}, {}, {10, 20}},
    };
    const ScanFilter filter{1, 65535, std::nullopt};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const PortChanges changes = comparePorts(c.before, filter, c.now, filter);
        QList<qint64> started, stopped;
        for (const ListeningPort& p : changes.started)
            started << p.pid;
        for (const ListeningPort& p : changes.stopped)
            stopped << p.pid;
        std::sort(started.begin(), started.end());
        std::sort(stopped.begin(), stopped.end());
        EXPECT_EQ(started, c.started);
        EXPECT_EQ(stopped, c.stopped);
    }
}
