// The command line's parts that need no process: reading the arguments,
// escaping and laying out the output, and telling starts and stops from
// filter edits.
#include "cli/command_line.h"
#include "cli/command_line_output.h"
#include "config/settings_store.h"
#include "core/server_details.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

QStringList split(const char* text) {
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

TEST(CommandLine, QtDisplayOptionsAloneStartTheTray) {
    const struct {
        std::vector<const char*> argv;
        const char* expected;
    } cases[] = {
        {{"harborwatch"}, ""},
        {{"harborwatch", "-platform", "xcb"}, ""},
        {{"harborwatch", "--platform=offscreen", "-reverse"}, ""},
        {{"harborwatch", "-style", "Fusion", "--list"}, "--list"},
        {{"harborwatch", "-platform", "xcb", "--bogus"}, "--bogus"},
        {{"harborwatch", "-reverse=1"}, "-reverse=1"},
        {{"harborwatch", "extra"}, "extra"},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv;
        for (const char* a : c.argv)
            argv.push_back(const_cast<char*>(a));
        const int argc = int(argv.size());
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(commandLineArguments(argc, argv.data()).join(QLatin1Char(' ')),
                  QString::fromUtf8(c.expected));
        EXPECT_EQ(wantsCommandLine(argc, argv.data()), *c.expected != '\0');
    }
}

TEST(CommandLine, ReadsTheRequestOrNamesWhatIsWrong) {
    using Outcome = ParsedCommandLine::Outcome;
    using Command = CommandLineRequest::Command;
    const struct {
        const char* arguments;
        Outcome outcome;
        Command command;
        const char* textHolds; // for errors: the option or value named
    } cases[] = {
        {"--list", Outcome::Run, Command::List, ""},
        {"--list --json --all", Outcome::Run, Command::List, ""},
        {"--watch --json --initial --range 3000-3999", Outcome::Run, Command::Watch, ""},
        {"--stop 5173 --force", Outcome::Run, Command::Stop, ""},
        {"--help", Outcome::Help, Command::List, "--watch"},
        {"--version", Outcome::Version, Command::List, "harborwatch 1.0"},
        {"--bogus", Outcome::Error, Command::List, "bogus"},
        {"--list --bogus", Outcome::Error, Command::List, "bogus"},
        {"--stop", Outcome::Error, Command::List, "stop"},
        {"--stop 0", Outcome::Error, Command::List, "--stop: '0'"},
        {"--stop 65536", Outcome::Error, Command::List, "--stop: '65536'"},
        {"--stop 80x", Outcome::Error, Command::List, "--stop: '80x'"},
        {"--list --range 4000-3000", Outcome::Error, Command::List, "--range: '4000-3000'"},
        {"--list --range 3000-", Outcome::Error, Command::List, "--range: '3000-'"},
        {"--list --watch", Outcome::Error, Command::List, "--list and --watch"},
        {"--json", Outcome::Error, Command::List, "--json"},
        {"--stop 80 --json", Outcome::Error, Command::List, "--json"},
        {"--list --initial", Outcome::Error, Command::List, "--initial"},
        {"--list --force", Outcome::Error, Command::List, "--force"},
        {"--list extra", Outcome::Error, Command::List, "'extra'"},
        {"--list --host box", Outcome::Run, Command::List, ""},
        {"--stop 80 --host me@box", Outcome::Run, Command::Stop, ""},
        {"--host box --forward 5173:8080", Outcome::Run, Command::Forward, ""},
        {"--host box", Outcome::Error, Command::List, "--host needs a command"},
        {"--forward 5173", Outcome::Error, Command::List, "--forward works only with --host"},
        {"--host -oProxyCommand=x --list", Outcome::Error, Command::List, "--host: '-oProxy"},
        {"--host box --forward 5173:0", Outcome::Error, Command::List, "--forward: '5173:0'"},
        {"--host box --forward 5173 --json", Outcome::Error, Command::List, "--json"},
        {"--host box --forward 5173 --list", Outcome::Error, Command::List, "--list and --forward"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ParsedCommandLine parsed = parseCommandLine(split(c.arguments));
        EXPECT_EQ(parsed.outcome, c.outcome) << parsed.text.toStdString();
        EXPECT_TRUE(parsed.text.contains(QString::fromUtf8(c.textHolds)))
            << parsed.text.toStdString();
        EXPECT_FALSE(parsed.text.endsWith(QLatin1Char('\n')));
        if (c.outcome == Outcome::Run) {
            EXPECT_EQ(parsed.request.command, c.command);
        }
        if (c.outcome == Outcome::Error) {
            EXPECT_FALSE(parsed.text.contains(QLatin1Char('\n')));
        }
    }

    const auto watch = parseCommandLine(split("--watch --range 3000-3999 --all --initial"));
    EXPECT_EQ(watch.request.range, std::pair(qint64(3000), qint64(3999)));
    EXPECT_TRUE(watch.request.all && watch.request.initial && !watch.request.json);
    EXPECT_EQ(parseCommandLine(split("--stop 5173 --force")).request.stopPort, 5173);
    const auto forward = parseCommandLine(split("--host ssh://me@box:2222 --forward 5173"));
    EXPECT_EQ(forward.request.host, "ssh://me@box:2222");
    EXPECT_EQ(forward.request.forward, std::pair(qint64(5173), qint64(0)));
    EXPECT_TRUE(parseCommandLine(split("--stop 5173 --force")).request.force);
    EXPECT_EQ(parseCommandLine(split("--list --range 8080")).request.range,
              std::pair(qint64(8080), qint64(8080)));
}

TEST(CommandLineOutput, QuotesArgumentsThatAShellWouldSplit) {
    EXPECT_EQ(shellCommandText({QStringLiteral("/usr/bin/node"), QStringLiteral("server.js"),
                                QStringLiteral("--port=3000")}),
              QStringLiteral("/usr/bin/node server.js --port=3000"));
    EXPECT_EQ(shellCommandText({QStringLiteral("python3"), QStringLiteral("my app.py"), QString(),
                                QStringLiteral("it's")}),
              QStringLiteral("python3 'my app.py' '' 'it'\\''s'"));
}

TEST(CommandLineOutput, TableIsAlignedAndCutToTheTerminal) {
    QList<ServerRow> rows = {
        {5173, 42, QStringLiteral("node"), QStringLiteral("http://localhost:5173"),
         QStringLiteral("127.0.0.1"), QStringLiteral("shop"), QStringLiteral("/home/ann/shop"),
         QStringList{QStringLiteral("node"), QStringLiteral("vite"), QStringLiteral("--port"),
                     QStringLiteral("5173")},
         std::nullopt, QStringLiteral("Vite")},
        {8000, 31337, QStringLiteral("python\n3"), QStringLiteral("http://localhost:8000"),
         QStringLiteral("::")},
    };
    rows.first().title = QStringLiteral("Vite + React");
    // clang-format off
    EXPECT_EQ(serverTable(rows).toStdString(),
              "PORT  PID    NAME         FRAMEWORK  PROJECT  URL                    TITLE         COMMAND\n"
              "5173  42     node         Vite       shop     http://localhost:5173  Vite + React  node vite --port 5173\n"
              "8000  31337  python\\x0a3  -          -        http://localhost:8000  -             -\n");
    EXPECT_EQ(serverTable(rows, 95).section(QLatin1Char('\n'), 1, 1).toStdString(),
              "5173  42     node         Vite       shop     http://localhost:5173  Vite + React  node vite -…");
    // clang-format on
    EXPECT_EQ(serverTable({}, 80).toStdString(),
              "PORT  PID  NAME  FRAMEWORK  PROJECT  URL  TITLE  COMMAND\n");
}

TEST(CommandLineOutput, JsonHasEveryKeyWithNullForTheUnknown) {
    const ServerRow known{5173,
                          42,
                          QStringLiteral("my\nnode"),
                          QStringLiteral("http://localhost:5173"),
                          QStringLiteral("127.0.0.1"),
                          QStringLiteral("shop"),
                          QStringLiteral("/home/ann/shop"),
                          QStringList{QStringLiteral("node"), QStringLiteral("a b")},
                          QDateTime(QDate(2026, 3, 1), QTime(9, 30, 5), Qt::UTC),
                          QStringLiteral("Vite"),
                          ContainerFacts{QStringLiteral("0123456789abcdef"),
                                         QStringLiteral("shop-web-1"), QStringLiteral("node:20"),
                                         QStringLiteral("shop"), QStringLiteral("web"),
                                         QStringLiteral("Docker")}};
    const QJsonObject full = serverJson(known);
    EXPECT_EQ(full.value(QStringLiteral("port")).toInteger(), 5173);
    EXPECT_EQ(full.value(QStringLiteral("pid")).toInteger(), 42);
    EXPECT_EQ(full.value(QStringLiteral("process")).toString(), QStringLiteral("my\nnode"));
    EXPECT_EQ(full.value(QStringLiteral("command")).toArray(),
              QJsonArray({QStringLiteral("node"), QStringLiteral("a b")}));
    EXPECT_EQ(full.value(QStringLiteral("started")).toString(),
              QStringLiteral("2026-03-01T09:30:05Z"));
    EXPECT_EQ(full.value(QStringLiteral("framework")).toString(), QStringLiteral("Vite"));
    EXPECT_EQ(full.value(QStringLiteral("container")).toObject(),
              QJsonObject({{"id", "0123456789abcdef"},
                           {"name", "shop-web-1"},
                           {"image", "node:20"},
                           {"project", "shop"},
                           {"service", "web"}}));

    const QJsonObject sparse = serverJson({8000, 7, QStringLiteral("x"), {}, {}});
    EXPECT_EQ(sparse.keys(),
              QStringList(
                  {QStringLiteral("address"), QStringLiteral("command"),
                   QStringLiteral("container"), QStringLiteral("folder"), QStringLiteral("forward"),
                   QStringLiteral("framework"), QStringLiteral("host"), QStringLiteral("pid"),
                   QStringLiteral("port"), QStringLiteral("probe"), QStringLiteral("process"),
                   QStringLiteral("project"), QStringLiteral("started"), QStringLiteral("url")}));
    for (const char* key : {"project", "folder", "command", "started", "framework", "container",
                            "host", "probe", "forward"})
        EXPECT_TRUE(sparse.value(QLatin1String(key)).isNull()) << key;

    // What answered: its state, and its status and title or null.
    ServerRow looked = known;
    PortAnswer answer;
    answer.kind = PortAnswer::Kind::Https;
    answer.status = 200;
    answer.title = QStringLiteral("Vite App");
    looked.probe = answer;
    EXPECT_EQ(serverJson(looked).value(QStringLiteral("probe")).toObject(),
              QJsonObject({{"state", "https"}, {"status", 200}, {"title", "Vite App"}}));
    answer.kind = PortAnswer::Kind::Silent;
    answer.status = 0;
    answer.title.clear();
    looked.probe = answer;
    EXPECT_EQ(
        serverJson(looked).value(QStringLiteral("probe")).toObject(),
        QJsonObject({{"state", "silent"}, {"status", QJsonValue()}, {"title", QJsonValue()}}));

    ServerRow remote{5173, 9, QStringLiteral("node"), QStringLiteral("http://localhost:5173"), {}};
    remote.host = QStringLiteral("box");
    EXPECT_EQ(serverJson(remote).value(QStringLiteral("host")).toString(), QStringLiteral("box"));
    remote.forward = PortForward{5173, 5174, ForwardState::NoServer};
    EXPECT_EQ(serverJson(remote).value(QStringLiteral("forward")).toObject(),
              QJsonObject({{"local", 5174}, {"state", "no server"}}));
    EXPECT_EQ(forwardStateLine(*remote.forward), "forward 5173 -> localhost:5174 no server\n");
    EXPECT_TRUE(serverTable({remote}).contains(QStringLiteral("\nbox:5173  9")));
}

// One long value (a container's 231-character name, a host's long name)
// leaves the other rows as narrow as the capped values make them.
TEST(CommandLineOutput, LongValuesAreCutSoThatNoRowIsPaddedByThem) {
    ServerRow db{5432,
                 0,
                 QStringLiteral("shop-") + QString(221, QLatin1Char('a')) + QStringLiteral("-db-1"),
                 QStringLiteral("http://localhost:5432"),
                 QStringLiteral("0.0.0.0"),
                 QStringLiteral("shop"),
                 std::nullopt,
                 QStringList{QStringLiteral("docker-entrypoint.sh"), QStringLiteral("postgres")}};
    ServerRow vite{5173,
                   42,
                   QStringLiteral("node"),
                   QStringLiteral("http://[fd00:1234:5678:9abc:def0:1234:5678:9abc]:5173"),
                   QStringLiteral("fd00:1234:5678:9abc:def0:1234:5678:9abc"),
                   QStringLiteral("a-project-whose-name-goes-on-and-on"),
                   std::nullopt,
                   std::nullopt,
                   std::nullopt,
                   QStringLiteral("Vite (and a plugin or two)")};
    vite.host = QStringLiteral("the-build-server-in-the-basement.example.com");
    vite.title = QStringLiteral("Vite + React, and a title that goes on and on");
    ASSERT_EQ(db.process.size(), 231);
    // clang-format off
    EXPECT_EQ(serverTable({db, vite}).toStdString(),
              "PORT                              PID  NAME                              FRAMEWORK             PROJECT                   URL                                               TITLE                             COMMAND\n"
              "5432                              0    shop-aaaaaaaaaaa…aaaaaaaaaa-db-1  -                     shop                      http://localhost:5432                             -                                 docker-entrypoint.sh postgres\n"
              "the-build-ser…t.example.com:5173  42   node                              Vite (and a plugin …  a-project-wh…s-on-and-on  http://[fd00:1234:5678:9…f0:1234:5678:9abc]:5173  Vite + React, and a title that …  -\n");
    // clang-format on
}

TEST(CommandLineOutput, WatchLines) {
    const ListeningPort server{5173, 42, QStringLiteral("no\tde")};
    const QDateTime at(QDate(2026, 3, 1), QTime(9, 30, 5), Qt::UTC);
    EXPECT_EQ(watchLine(ServerEvent::Started, server, false, at), "started 5173 42 no\\x09de\n");
    EXPECT_EQ(watchLine(ServerEvent::Stopped, server, true, at),
              "{\"event\":\"stopped\",\"pid\":42,\"port\":5173,\"process\":\"no\\tde\","
              "\"time\":\"2026-03-01T09:30:05Z\"}\n");
    ListeningPort remote = server;
    remote.host = QStringLiteral("box");
    EXPECT_EQ(watchLine(ServerEvent::Started, remote, false, at),
              "started box:5173 42 no\\x09de\n");
    EXPECT_TRUE(watchLine(ServerEvent::Started, remote, true, at).contains("\"host\":\"box\""));
    EXPECT_EQ(problemEventLine(SourceId::of(SourceId::Kind::Containers),
                               QStringLiteral("Containers unavailable: Docker does not answer"),
                               at),
              "{\"event\":\"problem\",\"source\":\"containers\",\"text\":\"Containers "
              "unavailable: Docker does not answer\",\"time\":\"2026-03-01T09:30:05Z\"}\n");
    EXPECT_EQ(
        problemEventLine(SourceId::ofHost("box"), std::nullopt, at),
        "{\"event\":\"problem-ended\",\"source\":\"ssh:box\",\"time\":\"2026-03-01T09:30:05Z\"}\n");
}

// The command line reads the settings as the tray does, and --all and
// --range change what it lists for one call. The sources in force are the
// set's to name (see SourceSet::identity()).
TEST(CommandLine, StoredSettingsMeanWhatTheyMeanToTheTray) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"minPort": 0, "maxPort": 8000, "allowlist": ["node", 1], "lister": "lsof"})");
    file.close();
    const settings::Values stored = SettingsStore(path).values();
    const QSet<QString> defaults = settings::defaultAllowlist();
    const auto request = [](const char* arguments) {
        return parseCommandLine(split(arguments)).request;
    };
    EXPECT_EQ(filterFor(request("--list"), stored), (ScanFilter{3000, 8000, defaults, {}}));
    EXPECT_EQ(filterFor(request("--watch --range 80-90"), stored),
              (ScanFilter{80, 90, defaults, {}}));
    EXPECT_EQ(filterFor(request("--list --all"), stored), (ScanFilter{1, 65535, std::nullopt, {}}));
    EXPECT_EQ(filterFor(request("--stop 80 --all --range 80"), stored),
              (ScanFilter{80, 80, std::nullopt, {}}));
}
