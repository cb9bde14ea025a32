// The tray menu against a real monitor whose scanner the test drives.
#include "app/tray_menu.h"
#include "app/tray_program.h"

#include "config/settings_store.h"
#include "monitor/port_monitor.h"
#include "monitor/stop_controller.h"
#include "platform/desktop_notifier.h"
#include "settings/settings_window.h"
#include "sources/lsof/lister.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "window/servers_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// The menu as text: "---" for a separator, "(disabled) " before an inert
// line, "title > item | item" for a submenu.
QStringList describe(const QMenu* menu) {
    QStringList items;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            items << QStringLiteral("---");
        else if (const QMenu* submenu = action->menu())
            items << action->text() + QStringLiteral(" > ") + describe(submenu).join(" | ");
        else
            items << (action->isEnabled() ? QString() : QStringLiteral("(disabled) ")) +
                         action->text();
    }
    return items;
}

const QStringList commands{"---", "Refresh", "Servers…", "Settings...", "---", "Quit"};
// A server's submenu when nothing but the pid is known of its process.
QString serverItems(qint64 pid) {
    return QStringLiteral("(disabled) PID %1 | --- | Open in Browser | Copy URL | (disabled) Open "
                          "Folder | --- | Label… | Use HTTPS | Notify | --- | Stop Server")
        .arg(pid);
}

QAction* find(const QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

// Receives the URLs that QDesktopServices::openUrl hands to the browser.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class TrayMenuTestBase : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // One scan of the monitor that ends with these records.
    void publish(const QList<ListeningPort>& ports) {
        monitor.scan();
        ASSERT_TRUE(script->complete({ports}));
    }
    void fail(ListerError error) {
        monitor.scan();
        ASSERT_TRUE(script->fail(describeListerError(error)));
    }
    int scansStarted() const { return int(script->requests.size()); }
    QStringList items() const { return describe(tray.menu()); }
    QMenu* submenu(int index) const { return tray.menu()->actions().value(index)->menu(); }

    QTemporaryDir dir;
    SettingsStore store{dir.filePath(QStringLiteral("settings.json"))};
    std::shared_ptr<FakeSourceState> script = std::make_shared<FakeSourceState>();
    // Notifications go nowhere: no bus.
    DesktopNotifier notifier{QDBusConnection(QStringLiteral("none"))};
    TrayProgram program{store, notifier, fakeRegistry(script)};
    PortMonitor& monitor = program.monitor();
    TrayMenu& tray = program.menu();
};

// Records of made-up pids: nothing is known of them.
using TrayMenuTest = TrayMenuTestBase;

TEST_F(TrayMenuTest, EmptyListShowsTheInertLineThenTheCommands) {
    const QStringList expected = QStringList{"(disabled) No ports running"} + commands;
    EXPECT_EQ(items(), expected);
    publish({});
    EXPECT_EQ(items(), expected);
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — no servers"));
}

TEST_F(TrayMenuTest, RecordsBecomeSubmenusInTheMonitorsOrder) {
    publish({{3000, 11, "node"}});
    EXPECT_EQ(items(), QStringList{"3000 - node > " + serverItems(11)} + commands);
    for (const QAction* action : submenu(0)->actions())
        EXPECT_TRUE(action->shortcut().isEmpty()) << action->text().toStdString();
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — 1 server listening\n3000  node"));

    // The menu follows the list as published (ascending by port), not the
    // order a source reported.
    publish({{8080, 30, "python3"}, {3000, 11, "node"}, {5173, 20, "vite"}});
    EXPECT_EQ(items(),
              QStringList({"3000 - node > " + serverItems(11), "5173 - vite > " + serverItems(20),
                           "8080 - python3 > " + serverItems(30)}) +
                  commands);
    EXPECT_EQ(
        tray.toolTip(),
        QStringLiteral("Harborwatch — 3 servers listening\n3000  node\n5173  vite\n8080  python3"));

    // The last record gone: the inert line is back.
    publish({});
    EXPECT_EQ(items(), QStringList{"(disabled) No ports running"} + commands);
}

TEST_F(TrayMenuTest, ProcessNamesAreShownLiterally) {
    publish({{3000, 1, "a&b"},
             {3001, 2, "%1 %2"},
             {3002, 3, "100%"},
             {3003, 4, "my_server"},
             {3004, 5, "&&"}});
    const QStringList shown{"3000 - a&b", "3001 - %1 %2", "3002 - 100%", "3003 - my_server",
                            "3004 - &&"};
    for (int i = 0; i < shown.size(); ++i) {
        const QAction* title = tray.menu()->actions().at(i);
        SCOPED_TRACE(shown[i].toStdString());
        // What a menu draws: "&&" as "&", and no letter taken as a mnemonic.
        EXPECT_EQ(title->iconText(), shown[i]);
        EXPECT_TRUE(QKeySequence::mnemonic(title->text()).isEmpty());
        EXPECT_EQ(title->menu()->title(), title->text());
    }
    EXPECT_EQ(tray.menu()->actions().at(0)->text(), QStringLiteral("3000 - a&&b"));
    EXPECT_EQ(tray.menu()->actions().at(1)->text(), QStringLiteral("3001 - %1 %2"));
    EXPECT_EQ(tray.menu()->actions().at(3)->text(), QStringLiteral("3003 - my_server"));
    EXPECT_EQ(tray.menu()->actions().at(4)->text(), QStringLiteral("3004 - &&&&"));
}

// A panel drawing the exported menu reads "_x" as a mnemonic and "__" as "_";
// Qt's export turns the first "&" into "_" and leaves the rest. The end-to-end
// tests check the names as a panel shows them.
TEST_F(TrayMenuTest, NamesAreEscapedForAPanelWhenTheMenuIsExported) {
    using Style = LabelStyle;
    EXPECT_EQ(literalMenuText("my_app", Style::DBusMenu), "my__app");
    EXPECT_EQ(literalMenuText("a&b&c", Style::DBusMenu), "a&&b&c");
    EXPECT_EQ(literalMenuText("_&_&", Style::DBusMenu), "__&&__&");
    EXPECT_EQ(literalMenuText("node", Style::DBusMenu), "node");

    publish({{3000, 1, "my_app"}});
    EXPECT_EQ(tray.menu()->actions().at(0)->text(), "3000 - my_app");
    tray.setLabelStyle(Style::DBusMenu);
    EXPECT_EQ(tray.menu()->actions().at(0)->text(), "3000 - my__app");
}

// On a StatusNotifierItem panel the context menu is drawn by the panel from
// the exported labels and the click menu by the program: each gets its own
// escaping, so both show the names exactly.
TEST_F(TrayMenuTest, NamesAreExactInThePanelsMenuAndInTheProgramsOwnPopup) {
    tray.setLabelStyle(LabelStyle::DBusMenu);
    publish({{3000, 1, "my_app"}, {3001, 2, "dev&app__1"}});
    const QList<QAction*> own = tray.popupMenu()->actions();
    EXPECT_EQ(own.at(0)->iconText(), "3000 - my_app");
    EXPECT_EQ(own.at(1)->iconText(), "3001 - dev&app__1");
    EXPECT_TRUE(QKeySequence::mnemonic(own.at(1)->text()).isEmpty());
    const QList<QAction*> exported = tray.menu()->actions();
    EXPECT_EQ(exported.at(0)->text(), "3000 - my__app");
    EXPECT_EQ(exported.at(1)->text(), "3001 - dev&&app____1");

    // The popup's commands and server items work like the context menu's.
    QMenu* server = own.at(0)->menu();
    find(server, "Stop Server")->trigger();
    EXPECT_EQ(script->stoppedPids, QList<qint64>{1});
    QSignalSpy quit(&tray, &TrayMenu::quitRequested);
    find(tray.popupMenu(), "Quit")->trigger();
    EXPECT_EQ(quit.size(), 1);
}

// A flood of servers costs at most fifty submenus in each menu.
TEST_F(TrayMenuTest, AtMostFiftyServerRowsThenAnInertCount) {
    QList<ListeningPort> many;
    for (qint64 i = 0; i < 7000; ++i)
        many.append({1000 + i, 1 + i, QStringLiteral("node")});
    publish(many);
    for (const QMenu* menu : {tray.menu(), tray.popupMenu()}) {
        const QStringList shown = describe(menu);
        ASSERT_EQ(shown.size(), 50 + 1 + commands.size());
        EXPECT_EQ(shown.first(), "1000 - node > " + serverItems(1));
        EXPECT_EQ(shown[49], "1049 - node > " + serverItems(50));
        EXPECT_EQ(shown[50], "(disabled) and 6950 more");
    }
    QString tip = QStringLiteral("Harborwatch — 7000 servers listening");
    for (qint64 port = 1000; port < 1050; ++port)
        tip += QStringLiteral("\n%1  node").arg(port);
    EXPECT_EQ(tray.toolTip(), tip + QStringLiteral("\nand 6950 more"));

    publish(many.mid(1, 50));
    EXPECT_EQ(describe(tray.menu()).size(), 50 + commands.size());
    EXPECT_EQ(describe(tray.menu()).first(), "1001 - node > " + serverItems(2));
}

// A folder where the settings file should be: no save can replace it, for
// root as for anyone.
TEST_F(TrayMenuTest, TheTooltipSaysWhenSettingsCouldNotBeSaved) {
    ASSERT_TRUE(QDir().mkpath(store.filePath()));
    QSignalSpy toolTips(&tray, &TrayMenu::toolTipChanged);
    addAllowed(store, QStringLiteral("caddy"));
    ASSERT_EQ(toolTips.size(), 1);
    const QString tip = tray.toolTip();
    EXPECT_TRUE(
        tip.startsWith(QStringLiteral("Harborwatch — no servers\nSettings could not be saved: ")))
        << tip.toStdString();
    EXPECT_EQ(toolTips.last().first().toString(), tip);

    ASSERT_TRUE(QDir().rmdir(store.filePath()));
    store.set(settings::allowlist, store.get(settings::allowlist));
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — no servers"));
}

TEST_F(TrayMenuTest, FailureLineStandsAboveTheListUntilAScanSucceeds) {
    fail(ListerError::NotFound);
    EXPECT_EQ(items(), QStringList({"(disabled) Port scan failed: " +
                                        describeListerError(ListerError::NotFound),
                                    "(disabled) No ports running"}) +
                           commands);

    publish({{3000, 11, "node"}});
    EXPECT_EQ(items(), QStringList{"3000 - node > " + serverItems(11)} + commands);

    // A failure keeps the servers last seen, below the line.
    fail(ListerError::TimedOut);
    const QString line = "Port scan failed: " + describeListerError(ListerError::TimedOut);
    EXPECT_EQ(items(),
              QStringList({"(disabled) " + line, "3000 - node > " + serverItems(11)}) + commands);
    EXPECT_EQ(tray.toolTip(),
              QStringLiteral("Harborwatch — 1 server listening\n3000  node\n") + line);

    publish({{3000, 11, "node"}});
    EXPECT_EQ(items(), QStringList{"3000 - node > " + serverItems(11)} + commands);
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — 1 server listening\n3000  node"));
}

TEST_F(TrayMenuTest, SameListPublishedAgainKeepsEveryItem) {
    QSignalSpy toolTips(&tray, &TrayMenu::toolTipChanged);
    publish({{3000, 11, "node"}, {8080, 30, "python3"}});
    ASSERT_EQ(toolTips.size(), 1);
    const QList<QAction*> before = tray.menu()->actions();
    const QList<QAction*> innerBefore = submenu(0)->actions();
    const QList<QPointer<QAction>> watched(before.begin(), before.end());

    publish({{3000, 11, "node"}, {8080, 30, "python3"}});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(tray.menu()->actions(), before);
    EXPECT_EQ(submenu(0)->actions(), innerBefore);
    for (const QPointer<QAction>& action : watched)
        EXPECT_FALSE(action.isNull());
    EXPECT_EQ(toolTips.size(), 1);

    // Another process on the same port, or the same process under another
    // name, is another record: rebuilt.
    publish({{3000, 12, "node"}, {8080, 30, "python3"}});
    EXPECT_NE(tray.menu()->actions().first(), before.first());
    const QList<QAction*> afterPid = tray.menu()->actions();
    publish({{3000, 12, "deno"}, {8080, 30, "python3"}});
    EXPECT_NE(tray.menu()->actions().first(), afterPid.first());
    EXPECT_EQ(items().first(), "3000 - deno > " + serverItems(12));
    // The commands are never rebuilt.
    EXPECT_EQ(find(tray.menu(), "Quit"), tray.quitAction());
}

// A server coming or going leaves the other submenus alone, so a submenu the
// user has open stays open and in place.
TEST_F(TrayMenuTest, OtherServersComingAndGoingKeepASubmenu) {
    publish({{3000, 11, "node"}, {8080, 30, "python3"}});
    const QPointer<QMenu> node = submenu(0);
    publish({{3000, 11, "node"}, {5173, 20, "vite"}});
    publish({{2000, 5, "ruby"}, {3000, 11, "node"}});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(submenu(1), node.data());
    EXPECT_EQ(items(),
              QStringList({"2000 - ruby > " + serverItems(5), "3000 - node > " + serverItems(11)}) +
                  commands);

    fail(ListerError::TimedOut); // the failure line goes above, the list stays
    EXPECT_EQ(submenu(2), node.data());
    EXPECT_EQ(items().first(), "(disabled) Port scan failed: lsof timed out");
}

TEST_F(TrayMenuTest, ServerItemsReachBrowserClipboardAndMonitor) {
    publish({{8080, 4242, "python3"}});
    QMenu* server = submenu(0);

    BrowserStandIn browser;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    find(server, "Open in Browser")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    EXPECT_EQ(browser.opened, QList<QUrl>{QUrl(QStringLiteral("http://localhost:8080"))});
    // Without a browser (none on the offscreen platform) the failure is told.
    QSignalSpy noBrowser(&program.actions(), &ServerActions::browserFailed);
    find(server, "Open in Browser")->trigger();
    ASSERT_EQ(noBrowser.size(), 1);
    EXPECT_EQ(noBrowser.first().first().toString(), QStringLiteral("http://localhost:8080"));

    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    find(server, "Copy URL")->trigger();
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->text(), QStringLiteral("http://localhost:8080"));
    EXPECT_EQ(copied->formats(), QStringList{"text/plain"});

    const int scansBefore = scansStarted();
    find(server, "Stop Server")->trigger();
    EXPECT_EQ(script->stoppedPids, QList<qint64>{4242});
    // The monitor looks again shortly after, on its own.
    EXPECT_TRUE(QTest::qWaitFor([&] { return scansStarted() == scansBefore + 1; }, 5000));
}

// A server still running five seconds after Stop Server gets "Force Stop"
// right below it, in its submenu only, also when the submenu is made anew.
TEST_F(TrayMenuTest, ServerThatOutlivesStopGetsForceStop) {
    publish({{3000, 11, "node"}, {8080, 4242, "python3"}});
    script->stillRunning = {4242};
    find(submenu(1), "Stop Server")->trigger();
    EXPECT_EQ(script->stoppedPids, QList<qint64>{4242});

    const QString escalated = serverItems(4242) + QStringLiteral(" | Force Stop");
    ASSERT_TRUE(QTest::qWaitFor([&] { return find(submenu(1), "Force Stop"); }, 20'000));
    script->complete({{{3000, 11, "node"}, {8080, 4242, "python3"}}, {}});
    EXPECT_EQ(items(),
              QStringList({"3000 - node > " + serverItems(11), "8080 - python3 > " + escalated}) +
                  commands);
    find(submenu(1), "Force Stop")->trigger();
    EXPECT_EQ(script->stoppedPids, (QList<qint64>{4242, 4242}));

    tray.setLabelStyle(LabelStyle::DBusMenu); // every submenu is rebuilt
    EXPECT_EQ(items(),
              QStringList({"3000 - node > " + serverItems(11), "8080 - python3 > " + escalated}) +
                  commands);
}

TEST_F(TrayMenuTest, CommandsReachMonitorWindowAndApplication) {
    tray.refreshAction()->trigger();
    EXPECT_EQ(scansStarted(), 1);
    script->complete({});
    tray.refreshAction()->trigger();
    EXPECT_EQ(scansStarted(), 2);
    script->complete({});

    EXPECT_EQ(program.settingsWindow(), nullptr); // nothing opens at launch
    tray.settingsAction()->trigger();
    QPointer<SettingsWindow> window = program.settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    window->close();
    tray.settingsAction()->trigger();
    tray.settingsAction()->trigger();
    EXPECT_EQ(program.settingsWindow(), window.data());
    EXPECT_TRUE(window->isVisible());
    int windows = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        windows += qobject_cast<SettingsWindow*>(widget) != nullptr;
    EXPECT_EQ(windows, 1);

    QSignalSpy quit(&tray, &TrayMenu::quitRequested);
    tray.quitAction()->trigger();
    EXPECT_EQ(quit.size(), 1);
}

TEST_F(TrayMenuTest, ShortcutsWorkWhileTheMenuIsOpen) {
    EXPECT_EQ(tray.refreshAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_EQ(tray.serversAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(tray.settingsAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(tray.quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    // Each key press with the menu open, or with a server's submenu open
    // inside it; the command closes the menu, as choosing it would.
    publish({{3000, 11, "node"}});
    QMenu* menu = tray.menu();
    QMenu* server = submenu(0);
    const auto open = [&](QMenu* target) {
        menu->popup(QPoint(10, 10));
        if (!QTest::qWaitForWindowExposed(menu))
            return false;
        if (target == server) {
            menu->setActiveAction(server->menuAction());
            server->popup(QPoint(200, 10));
            if (!QTest::qWaitForWindowExposed(server))
                return false;
        }
        return QApplication::activePopupWidget() == target;
    };

    for (QMenu* target : {menu, server}) {
        SCOPED_TRACE(target == menu ? "menu" : "submenu");
        const int scans = scansStarted();
        ASSERT_TRUE(open(target));
        QTest::keyClick(target, Qt::Key_R, Qt::ControlModifier);
        EXPECT_EQ(scansStarted(), scans + 1);
        EXPECT_FALSE(menu->isVisible());
        script->complete({{{3000, 11, "node"}}, {}});

        ASSERT_TRUE(open(target));
        QTest::keyClick(target, Qt::Key_Comma, Qt::ControlModifier);
        ASSERT_NE(program.settingsWindow(), nullptr);
        EXPECT_TRUE(program.settingsWindow()->isVisible());
        program.settingsWindow()->close();

        ASSERT_TRUE(open(target));
        QSignalSpy quit(&tray, &TrayMenu::quitRequested);
        QTest::keyClick(target, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(quit.size(), 1);

        // A plain key is still the menu's own (navigation, mnemonics).
        ASSERT_TRUE(open(target));
        QTest::keyClick(target, Qt::Key_R);
        EXPECT_EQ(scansStarted(), scans + 1);
        while (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    }
}

// "Servers…" (Ctrl+S, also while the menu is open) opens the one Servers
// window, which needs the monitor running.
TEST_F(TrayMenuTest, ServersOpensTheOneServersWindow) {
    publish({{3000, 11, "node"}});
    tray.menu()->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tray.menu()));
    QTest::keyClick(tray.menu(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(tray.menu()->isVisible());
    QPointer<ServersWindow> window = program.serversWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(monitor.isStarted());
    EXPECT_EQ(window->model().rowCount(), 1);
    window->close();
    tray.serversAction()->trigger();
    tray.serversAction()->trigger();
    EXPECT_EQ(program.serversWindow(), window.data());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(TrayMenuTest, FirstAppearanceStartsTheMonitorOnce) {
    EXPECT_FALSE(monitor.isStarted()); // building the menu starts nothing
    EXPECT_EQ(scansStarted(), 0);
    tray.appear();
    EXPECT_TRUE(monitor.isStarted());
    EXPECT_EQ(scansStarted(), 1);
    script->complete({});
    tray.appear();
    EXPECT_EQ(scansStarted(), 1);
}

// A name stays on its menu line, and its text cannot turn the line around.
TEST_F(TrayMenuTest, ControlAndDirectionCharactersInNamesAreShownEscaped) {
    publish({{3000, 1, QStringLiteral("a\nb\u202e")}});
    EXPECT_EQ(tray.menu()->actions().at(0)->text(), QStringLiteral("3000 - a\\x0ab\\u202e"));
}

// A Next.js-style server: the program "node" renamed its process
// "next-server (v14.2.3)". Found through /proc, it is shown as "node".
TEST(TrayMenuOverProc, RenamedServerIsShownUnderItsProgramsName) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString node = dir.filePath(QStringLiteral("node"));
    ASSERT_TRUE(QFile::copy(ListenerProcess::programPath(), node));
    ASSERT_TRUE(QFile::setPermissions(node, QFile::ReadOwner | QFile::ExeOwner));
    ListenerProcess server(QStringLiteral("next-server (v14.2.3)"), QStringLiteral("3000-9999"), {},
                           node);
    ASSERT_TRUE(server.isListening());

    SettingsStore store(dir.filePath(QStringLiteral("settings.json")));
    store.set(settings::probe, false); // the stand-in never answers
    DesktopNotifier notifier{QDBusConnection(QStringLiteral("none"))};
    TrayProgram program(store, notifier);
    TrayMenu& tray = program.menu();
    tray.appear();
    const QString title = QStringLiteral("%1 - node").arg(server.port());
    EXPECT_TRUE(QTest::qWaitFor([&] { return find(tray.menu(), title) != nullptr; }, 20'000))
        << describe(tray.menu()).join(QLatin1Char('\n')).toStdString();
}

// A source that lists nothing for now says why below the servers, until it
// answers again.
TEST_F(TrayMenuTest, ASourcesProblemIsALineBelowTheServers) {
    ScanResult result{{{3000, 42, "node"}}};
    result.problems.insert(SourceId{},
                           QStringLiteral("Containers unavailable: the engine refused"));
    monitor.scan();
    ASSERT_TRUE(script->complete(result));
    EXPECT_EQ(items().mid(1),
              QStringList({"(disabled) Containers unavailable: the engine refused"}) + commands);
    EXPECT_TRUE(tray.toolTip().endsWith("\nContainers unavailable: the engine refused"));
    publish({{3000, 42, "node"}});
    EXPECT_EQ(items().mid(1), commands);
}

// Details come from the monitor's source; the menu shows them as they arrive.
TEST_F(TrayMenuTestBase, DetailsOpenTheSubmenuAndTheUrlFollowsTheAddress) {
    const QString folder = dir.filePath(QStringLiteral("shop"));
    script->details = [folder](const ListeningPort&) {
        return ServerDetails{folder, "shop", {"/usr/bin/node", "dev"}, "node dev", 0, {}};
    };
    QSignalSpy toolTips(&tray, &TrayMenu::toolTipChanged);
    publish({{8080, 4242, "node", 0, "192.168.1.20"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !monitor.details(8080).project.isEmpty(); }, 5000));
    EXPECT_EQ(items().first(),
              "8080 - node > (disabled) shop — " + folder +
                  " | (disabled) node dev | (disabled) PID 4242 · 192.168.1.20 | --- | Open in "
                  "Browser | Copy URL | Open Folder | --- | Label… | Use HTTPS | Notify | --- | "
                  "Stop Server");
    EXPECT_EQ(toolTips.last().first().toString(),
              "Harborwatch — 1 server listening\n8080  node — shop");

    find(submenu(0), "Copy URL")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("http://192.168.1.20:8080"));
    BrowserStandIn files;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &files, "open");
    find(submenu(0), "Open Folder")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(files.opened, QList<QUrl>{QUrl::fromLocalFile(folder)});
}

// A row is named by its label, else its framework; "Use HTTPS" (detected or
// chosen) makes the URL https; the choices go to the settings file.
TEST_F(TrayMenuTestBase, LabelsFrameworksAndHttpsNameAndReachTheServer) {
    script->details = [](const ListeningPort& port) {
        ServerDetails details;
        details.framework = port.port == 5173 ? QStringLiteral("Vite") : QString();
        details.https = port.port == 5173;
        return details;
    };
    publish({{5173, 41, "node"}, {8000, 42, "python3"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !monitor.details(5173).framework.isEmpty(); }, 5000));
    EXPECT_EQ(submenu(0)->title(), "5173 - node · Vite");
    EXPECT_EQ(submenu(1)->title(), "8000 - python3");
    EXPECT_TRUE(find(submenu(0), "Use HTTPS")->isChecked());
    find(submenu(0), "Copy URL")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("https://localhost:5173"));

    find(submenu(1), "Use HTTPS")->trigger();
    find(submenu(1), "Notify")->trigger();
    setPortChoice(store, 8000,
                  {QStringLiteral("A label far too long for any menu row"),
                   store.values().ports.value(8000).https,
                   store.values().ports.value(8000).notify});
    EXPECT_EQ(submenu(1)->title(), "8000 - python3 · A label far too long fo…");
    EXPECT_EQ(submenu(1)->actions().first()->text(), "A label far too long for any menu row");
    EXPECT_FALSE(find(submenu(1), "Notify")->isChecked());
    find(submenu(1), "Copy URL")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("https://localhost:8000"));
    EXPECT_EQ(store.stored(QStringLiteral("ports"))["8000"]["protocol"].toString(), "https");
    EXPECT_FALSE(store.stored(QStringLiteral("ports"))["8000"]["notify"].toBool(true));
}

// The real thing: lsof finds test listeners, /proc tells their details.
class LiveTrayMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        store.set(settings::minPort, range.first);
        store.set(settings::maxPort, range.second);
        // The stand-in servers never answer; what that shows is tested apart.
        store.set(settings::probe, false);
    }
    // Scans until `done` holds, as the timer would.
    bool scanUntil(const std::function<bool()>& done) {
        return QTest::qWaitFor(
            [&] {
                if (done())
                    return true;
                monitor.scan();
                QTest::qWait(100);
                return done();
            },
            15000);
    }
    QAction* titled(const QMenu* menu, const QString& title) const { return find(menu, title); }

    const std::pair<qint64, qint64> range{20000, 29999};
    QTemporaryDir dir;
    SettingsStore store{dir.filePath(QStringLiteral("settings.json"))};
    DesktopNotifier notifier{QDBusConnection(QStringLiteral("none"))};
    TrayProgram program{store, notifier};
    PortMonitor& monitor = program.monitor();
    TrayMenu& tray = program.menu();
};

TEST_F(LiveTrayMenuTest, SubmenuNamesTheListenersProjectAndCommandLine) {
    const QString folder = dir.filePath(QStringLiteral("shop/server"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile marker(dir.filePath(QStringLiteral("shop/package.json")));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    store.set(settings::allowlist, {QStringLiteral("hw-shop")});
    ListenerProcess server(QStringLiteral("hw-shop"), QStringLiteral("20000-29999"), {}, {}, folder,
                           {QStringLiteral("--port"), QStringLiteral("auto")});
    ASSERT_TRUE(server.isListening());
    const QString title = QStringLiteral("%1 - hw-shop").arg(server.port());

    QMenu* submenu = nullptr;
    ASSERT_TRUE(scanUntil([&] {
        QAction* row = titled(tray.menu(), title);
        submenu = row ? row->menu() : nullptr;
        return submenu && submenu->actions().size() > 8; // all three lines are in
    }));
    const QList<QAction*> lines = submenu->actions();
    EXPECT_FALSE(lines[0]->isEnabled());
    EXPECT_EQ(lines[0]->text(),
              "shop — " + withHomeAsTilde(QDir(folder).canonicalPath(), QDir::homePath()));
    EXPECT_EQ(lines[1]->text(), QStringLiteral("hw-listener hw-shop 20000-29999 --port auto"));
    EXPECT_TRUE(lines[2]->text().startsWith(QStringLiteral("PID %1 · up ").arg(server.pid())))
        << lines[2]->text().toStdString();
    EXPECT_TRUE(lines[2]->text().endsWith(QStringLiteral(" · 127.0.0.1")));
    EXPECT_TRUE(lines[3]->isSeparator());
}

TEST_F(LiveTrayMenuTest, ListenerNotAllowedIsOfferedUnderOtherListeners) {
    store.set(settings::allowlist, {QStringLiteral("node")});
    ListenerProcess hidden(QStringLiteral("hw-hidden"), QStringLiteral("20000-29999"));
    ASSERT_TRUE(hidden.isListening());
    const QString title = QStringLiteral("%1 - hw-hidden").arg(hidden.port());

    QMenu* others = nullptr;
    ASSERT_TRUE(scanUntil([&] {
        QAction* item = titled(tray.menu(), QStringLiteral("Other Listeners"));
        others = item ? item->menu() : nullptr;
        return others && titled(others, title);
    }));
    EXPECT_EQ(titled(tray.menu(), title), nullptr);
    QMenu* entry = titled(others, title)->menu();
    ASSERT_EQ(entry->actions().size(), 1);
    EXPECT_EQ(entry->actions().first()->text(), QStringLiteral("Show hw-hidden"));

    entry->actions().first()->trigger();
    EXPECT_TRUE(store.get(settings::allowlist).contains(QStringLiteral("hw-hidden")));
    ASSERT_TRUE(scanUntil([&] { return titled(tray.menu(), title) != nullptr; }));
    QAction* stillOther = titled(tray.menu(), QStringLiteral("Other Listeners"));
    EXPECT_TRUE(!stillOther || !titled(stillOther->menu(), title));
    // Saved as the Processes tab saves an edit.
    SettingsStore reread(dir.filePath(QStringLiteral("settings.json")));
    const auto saved = reread.array(QStringLiteral("allowlist"));
    ASSERT_TRUE(saved.has_value());
    EXPECT_TRUE(saved->contains(QStringLiteral("hw-hidden")));
}

#include "tray_menu_test.moc"

// Each host of the settings below this machine's servers: a submenu of its
// servers, or why it is not connected.
TEST_F(TrayMenuTest, HostsHaveSubmenusOfTheirOwnBelowTheLocalServers) {
    store.set(settings::hosts, QStringList{"box", "lab"});
    ListeningPort remote{5173, 20, "node"};
    remote.host = QStringLiteral("box");
    ScanResult result;
    result.ports = {{3000, 11, "node"}, remote};
    result.problems.insert(SourceId::ofHost("lab"), QStringLiteral("Connection refused"));
    monitor.scan();
    while (script->complete(result)) {
    }
    EXPECT_EQ(items(),
              QStringList({"3000 - node > " + serverItems(11), "---",
                           "box > 5173 - node > Forward and Open | Copy URL | (disabled) Stop "
                           "Forward | --- | Stop Server | --- | Forward All | (disabled) Stop All "
                           "Forwards",
                           "(disabled) lab: not connected — Connection refused"}) +
                  commands);
    EXPECT_TRUE(tray.toolTip().contains("lab: not connected — Connection refused"));

    store.set(settings::hosts, QStringList{});
    while (script->complete({{{3000, 11, "node"}}})) {
    }
    EXPECT_EQ(items(), QStringList{"3000 - node > " + serverItems(11)} + commands);
}

// A range whose From is above its To lists nothing, whatever runs: every
// front end says so instead of telling of a machine without servers, and
// says it no longer once the range is whole again.
TEST_F(TrayMenuTest, AReversedRangeIsNeverShownAsAnEmptyMachine) {
    store.set(settings::hosts, QStringList{"box"});
    store.set(settings::minPort, qint64(8000));
    store.set(settings::maxPort, qint64(5000));
    program.openServers();
    while (script->complete({})) {
    }
    ServersWindow* window = program.serversWindow();
    const QString impossible = QStringLiteral("No port can match: From is above To");
    const auto othersMenu = [&] {
        QAction* others = find(tray.menu(), "Other Listeners");
        return others ? describe(others->menu()).join(" | ") : QString();
    };
    const auto boxMenu = [&] {
        QAction* box = find(tray.menu(), "box");
        return box ? describe(box->menu()).join(" | ") : QString();
    };
    const struct {
        const char* where;
        std::function<QString()> shown;
        QString reversed;
        QString whole;
    } fronts[] = {
        {"menu's first line", [&] { return items().first(); }, "(disabled) " + impossible,
         "(disabled) No ports running"},
        {"Other Listeners", othersMenu, "(disabled) " + impossible, ""},
        {"a host's submenu", boxMenu, "(disabled) " + impossible, "(disabled) No ports running"},
        {"tooltip", [&] { return tray.toolTip(); }, "Harborwatch — no servers\n" + impossible,
         "Harborwatch — no servers"},
        {"window's state line", [&] { return window->stateLine()->text(); }, impossible,
         "No ports running"},
        {"window's Other Listeners",
         [&] {
             return window->othersSection()->isHidden() ? QString() : window->othersLine()->text();
         },
         impossible, ""},
    };
    for (const auto& front : fronts)
        EXPECT_EQ(front.shown(), front.reversed) << front.where << " with From above To";

    // Stored as typed, neither clamped nor refused.
    EXPECT_EQ(store.stored("minPort").toInteger(), 8000);
    store.set(settings::maxPort, qint64(9000));
    while (script->complete({})) {
    }
    for (const auto& front : fronts)
        EXPECT_EQ(front.shown(), front.whole) << front.where << " with the range whole";
}
