// The desktop's search on a private session bus: the program's providers
// asked over D-Bus as GNOME Shell and KRunner ask them, against a monitor whose
// source the test drives.
#include "app/tray_program.h"

#include "config/settings_store.h"
#include "monitor/port_monitor.h"
#include "platform/desktop_notifier.h"
#include "platform/search_providers.h"
#include "support/fake_source.h"
#include "test_support.h"
#include "window/servers_window.h"

#include <QClipboard>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

// Receives the URLs that QDesktopServices::openUrl hands to the browser.
class SearchBrowser : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

namespace {

const QString gnomeInterface = QStringLiteral("org.gnome.Shell.SearchProvider2");
const QString krunnerInterface = QStringLiteral("org.kde.krunner1");

// A KRunner match as it comes over the bus.
struct Match {
    QString id;
    QString text;
    int type = 0;
    QVariantMap properties;
};

QList<Match> matchesOf(const QVariant& reply) {
    QList<Match> matches;
    const QDBusArgument array = reply.value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        Match match;
        QString icon;
        double relevance = 0;
        array.beginStructure();
        array >> match.id >> match.text >> icon >> match.type >> relevance >> match.properties;
        array.endStructure();
        matches << match;
    }
    array.endArray();
    return matches;
}

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(bus.isRunning());
        ASSERT_TRUE(programBus.isConnected());
        ASSERT_TRUE(shell.isConnected());
        ASSERT_TRUE(providers.exportObjects());
        ASSERT_TRUE(programBus.registerService(QStringLiteral("io.harborwatch.Harborwatch")));
        providers.setCatalog(program.searchCatalog());
        QObject::connect(&program.monitor(), &PortMonitor::portsChanged, &providers,
                         &SearchProviders::setReady);
        script->details = [](const ListeningPort& port) {
            ServerDetails details;
            details.framework = port.port == 5173 ? QStringLiteral("Vite") : QString();
            details.project = QStringLiteral("shop-frontend");
            return details;
        };
    }
    void TearDown() override {
        providers.setCatalog({});
        QDBusConnection::disconnectFromBus(QStringLiteral("search-program"));
        QDBusConnection::disconnectFromBus(QStringLiteral("search-shell"));
    }

    void publish(const QList<ListeningPort>& ports) {
        program.startMonitor();
        program.monitor().scan();
        ASSERT_TRUE(script->complete({ports}));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !program.monitor().details(ports.first()).project.isEmpty(); }));
    }
    // Asks as the shell does, without blocking this thread (the provider
    // answers on it).
    QDBusPendingCall ask(const QString& path, const QString& interface, const QString& method,
                         const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("io.harborwatch.Harborwatch"), path, interface, method);
        call.setArguments(arguments);
        return shell.asyncCall(call);
    }
    QVariantList answer(const QString& path, const QString& interface, const QString& method,
                        const QVariantList& arguments = {}) {
        QDBusPendingCall pending = ask(path, interface, method, arguments);
        if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 10000))
            return {QStringLiteral("no answer")};
        return pending.reply().arguments();
    }
    QVariantList gnome(const QString& method, const QVariantList& arguments) {
        return answer(SearchProviders::gnomePath, gnomeInterface, method, arguments);
    }
    QVariantList krunner(const QString& method, const QVariantList& arguments = {}) {
        return answer(SearchProviders::krunnerPath, krunnerInterface, method, arguments);
    }

    QTemporaryDir dir;
    PrivateSessionBus bus;
    QDBusConnection programBus =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("search-program"));
    QDBusConnection shell =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("search-shell"));
    SettingsStore store{dir.filePath(QStringLiteral("settings.json"))};
    std::shared_ptr<FakeSourceState> script = std::make_shared<FakeSourceState>();
    DesktopNotifier notifier{QDBusConnection(QStringLiteral("none"))};
    TrayProgram program{store, notifier, fakeRegistry(script)};
    SearchProviders providers{programBus};
    SearchBrowser browser;
};

} // namespace

// GNOME Shell: result set, subsearch, metas, activation, and the search
// launched into the Servers window.
TEST_F(SearchTest, GnomeShellFindsDescribesAndOpensAServer) {
    publish({{3000, 40, "ruby"}, {5173, 41, "node"}, {8000, 42, "python3"}});
    const QString vite = QStringLiteral("5173:41:0:");
    const struct {
        QStringList terms;
        QStringList ids;
    } searches[] = {
        {{"5173"}, {vite}},         {{"vite"}, {vite}},
        {{"SHOP", "node"}, {vite}}, {{"shop"}, {"3000:40:0:", vite, "8000:42:0:"}},
        {{"8000"}, {"8000:42:0:"}}, {{"nothing"}, {}},
    };
    for (const auto& search : searches) {
        SCOPED_TRACE(search.terms.join(' ').toStdString());
        EXPECT_EQ(gnome("GetInitialResultSet", {search.terms}), QVariantList{QVariant(search.ids)});
    }
    EXPECT_EQ(gnome("GetSubsearchResultSet",
                    {QStringList{"3000:40:0:", vite}, QStringList{"shop", "vite"}}),
              QVariantList{QStringList{vite}});

    const QVariantList metas = gnome("GetResultMetas", {QStringList{vite, "9999:1:0:"}});
    ASSERT_EQ(metas.size(), 1);
    const auto described = qdbus_cast<QList<QVariantMap>>(metas.first());
    ASSERT_EQ(described.size(), 1);
    EXPECT_EQ(described[0].value("id"), vite);
    EXPECT_EQ(described[0].value("name"), QStringLiteral("5173 · Vite — shop-frontend"));
    EXPECT_EQ(described[0].value("description"), QStringLiteral("http://localhost:5173"));
    EXPECT_EQ(described[0].value("clipboardText"), QStringLiteral("http://localhost:5173"));

    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    gnome("ActivateResult", {vite, QStringList{"5173"}, 0u});
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    EXPECT_EQ(browser.opened, QList<QUrl>{QUrl(QStringLiteral("http://localhost:5173"))});

    gnome("LaunchSearch", {QStringList{"shop", "vite"}, 0u});
    ASSERT_NE(program.serversWindow(), nullptr);
    EXPECT_TRUE(program.serversWindow()->isVisible());
    EXPECT_EQ(program.serversWindow()->filterField()->text(), QStringLiteral("shop vite"));
}

// KRunner: matches with their subtext, the actions it offers, and running
// each of them.
TEST_F(SearchTest, KRunnerMatchesAndRunsItsActions) {
    publish({{5173, 41, "node"}, {51730, 43, "node"}});
    const QList<Match> matches = matchesOf(krunner("Match", {QStringLiteral("5173")}).value(0));
    ASSERT_EQ(matches.size(), 2);
    EXPECT_EQ(matches[0].id, QStringLiteral("5173:41:0:"));
    EXPECT_EQ(matches[0].text, QStringLiteral("5173 · Vite — shop-frontend"));
    EXPECT_EQ(matches[0].type, 100); // the port typed whole: an exact match
    EXPECT_EQ(matches[0].properties.value("subtext"), QStringLiteral("http://localhost:5173"));
    EXPECT_EQ(matches[1].text, QStringLiteral("51730 · node — shop-frontend"));
    EXPECT_EQ(matches[1].type, 30);
    EXPECT_TRUE(matchesOf(krunner("Match", {QStringLiteral("  ")}).value(0)).isEmpty());

    const QDBusArgument actions = krunner("Actions").value(0).value<QDBusArgument>();
    QStringList offered;
    actions.beginArray();
    while (!actions.atEnd()) {
        QString id, text, icon;
        actions.beginStructure();
        actions >> id >> text >> icon;
        actions.endStructure();
        offered << id + "=" + text;
    }
    actions.endArray();
    EXPECT_EQ(offered, QStringList({"copy=Copy URL", "stop=Stop Server"}));

    krunner("Run", {matches[1].id, QStringLiteral("copy")});
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("http://localhost:51730"));
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    krunner("Run", {matches[0].id, QString()});
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    EXPECT_EQ(browser.opened, QList<QUrl>{QUrl(QStringLiteral("http://localhost:5173"))});
    krunner("Run", {matches[0].id, QStringLiteral("stop")});
    EXPECT_EQ(script->stoppedPids, QList<qint64>{41});
    // A result whose process is gone stops nothing.
    krunner("Run", {QStringLiteral("5173:999:0:"), QStringLiteral("stop")});
    EXPECT_EQ(script->stoppedPids, QList<qint64>{41});
}

// A search that comes before the program has a list (it was just started,
// maybe by the search itself) starts the monitor and is answered once the
// first list is there, never as a machine without servers.
TEST_F(SearchTest, AFirstSearchWaitsForTheFirstList) {
    EXPECT_FALSE(program.monitor().isStarted());
    QDBusPendingCall pending =
        ask(SearchProviders::gnomePath, gnomeInterface, QStringLiteral("GetInitialResultSet"),
            {QStringList{QStringLiteral("5173")}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return script->isRunning(); }, 5000));
    EXPECT_TRUE(program.monitor().isStarted());
    EXPECT_FALSE(pending.isFinished());
    ASSERT_TRUE(script->complete({{{5173, 41, "node"}}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 5000));
    EXPECT_EQ(pending.reply().arguments(), QVariantList{QStringList{"5173:41:0:"}});
}

#include "search_test.moc"
