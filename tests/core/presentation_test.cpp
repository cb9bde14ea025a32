// How a server is told, the same for every front end.
#include "core/presentation.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>

TEST(Presentation, UptimeElisionAndLines) {
    const struct {
        qint64 seconds;
        const char* text;
    } uptimes[] = {{0, "up 0 s"},    {59, "up 59 s"},    {60, "up 1 min"},  {3599, "up 59 min"},
                   {3600, "up 1 h"}, {86399, "up 23 h"}, {86400, "up 1 d"}, {400000, "up 4 d"}};
    for (const auto& c : uptimes)
        EXPECT_EQ(uptimeText(c.seconds), QLatin1String(c.text));

    const ServerDetails full{
        QDir::homePath() + "/src/shop", "shop", {"node", "x"}, "node x\nserver", 0, "::1"};
    EXPECT_EQ(ServerPresentation({3000, 42, "node"}, full).detailLines(),
              QStringList({"shop — ~/src/shop", "node x\\x0aserver", "PID 42 · ::1"}));
    EXPECT_EQ(ServerPresentation({3000, 42, "node"}, {}).detailLines(), QStringList{"PID 42"});

    // A container: no pid of its own; image, compose service and short id first.
    ServerDetails container{QDir::homePath() + "/src/shop", "shop", {}, "postgres", 0, "0.0.0.0"};
    container.framework = "Vite";
    container.container =
        ContainerFacts{"0123456789abcdef0123", "shop-db-1", "postgres:16", "shop", "db", "Docker"};
    EXPECT_EQ(ServerPresentation({5432, 0, "shop-db-1"}, container, {"Database"}).detailLines(),
              QStringList({"Database · Vite", "postgres:16 · shop/db", "container 0123456789ab",
                           "shop — ~/src/shop", "postgres", "0.0.0.0"}));
}

// The row, the tooltip line and the URL: the label wins over the framework,
// the user's scheme over the server's, an address only reachable as itself
// is used as it is.
TEST(Presentation, TitleToolTipAndUrl) {
    ServerDetails vite;
    vite.framework = "Vite";
    vite.project = "shop";
    vite.https = true;
    const struct {
        ListeningPort record;
        ServerDetails details;
        ServerChoice choice;
        const char* title;
        const char* toolTip;
        const char* url;
    } rows[] = {
        {{3000, 1, "node"}, {}, {}, "3000 - node", "3000  node", "http://localhost:3000"},
        {{5173, 1, "node"},
         vite,
         {},
         "5173 - node · Vite",
         "5173  node · Vite — shop",
         "https://localhost:5173"},
        {{5173, 1, "node"},
         vite,
         {"Shop", false},
         "5173 - node · Shop",
         "5173  node · Shop — shop",
         "http://localhost:5173"},
        {{8080, 1, "python3", 0, "192.168.1.20"},
         {},
         {{}, true},
         "8080 - python3",
         "8080  python3",
         "https://192.168.1.20:8080"},
        {{9000, 1, "a&b\x1b"},
         {},
         {"A label far too long for any menu row"},
         "9000 - a&b\\x1b · A label far too long fo…",
         "9000  a&b\\x1b · A label far too long for "
         "any menu row",
         "http://localhost:9000"},
    };
    for (const auto& row : rows) {
        const ServerPresentation shown(row.record, row.details, row.choice);
        SCOPED_TRACE(row.title);
        EXPECT_EQ(shown.title(), QString::fromUtf8(row.title));
        EXPECT_EQ(shown.toolTipLine(), QString::fromUtf8(row.toolTip));
        EXPECT_EQ(shown.url(), QString::fromUtf8(row.url));
    }
    // Names go through the caller's escaping; the program's own text does not.
    const auto doubled = [](const QString& text) { return QString(text).replace("&", "&&"); };
    EXPECT_EQ(ServerPresentation({9000, 1, "a&b"}, {}, {"x&y"}).title(doubled),
              "9000 - a&&b · x&&y");
}

// A split port's two holders are named by their addresses and reached by them.
TEST(Presentation, ASplitPortIsReachedByItsAddress) {
    ListeningPort v6{3000, 20, "node", 0, "::1"};
    v6.split = true;
    const ServerPresentation shown(v6, {});
    EXPECT_EQ(shown.title(), "3000 - node · ::1 only");
    EXPECT_EQ(shown.toolTipLine(), "3000  node · ::1 only");
    EXPECT_EQ(shown.url(), "http://[::1]:3000");
    v6.address = "127.0.0.1";
    EXPECT_EQ(ServerPresentation(v6, {}).url(), "http://127.0.0.1:3000");
}

TEST(Presentation, HostsAndForwards) {
    EXPECT_EQ(problemText(SourceId::ofHost("lab"), "Connection refused"),
              "lab: not connected — Connection refused");
    EXPECT_EQ(problemText(SourceId::of(SourceId::Kind::Containers),
                          "Containers unavailable: the engine refused"),
              "Containers unavailable: the engine refused");
    EXPECT_EQ(SourceId::ofHost("me@box").text(), "ssh:me@box");
    EXPECT_EQ(problemEndedText(SourceId::ofHost("me@box")), "me@box: connected");
    EXPECT_EQ(problemEndedText(SourceId::of(SourceId::Kind::Containers)),
              "Containers available again");
}

// A forward's row tells where it leads when that is not the same port, and
// why nothing passes; a forward without its server's row always names its
// local port.
TEST(Presentation, ForwardsTellWhetherTrafficPasses) {
    using S = ForwardState;
    const struct {
        PortForward forward;
        const char* row;
        const char* orphan;
    } rows[] = {
        {{5173, 5173, S::Ok}, "5173 - node", "5173 → localhost:5173"},
        {{5173, 5173, S::Checking}, "5173 - node", "5173 → localhost:5173"},
        {{5173, 5174, S::Ok}, "5173 - node → localhost:5174", "5173 → localhost:5174"},
        {{5173, 5173, S::NoServer},
         "5173 - node → localhost:5173 (nothing answers)",
         "5173 → localhost:5173 (nothing answers)"},
        {{5173, 5174, S::Reconnecting},
         "5173 - node → localhost:5174 (reconnecting…)",
         "5173 → localhost:5174 (reconnecting…)"},
        // Set up again on another port: the one it had was taken.
        {{5173, 5180, S::Ok, 5173},
         "5173 - node → localhost:5180 (5173 was in use)",
         "5173 → localhost:5180 (5173 was in use)"},
        {{5173, 0}, "5173 - node", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        EXPECT_EQ(forwardedTitle("5173 - node", 5173, row.forward), QString::fromUtf8(row.row));
        if (row.forward.localPort > 0) {
            EXPECT_EQ(orphanForwardTitle(row.forward), QString::fromUtf8(row.orphan));
        }
    }
    EXPECT_EQ(forwardStateName(S::NoServer), "no server");
    EXPECT_EQ(forwardStateName(S::Checking), "");
}

// What answered on the port: its title names a server nothing else names,
// its scheme beats the command line's (the user's choice beats both), and a
// server that is no web server is reached by address.
TEST(Presentation, WhatAnswersNamesAndReachesTheServer) {
    const auto answered = [](PortAnswer::Kind kind, int status = 0, QString title = {}) {
        PortAnswer answer;
        answer.kind = kind;
        answer.status = status;
        answer.title = std::move(title);
        ServerDetails details;
        details.answer = answer;
        return details;
    };
    ServerDetails flaggedHttps = answered(PortAnswer::Kind::Http, 200, "Shop");
    flaggedHttps.https = true; // the command line said so; the server did not
    const struct {
        ServerDetails details;
        ServerChoice choice;
        const char* title;
        const char* url;
        bool http;
        const char* address;
        const char* lines;
    } rows[] = {
        {answered(PortAnswer::Kind::Https, 200, "Vite + React"),
         {},
         "5173 - node · Vite + React",
         "https://localhost:5173",
         true,
         "localhost:5173",
         "Vite + React"},
        {flaggedHttps,
         {},
         "5173 - node · Shop",
         "http://localhost:5173",
         true,
         "localhost:5173",
         "Shop"},
        {answered(PortAnswer::Kind::Https),
         {{}, false},
         "5173 - node",
         "http://localhost:5173",
         true,
         "localhost:5173",
         ""},
        {answered(PortAnswer::Kind::Http, 502),
         {"Api"},
         "5173 - node · Api",
         "http://localhost:5173",
         true,
         "localhost:5173",
         "Api | HTTP 502"},
        {answered(PortAnswer::Kind::Other),
         {},
         "5173 - node",
         "http://localhost:5173",
         false,
         "localhost:5173",
         "not HTTP"},
        {answered(PortAnswer::Kind::Silent),
         {},
         "5173 - node (not answering)",
         "http://localhost:5173",
         true,
         "localhost:5173",
         "not answering"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        const ServerPresentation shown({5173, 1, "node"}, row.details, row.choice);
        EXPECT_EQ(shown.title(), QString::fromUtf8(row.title));
        EXPECT_EQ(shown.url(), QString::fromUtf8(row.url));
        EXPECT_EQ(shown.speaksHttp(), row.http);
        EXPECT_EQ(shown.hostAndPort(), QString::fromUtf8(row.address));
        EXPECT_EQ(shown.detailLines().filter(QRegularExpression("^(?!PID)")).join(" | "),
                  QString::fromUtf8(row.lines));
    }
}

// What the desktop's search shows of a server and which terms find it: the
// port, name, framework, label, project and host, each ignoring case.
TEST(Presentation, SearchTitleAndTerms) {
    ServerDetails vite;
    vite.framework = "Vite";
    vite.project = "shop-frontend";
    ListeningPort remote{8080, 7, "python3"};
    remote.host = "me@box";
    const struct {
        ListeningPort record;
        ServerDetails details;
        ServerChoice choice;
        const char* title;
        const char* description;
        QStringList found;
        QStringList notFound;
    } servers[] = {
        {{5173, 1, "node"},
         vite,
         {},
         "5173 · Vite — shop-frontend",
         "http://localhost:5173",
         {"5173", "517", "VITE", "node", "shop", "vite shop"},
         {"5174", "box", "vite django"}},
        {{5173, 1, "node"},
         vite,
         {"Storefront"},
         "5173 · Storefront — shop-frontend",
         "http://localhost:5173",
         {"storefront", "vite"},
         {"next"}},
        {{3000, 1, "ruby"},
         {},
         {},
         "3000 · ruby",
         "http://localhost:3000",
         {"ruby", "30"},
         {"shop"}},
        {remote,
         {},
         {},
         "8080 · python3 — me@box",
         "me@box:8080",
         {"box", "python3 8080"},
         {"localhost"}},
    };
    for (const auto& s : servers) {
        const ServerPresentation shown(s.record, s.details, s.choice);
        SCOPED_TRACE(s.title);
        EXPECT_EQ(shown.searchTitle(), QString::fromUtf8(s.title));
        EXPECT_EQ(shown.searchDescription(), QString::fromUtf8(s.description));
        for (const QString& terms : s.found)
            EXPECT_TRUE(shown.matches(terms.split(' '))) << terms.toStdString();
        for (const QString& terms : s.notFound)
            EXPECT_FALSE(shown.matches(terms.split(' '))) << terms.toStdString();
    }
    EXPECT_TRUE(ServerPresentation({3000, 1, "ruby"}, {}).matches({}));
}
