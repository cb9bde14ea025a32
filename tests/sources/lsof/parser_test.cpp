#include "core/integers.h"
#include "sources/lsof/lsof_listing.h"

#include <gtest/gtest.h>

#include <QSet>

#include <limits>
#include <optional>
#include <unordered_set>

namespace {

const QString header = QStringLiteral("COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\n");

// One listening-socket line as the lister prints it, with the given pieces.
QString line(const QString& process, const QString& pid, const QString& address) {
    return QStringLiteral("%1 %2 dev 23u IPv4 0xa1 0t0 TCP %3 (LISTEN)\n")
        .arg(process, pid, address);
}

QList<ListeningPort> parse(const QString& text) {
    return parseLsofListing(text);
}

} // namespace

TEST(Parser, WorkedExample) {
    const QString text =
        QStringLiteral("COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\n"
                       "node 4123 dev 23u IPv4 0xa1 0t0 TCP *:3000 (LISTEN)\n"
                       "node 4123 dev 24u IPv6 0xa2 0t0 TCP *:3000 (LISTEN)\n"
                       "Python 5120 dev 4u IPv4 0xa3 0t0 TCP 127.0.0.1:8000 (LISTEN)\n"
                       "ruby 777 dev 12u IPv6 0xa4 0t0 TCP [::1]:4567 (LISTEN)\n"
                       "postgres 612 dev 7u IPv4 0xa5 0t0 TCP localhost:postgresql (LISTEN)\n"
                       "java 901 dev 40u IPv6 0xa6 0t0 TCP *:8080\n"
                       "node abc dev 23u IPv4 0xa7 0t0 TCP *:5000 (LISTEN)\n"
                       "node 4129 dev 25u IPv4 0xa8 0t0 TCP *:5000 (LISTEN)\n"
                       "nginx 88 dev 6u IPv4\n"
                       "nginx 88 dev 6u IPv4 0xa9 0t0 TCP *:80 (LISTEN)\n");
    const QList<ListeningPort> expected = {
        {80, 88, QStringLiteral("nginx")},      {3000, 4123, QStringLiteral("node")},
        {4567, 777, QStringLiteral("ruby")},    {5000, 4129, QStringLiteral("node")},
        {8000, 5120, QStringLiteral("Python")},
    };
    EXPECT_EQ(parseLsofListing(text), expected);
}

TEST(Parser, IntegerRule) {
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    const struct {
        const char* text;
        std::optional<qint64> value;
    } cases[] = {
        {"3000", 3000},
        {"+3000", 3000},
        {"-12", -12},
        {"0", 0},
        {"-0", 0},
        {"+0", 0},
        {"007", 7},
        {"9223372036854775807", max},
        {"+9223372036854775807", max},
        {"-9223372036854775808", min},
        {"9223372036854775808", std::nullopt},
        {"+9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"18446744073709551616", std::nullopt}, // wraps to 0 in 64 unsigned bits
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {"-+1", std::nullopt},
        {"--1", std::nullopt},
        {"++1", std::nullopt},
        {"1-", std::nullopt},
        {"1a", std::nullopt},
        {"a1", std::nullopt},
        {"0x10", std::nullopt},
        {"1e3", std::nullopt},
        {"1.0", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1\t", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseInteger(QString::fromUtf8(c.text)), c.value);
    }
    // Digits of other scripts are not decimal digits here.
    EXPECT_EQ(parseInteger(u"\u0663\u0660\u0660\u0660"), std::nullopt); // Arabic-Indic 3000
    EXPECT_EQ(parseInteger(u"\uff13\uff10"), std::nullopt);             // full-width 30
}

TEST(Parser, IntegerRuleAppliesToPidAndPort) {
    const QString text =
        header + line(QStringLiteral("a"), QStringLiteral("+42"), QStringLiteral("*:+3000")) +
        line(QStringLiteral("b"), QStringLiteral("-7"), QStringLiteral("*:5")) +
        line(QStringLiteral("c"), QStringLiteral("9223372036854775808"), QStringLiteral("*:4000")) +
        line(QStringLiteral("d"), QStringLiteral("1"), QStringLiteral("*:9223372036854775808")) +
        line(QStringLiteral("e"), QStringLiteral("12a"), QStringLiteral("*:4001")) +
        line(QStringLiteral("f"), QStringLiteral("+-1"), QStringLiteral("*:4002")) +
        line(QStringLiteral("g"), QStringLiteral("-"), QStringLiteral("*:4003")) +
        line(QStringLiteral("h"), QStringLiteral("3"), QStringLiteral("*:40o4")) +
        line(QStringLiteral("i"), QStringLiteral("9223372036854775807"),
             QStringLiteral("*:0065535"));
    const QList<ListeningPort> expected = {
        {5, -7, QStringLiteral("b")},
        {3000, 42, QStringLiteral("a")},
        {65535, std::numeric_limits<qint64>::max(), QStringLiteral("i")},
    };
    EXPECT_EQ(parse(text), expected);
}

TEST(Parser, PortsOutsideOneTo65535AreNotRecords) {
    const struct {
        const char* port;
        bool kept;
    } cases[] = {
        {"1", true},      {"65535", true},    {"+65535", true},
        {"0", false},     {"-0", false},      {"-1", false},
        {"65536", false}, {"1000000", false}, {"-9223372036854775808", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        const QString text = header + line(QStringLiteral("node"), QStringLiteral("10"),
                                           QStringLiteral("*:") + QString::fromUtf8(c.port));
        EXPECT_EQ(parse(text).size(), c.kept ? 1 : 0);
    }
}

// lsof 4.95 writes a command name's bytes other than printable ASCII as escapes
// (a name is one column, so a space is "\x20"); "^" followed by anything but
// A to _ and a backslash before anything else are not escapes.
TEST(Parser, LsofEscapesInTheCommandAreDecoded) {
    const struct {
        QString printed;
        QString name;
    } cases[] = {
        {QStringLiteral("my\\x20app"), QStringLiteral("my app")},
        {QStringLiteral("caf\\xc3\\xa9"), QStringLiteral("caf\u00e9")},
        {QStringLiteral("caf\\xC3\\xA9"), QStringLiteral("caf\u00e9")},
        {QStringLiteral("N\u00f8de\\x20\U0001F600"), QStringLiteral("N\u00f8de \U0001F600")},
        {QStringLiteral("ta\\tb\\nc\\rd\\be\\ff"), QStringLiteral("ta\tb\nc\rd\be\ff")},
        {QStringLiteral("back\\\\sl"), QStringLiteral("back\\sl")},
        {QStringLiteral("x\\\\x20y"), QStringLiteral("x\\x20y")},
        {QStringLiteral("^Actl^[x^_"), QStringLiteral("\x01"
                                                      "ctl\x1b"
                                                      "x\x1f")},
        {QStringLiteral("\\x7fdel"), QStringLiteral("\x7f"
                                                    "del")},
        {QStringLiteral("car^et^@^"), QStringLiteral("car^et^@^")},
        {QStringLiteral("a\\q\\x2\\xzz\\X41\\"), QStringLiteral("a\\q\\x2\\xzz\\X41\\")},
        // lsof may cut a name inside a character; the rest is kept.
        {QStringLiteral("caf\\xc3"), QStringLiteral("caf\ufffd")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.printed.toStdString());
        const QList<ListeningPort> result =
            parse(header + line(c.printed, QStringLiteral("10"), QStringLiteral("*:3000")));
        ASSERT_EQ(result.size(), 1);
        EXPECT_EQ(result[0].process, c.name);
    }
}

TEST(Parser, AddressForms) {
    const struct {
        const char* address;
        std::optional<qint64> port;
    } cases[] = {
        {"*:3000", 3000},
        {"127.0.0.1:8000", 8000},
        {"[::1]:4567", 4567},
        {"[::]:8080", 8080},
        {"[fe80::1%lo]:9000", 9000},
        {"a:b:c:7000", 7000}, // the last colon separates the port
        {"*:", std::nullopt},
        {"127.0.0.1:", std::nullopt},
        {"[::1]:", std::nullopt},
        {"localhost:postgresql", std::nullopt},
        {"3000", std::nullopt}, // no colon at all
        {"[::1]:45:", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const QList<ListeningPort> result =
            parse(header +
                  line(QStringLiteral("node"), QStringLiteral("10"), QString::fromUtf8(c.address)));
        if (c.port) {
            ASSERT_EQ(result.size(), 1);
            EXPECT_EQ(result[0], (ListeningPort{*c.port, 10, QStringLiteral("node")}));
        } else {
            EXPECT_TRUE(result.isEmpty());
        }
    }
}

TEST(Parser, PiecesAreCutAtSpacesOnly) {
    const QString data = QStringLiteral("node 10 dev 23u IPv4 0xa1 0t0 TCP *:3000 (LISTEN)");
    const ListeningPort node3000{3000, 10, QStringLiteral("node")};
    const struct {
        const char* what;
        QString text;
        QList<ListeningPort> expected;
    } cases[] = {
        {"plain", header + data, {node3000}},
        {"trailing line feed", header + data + u'\n', {node3000}},
        {"trailing spaces", header + data + QStringLiteral("   "), {node3000}},
        {"trailing spaces and line feeds", header + data + QStringLiteral("  \n\n\n"), {node3000}},
        {"leading spaces and runs of spaces",
         header + QStringLiteral("   node    10  dev 23u   IPv4 0xa1 0t0 TCP  *:3000   (LISTEN)"),
         {node3000}},
        // With a tab before the state the line has 9 pieces and the
        // second-to-last is "TCP": no port.
        {"tab does not separate",
         header + QStringLiteral("node 10 dev 23u IPv4 0xa1 0t0 TCP *:3000\t(LISTEN)\n"),
         {}},
        {"tab stays in the process name",
         header + QStringLiteral("my\tsrv 10 dev 23u IPv4 0xa1 0t0 TCP *:3000 (LISTEN)\n"),
         {{3000, 10, QStringLiteral("my\tsrv")}}},
        {"8 pieces", header + QStringLiteral("node 10 dev 23u IPv4 0xa1 TCP *:3000\n"), {}},
        {"exactly 9 pieces, address second-to-last",
         header + QStringLiteral("node 10 dev 23u IPv4 0xa1 0t0 *:3000 (LISTEN)\n"),
         {node3000}},
        {"more pieces: address is still second-to-last",
         header + QStringLiteral("node 10 dev 23u IPv4 0xa1 0t0 TCP x y *:3000 (LISTEN)\n"),
         {node3000}},
        {"process name decoded after the line is cut",
         header + QStringLiteral("N\u00f8de\\x20x 10 dev 23u IPv4 0xa1 0t0 TCP *:3000 (LISTEN)\n"),
         {{3000, 10, QStringLiteral("N\u00f8de x")}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(parse(c.text), c.expected);
    }
}

TEST(Parser, FirstNonEmptyLineIsSkippedByPosition) {
    const QString a = line(QStringLiteral("a"), QStringLiteral("1"), QStringLiteral("*:3001"));
    const QString b = line(QStringLiteral("b"), QStringLiteral("2"), QStringLiteral("*:3002"));
    const ListeningPort portB{3002, 2, QStringLiteral("b")};
    const struct {
        const char* what;
        QString text;
        QList<ListeningPort> expected;
    } cases[] = {
        {"empty", QString(), {}},
        {"header only", header, {}},
        {"header without line feed", header.trimmed(), {}},
        {"only line feeds", QStringLiteral("\n\n\n\n"), {}},
        {"one data line and nothing else", a, {}},
        {"data line first loses it", a + b, {portB}},
        {"blank lines before a data line",
         QStringLiteral("\n\n") + a + QStringLiteral("\n") + b,
         {portB}},
        {"blank lines before the header", QStringLiteral("\n\n") + header + b, {portB}},
        {"blank lines between header and data", header + QStringLiteral("\n\n\n") + b, {portB}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(parse(c.text), c.expected);
    }
}

// A port's first line wins; a port whose addresses different processes hold
// is listed once per address, each under its first line.
TEST(Parser, FirstLineForAPortWinsUnlessOthersHoldItsOtherAddresses) {
    const QString text =
        header + QStringLiteral("node 4123 dev 23u IPv6 0xa1 0t0 TCP [::1]:3000 (LISTEN)\n"
                                "node 4123 dev 24u IPv4 0xa2 0t0 TCP 127.0.0.1:3000 (LISTEN)\n"
                                "ruby 777 dev 12u IPv6 0xa5 0t0 TCP [::1]:3000 (LISTEN)\n"
                                "java 901 dev 40u IPv4 0xa3 0t0 TCP *:8080 (LISTEN)\n"
                                "Python 5120 dev 4u IPv6 0xa4 0t0 TCP *:8080 (LISTEN)\n");
    QList<ListeningPort> expected = {
        {3000, 4123, QStringLiteral("node")},
        {8080, 901, QStringLiteral("java"), 0, QStringLiteral("0.0.0.0")},
        {8080, 5120, QStringLiteral("Python"), 0, QStringLiteral("::")},
    };
    expected[1].split = expected[2].split = true;
    const QList<ListeningPort> parsed = parse(text);
    EXPECT_EQ(parsed, expected);
    ASSERT_EQ(parsed.size(), 3);
    EXPECT_FALSE(parsed[0].split);
    EXPECT_EQ(parsed[1].address, QStringLiteral("0.0.0.0"));
    EXPECT_TRUE(parsed[2].split);
}

TEST(Parser, DroppedLineClaimsNoPort) {
    // Each first line for port 6000 is dropped at a different step; the valid
    // line after them yields the record.
    const QString text =
        header + QStringLiteral("bad x dev 23u IPv4 0xa1 0t0 TCP *:6000 (LISTEN)\n"
                                "short 1 dev 23u IPv4 *:6000\n"
                                "tab 2 dev 23u IPv4 0xa1 0t0 TCP *:6000\t(LISTEN)\n"
                                "good 3 dev 23u IPv4 0xa1 0t0 TCP *:6000 (LISTEN)\n"
                                "late 4 dev 23u IPv4 0xa1 0t0 TCP *:6000 (LISTEN)\n");
    const QList<ListeningPort> expected = {{6000, 3, QStringLiteral("good")}};
    EXPECT_EQ(parse(text), expected);
}

TEST(Parser, ResultIsSortedByPortWhateverTheLineOrder) {
    const qint64 ports[] = {9999, 22, 65535, 3000, 2, 8080, 1, 4567, 3001, 65534};
    QString text = header;
    for (qint64 port : ports)
        text += line(QStringLiteral("p%1").arg(port), QString::number(port + 100000),
                     QStringLiteral("*:%1").arg(port));
    const QList<ListeningPort> result = parse(text);
    ASSERT_EQ(result.size(), std::size(ports));
    for (qsizetype i = 0; i < result.size(); ++i) {
        // Each record keeps its own pid and name through the sort.
        EXPECT_EQ(result[i].pid, result[i].port + 100000);
        EXPECT_EQ(result[i].process, QStringLiteral("p%1").arg(result[i].port));
        if (i > 0) {
            EXPECT_LT(result[i - 1].port, result[i].port);
        }
    }
}

TEST(ListeningPortRecord, EqualityCoversEveryFieldIdentityIsThePort) {
    const ListeningPort a{3000, 100, QStringLiteral("python")};
    const ListeningPort otherPid{3000, 101, QStringLiteral("python")};
    const ListeningPort otherCase{3000, 100, QStringLiteral("Python")};
    const ListeningPort otherPort{3001, 100, QStringLiteral("python")};
    const ListeningPort same{3000, 100, QStringLiteral("python")};

    EXPECT_EQ(a.id(), otherPid.id());
    EXPECT_NE(a, otherPid);
    EXPECT_NE(a, otherCase);
    EXPECT_NE(a, otherPort);
    EXPECT_EQ(a, same);
    EXPECT_FALSE(a != same);

    EXPECT_EQ(std::hash<ListeningPort>{}(a), std::hash<ListeningPort>{}(same));
    EXPECT_EQ(qHash(a), qHash(same));
    EXPECT_EQ(qHash(a, 17), qHash(same, 17));

    const std::unordered_set<ListeningPort> stdSet = {a, same, otherPid, otherCase, otherPort};
    EXPECT_EQ(stdSet.size(), 4u);
    const QSet<ListeningPort> qtSet = {a, same, otherPid, otherCase, otherPort};
    EXPECT_EQ(qtSet.size(), 4);
}

TEST(Parser, ListingGivesTheAddressAnyAddressByFamily) {
    const QString text = QStringLiteral("COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\n"
                                        "node 10 u 23u IPv4 0x1 0t0 TCP 127.0.0.1:3000 (LISTEN)\n"
                                        "sshd 11 u 3u IPv6 0x2 0t0 TCP *:3022 (LISTEN)\n"
                                        "ruby 12 u 3u IPv4 0x3 0t0 TCP *:4000 (LISTEN)\n"
                                        "java 13 u 3u IPv6 0x4 0t0 TCP [fd00::5]:5000 (LISTEN)\n"
                                        "cupsd 14 u 3u IPv4 0x5 0t0 TCP 127.0.0.1:631 (LISTEN)\n");
    const QList<ListeningPort> all = parseLsofListing(text);
    QStringList addresses;
    for (const ListeningPort& p : all)
        addresses << p.address;
    EXPECT_EQ(addresses, QStringList({"127.0.0.1", "127.0.0.1", "::", "0.0.0.0", "fd00::5"}));
}
