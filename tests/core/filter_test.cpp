#include "config/settings.h"
#include "core/filter.h"
#include "sources/lsof/lsof_listing.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

QList<ListeningPort> nodes(std::initializer_list<qint64> ports) {
    QList<ListeningPort> list;
    for (qint64 port : ports)
        list.append({port, 7, QStringLiteral("node")});
    return list;
}

QList<qint64> portsOf(const QList<ListeningPort>& list) {
    QList<qint64> ports;
    for (const ListeningPort& p : list)
        ports.append(p.port);
    return ports;
}

const QSet<QString> onlyNode = {QStringLiteral("node")};

} // namespace

TEST(Filter, RangeIsInclusiveAndUnvalidated) {
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    constexpr qint64 highest = std::numeric_limits<qint64>::max();
    const QList<ListeningPort> all =
        nodes({lowest, -1, 0, 2999, 3000, 3001, 9998, 9999, 10000, 65535, highest});
    const struct {
        qint64 min, max;
        QList<qint64> expected;
    } cases[] = {
        {3000, 9999, {3000, 3001, 9998, 9999}},
        {3000, 3000, {3000}},
        {9999, 9999, {9999}},
        {5000, 5000, {}},
        {9999, 3000, {}},
        {3001, 3000, {}},
        {lowest, highest, {lowest, -1, 0, 2999, 3000, 3001, 9998, 9999, 10000, 65535, highest}},
        {lowest, lowest, {lowest}},
        {highest, highest, {highest}},
        {highest, lowest, {}},
        {-1, 0, {-1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << ".." << c.max);
        EXPECT_EQ(portsOf(ScanFilter{c.min, c.max, onlyNode}.apply(all)), c.expected);
    }
}

TEST(Filter, AllowlistMatchesWholeNamesExactly) {
    const QList<ListeningPort> all = {
        {3000, 1, QStringLiteral("node")},   {3001, 2, QStringLiteral("Node")},
        {3002, 3, QStringLiteral("NODE")},   {3003, 4, QStringLiteral("nodejs")},
        {3004, 5, QStringLiteral("nod")},    {3005, 6, QStringLiteral(" node")},
        {3006, 7, QStringLiteral("Python")}, {3007, 8, QStringLiteral("python")},
    };
    const struct {
        const char* what;
        QSet<QString> allowlist;
        QList<qint64> expected;
    } cases[] = {
        {"empty allowlist", {}, {}},
        {"lower-case node only", {QStringLiteral("node")}, {3000}},
        {"capital Node only", {QStringLiteral("Node")}, {3001}},
        {"a prefix matches nothing", {QStringLiteral("no")}, {}},
        {"trailing space matches nothing", {QStringLiteral("node ")}, {}},
        {"both Python spellings",
         {QStringLiteral("Python"), QStringLiteral("python")},
         {3006, 3007}},
        {"defaults", settings::defaultAllowlist(), {3000, 3006, 3007}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QList<ListeningPort> kept = ScanFilter{0, 65535, c.allowlist}.apply(all);
        EXPECT_EQ(portsOf(kept), c.expected);
        // Records pass through unchanged.
        for (const ListeningPort& p : kept)
            EXPECT_TRUE(all.contains(p));
    }
}

TEST(Filter, PortSettledByItsFirstLineBeforeFiltering) {
    const QString listing =
        QStringLiteral("COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\n"
                       "pgbouncer 50 dev 7u IPv4 0xa1 0t0 TCP 127.0.0.1:5432 (LISTEN)\n"
                       "postgres 612 dev 7u IPv6 0xa2 0t0 TCP [::1]:5432 (LISTEN)\n"
                       "node 70 dev 7u IPv4 0xa3 0t0 TCP *:3000 (LISTEN)\n");
    const QSet<QString> allowlist = {QStringLiteral("postgres"), QStringLiteral("node")};
    // pgbouncer and postgres hold 5432's two addresses: postgres is listed for
    // its own.
    const QList<ListeningPort> expected = {{3000, 70, QStringLiteral("node")},
                                           {5432, 612, QStringLiteral("postgres")}};
    EXPECT_EQ((ScanFilter{3000, 9999, allowlist}.apply(parseLsofListing(listing))), expected);
}

TEST(Filter, KeepsAscendingOrder) {
    const QList<ListeningPort> all = nodes({1, 3000, 3500, 4000, 8000, 9999, 20000});
    EXPECT_EQ(portsOf(ScanFilter{3000, 9999, onlyNode}.apply(all)),
              (QList<qint64>{3000, 3500, 4000, 8000, 9999}));
}

// The names that only a full process name can match, and the two spellings
// of Python, which must stay distinct.
TEST(DefaultAllowlist, HoldsThirtySevenNamesIncludingTheLongOnes) {
    const QSet<QString>& defaults = settings::defaultAllowlist();
    EXPECT_EQ(defaults.size(), 37);
    EXPECT_TRUE(defaults.contains(QStringLiteral("redis-server")));
    EXPECT_TRUE(defaults.contains(QStringLiteral("docker-proxy")));
    EXPECT_TRUE(defaults.contains(QStringLiteral("Python")));
    EXPECT_TRUE(defaults.contains(QStringLiteral("python")));
    EXPECT_FALSE(defaults.contains(QStringLiteral("Node")));
    // Built once: every call hands out the same set.
    EXPECT_EQ(&settings::defaultAllowlist(), &defaults);
}
