#include "core/split_ports.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ListeningPort held(qint64 port, qint64 pid, const char* address) {
    return {port, pid, QStringLiteral("node"), 0, QLatin1String(address)};
}

// "port pid address", with " split" for a split record.
std::vector<std::string> described(const QList<ListeningPort>& records) {
    std::vector<std::string> out;
    for (const ListeningPort& p : records)
        out.push_back(QStringLiteral("%1 %2 %3%4")
                          .arg(p.port)
                          .arg(p.pid)
                          .arg(p.address, p.split ? QStringLiteral(" split") : QString())
                          .toStdString());
    return out;
}

} // namespace

TEST(SplitPorts, AreSplitOnlyWhenTwoSeenProcessesHoldThem) {
    const struct {
        const char* what;
        QList<ListeningPort> byAddress;
        std::vector<std::string> expected;
    } cases[] = {
        {"one process on both families",
         {held(3000, 7, "0.0.0.0"), held(3000, 7, "::")},
         {"3000 7 0.0.0.0"}},
        {"two processes on two addresses",
         {held(3000, 7, "127.0.0.1"), held(3000, 9, "::1"), held(4000, 9, "::1")},
         {"3000 7 127.0.0.1 split", "3000 9 ::1 split", "4000 9 ::1"}},
        {"a holder that cannot be seen splits nothing",
         {held(3000, 7, "127.0.0.1"), held(3000, 0, "::1")},
         {"3000 7 127.0.0.1"}},
        {"an unseen first holder, two seen ones",
         {held(3000, 0, "0.0.0.0"), held(3000, 7, "127.0.0.1"), held(3000, 9, "::1")},
         {"3000 0 0.0.0.0 split", "3000 7 127.0.0.1 split", "3000 9 ::1 split"}},
        {"an address twice keeps its first",
         {held(3000, 7, "::1"), held(3000, 9, "127.0.0.1"), held(3000, 8, "::1")},
         {"3000 7 ::1 split", "3000 9 127.0.0.1 split"}},
        {"nothing", {}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(described(splitByHolder(c.byAddress)), c.expected) << c.what;
}
