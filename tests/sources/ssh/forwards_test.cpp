// Forwards as the program keeps them, against a real sshd (as root in a
// private network namespace, else as the user): they come back after a
// restart, tell whether traffic passes, follow their server and their host,
// and forward a host's new servers. Skips where no sshd can run.
#include "private_sshd.h"

#include "config/settings_store.h"
#include "core/presentation.h"
#include "monitor/forwards.h"
#include "monitor/port_monitor.h"
#include "sources/ssh/ssh_source.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

// The program's model as the tray has it, from a settings file: started at
// once, gone (with its forwards and ssh processes) when destroyed, as at Quit.
struct Program {
    explicit Program(const QString& settingsPath)
        : store(settingsPath), monitor(store), forwards(monitor) {
        forwards.publishStates(forwardStatesPath());
        monitor.start();
    }

    std::optional<PortForward> forwardOf(const QString& host, qint64 remotePort) const {
        for (const PortForward& f : forwards.of(host)) {
            if (f.remotePort == remotePort)
                return f;
        }
        return std::nullopt;
    }
    bool lists(const QString& host, qint64 port) const {
        return std::any_of(
            monitor.ports().cbegin(), monitor.ports().cend(),
            [&](const ListeningPort& p) { return p.host == host && p.port == port; });
    }
    // Waits until the forward of the port has `state` (and, when given, that
    // local port).
    bool waitFor(const QString& host, qint64 port, ForwardState state, qint64 local = 0,
                 int ms = 20000) const {
        return QTest::qWaitFor(
            [&] {
                const auto f = forwardOf(host, port);
                return f && f->state == state && (local == 0 || f->localPort == local);
            },
            ms);
    }

    SettingsStore store;
    PortMonitor monitor;
    Forwards forwards;
};

void writeSettings(const QString& path, const QJsonObject& object) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(object).toJson());
}

class ForwardsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const QString skip = host.start(); !skip.isEmpty())
            GTEST_SKIP() << qPrintable(skip);
        destination = host.destination();
        settingsPath = host.dir + QStringLiteral("/config/settings.json");
        node = std::make_unique<ListenerProcess>(QStringLiteral("node"), QStringLiteral("0"),
                                                 QStringList{QStringLiteral("--greet")});
        ASSERT_TRUE(node->isListening());
        port = node->port();
        writeSettings(settingsPath, {{"hosts", QJsonArray{destination}},
                                     {"allowlist", QJsonArray{"node"}},
                                     {"minPort", 1},
                                     {"maxPort", 65535},
                                     {"containers", false},
                                     {"probe", false}});
        // An sshd of an ordinary user lets in only that user, with a login shell.
        SshSource probe(destination);
        const ScanResult result = scanAndWait(probe, ScanFilter{1, 65535, std::nullopt});
        if (!host.root && !result.ok())
            GTEST_SKIP() << "cannot log in to an sshd run as " << qPrintable(host.user) << ": "
                         << qPrintable(result.error);
        ASSERT_TRUE(result.ok()) << qPrintable(result.error);
    }

    PrivateSshd host;
    QString destination;
    QString settingsPath;
    std::unique_ptr<ListenerProcess> node;
    qint64 port = 0;
};

} // namespace

// Made once, a forward is there again after a restart on the same local
// port; it tells when its server stops and when its host goes, and comes
// back by itself with both. The command line reads its state.
TEST_F(ForwardsTest, ComeBackAfterARestartAndTellWhetherTrafficPasses) {
    qint64 local = 0;
    {
        Program first(settingsPath);
        ASSERT_TRUE(QTest::qWaitFor([&] { return first.lists(destination, port); }, 20000));
        bool made = false;
        first.forwards.forward(destination, port, 0, [&](qint64 got, const QString& error) {
            local = got;
            made = true;
            EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return made; }, 20000));
        // The server's own port is taken here: it runs on this machine.
        ASSERT_GT(local, 0);
        ASSERT_TRUE(first.waitFor(destination, port, ForwardState::Ok));
        EXPECT_EQ(first.store.get(settings::forwards),
                  settings::StoredForwards({{destination, port, local}}));
    }
    // Quit: the forward went with the program.
    EXPECT_TRUE(greeting(local).isEmpty());

    Program again(settingsPath);
    ASSERT_TRUE(again.waitFor(destination, port, ForwardState::Ok, local))
        << "not set up again on " << local;
    EXPECT_EQ(greeting(local), "hello from node\n");
    // The command line sees what the program holds.
    QProcess list;
    list.start(QStringLiteral(HW_PROGRAM_PATH),
               {QStringLiteral("--host"), destination, QStringLiteral("--list"),
                QStringLiteral("--json"), QStringLiteral("--all")});
    ASSERT_TRUE(list.waitForFinished(30000));
    const QByteArray listed = list.readAllStandardOutput();
    std::printf("harborwatch --host %s --list --json --all\n%s", qPrintable(destination),
                listed.constData());
    bool shown = false;
    for (const QJsonValue& row : QJsonDocument::fromJson(listed).array()) {
        const QJsonObject server = row.toObject();
        if (server.value("port").toInteger() != port)
            continue;
        shown = true;
        EXPECT_EQ(server.value("forward").toObject(),
                  (QJsonObject{{"local", local}, {"state", "ok"}}));
    }
    EXPECT_TRUE(shown) << listed.toStdString();

    // The server stops: nothing answers through the forward...
    node.reset();
    ASSERT_TRUE(again.waitFor(destination, port, ForwardState::NoServer));
    EXPECT_EQ(orphanForwardTitle(*again.forwardOf(destination, port)),
              QStringLiteral("%1 → localhost:%2 (nothing answers)").arg(port).arg(local));
    // ...until it is back.
    node = std::make_unique<ListenerProcess>(QStringLiteral("node"), QString::number(port),
                                             QStringList{QStringLiteral("--greet")});
    ASSERT_TRUE(node->isListening());
    ASSERT_TRUE(again.waitFor(destination, port, ForwardState::Ok, local));

    // The host goes: reconnecting, then the same forward again.
    host.sshd->stop();
    ASSERT_TRUE(again.waitFor(destination, port, ForwardState::Reconnecting));
    ASSERT_TRUE(host.sshd->start());
    ASSERT_TRUE(again.waitFor(destination, port, ForwardState::Ok, local, 60000));
    EXPECT_EQ(greeting(local), "hello from node\n");
}

// A stored forward whose port is taken here comes back on another one, and
// says so; with "restoreForwards" off none comes back; a host of
// "autoForward" has its new servers forwarded at once.
TEST_F(ForwardsTest, RestoreElsewhereOrNotAtAllAndForwardNewServers) {
    ListenerProcess taken(QStringLiteral("other"));
    ASSERT_TRUE(taken.isListening());
    SettingsStore(settingsPath).set(settings::forwards, {{destination, port, taken.port()}});
    {
        Program program(settingsPath);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const auto f = program.forwardOf(destination, port);
                return f && f->state == ForwardState::Ok;
            },
            20000));
        const PortForward f = *program.forwardOf(destination, port);
        EXPECT_NE(f.localPort, taken.port());
        EXPECT_EQ(f.wantedPort, taken.port());
        EXPECT_EQ(greeting(f.localPort), "hello from node\n");
        // Still asking for its own port next time.
        EXPECT_EQ(program.store.get(settings::forwards),
                  settings::StoredForwards({{destination, port, taken.port()}}));
    }

    SettingsStore(settingsPath).set(settings::restoreForwards, false);
    SettingsStore(settingsPath).set(settings::autoForward, {destination});
    Program program(settingsPath);
    ASSERT_TRUE(QTest::qWaitFor([&] { return program.lists(destination, port); }, 20000));
    // A server that started before is no new server.
    QTest::qWait(3000);
    EXPECT_TRUE(program.forwards.of(destination).isEmpty());

    ListenerProcess started(QStringLiteral("node"), QStringLiteral("0"),
                            {QStringLiteral("--greet")});
    ASSERT_TRUE(started.isListening());
    ASSERT_TRUE(program.waitFor(destination, started.port(), ForwardState::Ok));
    const qint64 local = program.forwardOf(destination, started.port())->localPort;
    EXPECT_EQ(greeting(local), "hello from node\n");
    EXPECT_EQ(program.forwards.of(destination).size(), 1);
}
