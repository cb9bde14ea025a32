// The tray menu against a real monitor whose scanner the test drives.
#include "app/tray_menu.h"

#include "monitor/port_monitor.h"
#include "platform/settings_store.h"
#include "scripted_scanner.h"
#include "settings/settings_window.h"
#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
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

const QStringList commands{"---", "Refresh", "Settings...", "---", "Quit"};
const QString serverItems = QStringLiteral("Open in Browser | Copy URL | --- | Stop Server");

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

class TrayMenuTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // One scan of the monitor that ends with these records.
    void publish(const QList<ListeningPort>& ports) {
        monitor.scan();
        ASSERT_TRUE(script->finish({ports, ListerError::None}));
    }
    void fail(ListerError error) {
        monitor.scan();
        ASSERT_TRUE(script->finish({{}, error}));
    }
    QStringList items() const { return describe(tray.menu()); }
    QMenu* submenu(int index) const { return tray.menu()->actions().value(index)->menu(); }

    QTemporaryDir dir;
    SettingsStore store{dir.filePath(QStringLiteral("settings.json"))};
    std::shared_ptr<ScannerScript> script = std::make_shared<ScannerScript>();
    PortMonitor monitor{std::make_unique<ScriptedScanner>(script), store,
                        [](const QString&, const QString&) {}};
    TrayMenu tray{monitor};
};

TEST_F(TrayMenuTest, EmptyListShowsTheInertLineThenTheCommands) {
    const QStringList expected = QStringList{"(disabled) No ports running"} + commands;
    EXPECT_EQ(items(), expected);
    publish({});
    EXPECT_EQ(items(), expected);
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — no servers"));
}

TEST_F(TrayMenuTest, RecordsBecomeSubmenusInTheMonitorsOrder) {
    publish({{3000, 11, "node"}});
    EXPECT_EQ(items(), QStringList{"3000 - node > " + serverItems} + commands);
    for (const QAction* action : submenu(0)->actions()) {
        EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
        EXPECT_TRUE(action->shortcut().isEmpty()) << action->text().toStdString();
    }
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — 1 server listening"));

    // The menu follows the list as published, not an order of its own.
    publish({{8080, 30, "python3"}, {3000, 11, "node"}, {5173, 20, "vite"}});
    EXPECT_EQ(items(),
              QStringList({"8080 - python3 > " + serverItems, "3000 - node > " + serverItems,
                           "5173 - vite > " + serverItems}) +
                  commands);
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — 3 servers listening"));

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
    using Style = TrayMenu::LabelStyle;
    EXPECT_EQ(TrayMenu::literalMenuText("my_app", Style::DBusMenu), "my__app");
    EXPECT_EQ(TrayMenu::literalMenuText("a&b&c", Style::DBusMenu), "a&&b&c");
    EXPECT_EQ(TrayMenu::literalMenuText("_&_&", Style::DBusMenu), "__&&__&");
    EXPECT_EQ(TrayMenu::literalMenuText("node", Style::DBusMenu), "node");

    publish({{3000, 1, "my_app"}});
    EXPECT_EQ(tray.menu()->actions().at(0)->text(), "3000 - my_app");
    tray.setLabelStyle(Style::DBusMenu);
    EXPECT_EQ(tray.menu()->actions().at(0)->text(), "3000 - my__app");
}

// On a StatusNotifierItem panel the context menu is drawn by the panel from
// the exported labels and the click menu by the program: each gets its own
// escaping, so both show the names exactly.
TEST_F(TrayMenuTest, NamesAreExactInThePanelsMenuAndInTheProgramsOwnPopup) {
    tray.setLabelStyle(TrayMenu::LabelStyle::DBusMenu);
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
        EXPECT_EQ(shown.first(), "1000 - node > " + serverItems);
        EXPECT_EQ(shown[49], "1049 - node > " + serverItems);
        EXPECT_EQ(shown[50], "(disabled) and 6950 more");
    }
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — 7000 servers listening"));

    publish(many.mid(1, 50));
    EXPECT_EQ(describe(tray.menu()).size(), 50 + commands.size());
    EXPECT_EQ(describe(tray.menu()).first(), "1001 - node > " + serverItems);
}

// A folder where the settings file should be: no save can replace it, for
// root as for anyone.
TEST_F(TrayMenuTest, TheTooltipSaysWhenSettingsCouldNotBeSaved) {
    ASSERT_TRUE(QDir().mkpath(store.filePath()));
    QSignalSpy toolTips(&tray, &TrayMenu::toolTipChanged);
    monitor.insertAllowed(QStringLiteral("caddy"));
    monitor.saveAllowlist();
    ASSERT_EQ(toolTips.size(), 1);
    const QString tip = tray.toolTip();
    EXPECT_TRUE(
        tip.startsWith(QStringLiteral("Harborwatch — no servers\nSettings could not be saved: ")))
        << tip.toStdString();
    EXPECT_EQ(toolTips.last().first().toString(), tip);

    ASSERT_TRUE(QDir().rmdir(store.filePath()));
    monitor.saveAllowlist();
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — no servers"));
}

TEST_F(TrayMenuTest, FailureLineStandsAboveTheListUntilAScanSucceeds) {
    fail(ListerError::NotFound);
    EXPECT_EQ(items(), QStringList({"(disabled) Port scan failed: " +
                                        describeListerError(ListerError::NotFound),
                                    "(disabled) No ports running"}) +
                           commands);

    publish({{3000, 11, "node"}});
    EXPECT_EQ(items(), QStringList{"3000 - node > " + serverItems} + commands);

    // A failure keeps the servers last seen, below the line.
    fail(ListerError::TimedOut);
    const QString line = "Port scan failed: " + describeListerError(ListerError::TimedOut);
    EXPECT_EQ(items(),
              QStringList({"(disabled) " + line, "3000 - node > " + serverItems}) + commands);
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — 1 server listening\n") + line);

    publish({{3000, 11, "node"}});
    EXPECT_EQ(items(), QStringList{"3000 - node > " + serverItems} + commands);
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Harborwatch — 1 server listening"));
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
    EXPECT_EQ(items().first(), "3000 - deno > " + serverItems);
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
              QStringList({"2000 - ruby > " + serverItems, "3000 - node > " + serverItems}) +
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
    QSignalSpy noBrowser(&tray, &TrayMenu::browserFailed);
    find(server, "Open in Browser")->trigger();
    ASSERT_EQ(noBrowser.size(), 1);
    EXPECT_EQ(noBrowser.first().first().toString(), QStringLiteral("http://localhost:8080"));

    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    find(server, "Copy URL")->trigger();
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->text(), QStringLiteral("http://localhost:8080"));
    EXPECT_EQ(copied->formats(), QStringList{"text/plain"});

    const int scansBefore = script->scansStarted;
    find(server, "Stop Server")->trigger();
    EXPECT_EQ(script->stoppedPids, QList<qint64>{4242});
    // The monitor looks again shortly after, on its own.
    EXPECT_TRUE(QTest::qWaitFor([&] { return script->scansStarted == scansBefore + 1; }, 5000));
}

TEST_F(TrayMenuTest, CommandsReachMonitorWindowAndApplication) {
    tray.refreshAction()->trigger();
    EXPECT_EQ(script->scansStarted, 1);
    script->finish({});
    tray.refreshAction()->trigger();
    EXPECT_EQ(script->scansStarted, 2);
    script->finish({});

    EXPECT_EQ(tray.settingsWindow(), nullptr); // nothing opens at launch
    tray.settingsAction()->trigger();
    QPointer<SettingsWindow> window = tray.settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    window->close();
    tray.settingsAction()->trigger();
    tray.settingsAction()->trigger();
    EXPECT_EQ(tray.settingsWindow(), window.data());
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
        const int scans = script->scansStarted;
        ASSERT_TRUE(open(target));
        QTest::keyClick(target, Qt::Key_R, Qt::ControlModifier);
        EXPECT_EQ(script->scansStarted, scans + 1);
        EXPECT_FALSE(menu->isVisible());
        script->finish({{{3000, 11, "node"}}, ListerError::None});

        ASSERT_TRUE(open(target));
        QTest::keyClick(target, Qt::Key_Comma, Qt::ControlModifier);
        ASSERT_NE(tray.settingsWindow(), nullptr);
        EXPECT_TRUE(tray.settingsWindow()->isVisible());
        tray.settingsWindow()->close();

        ASSERT_TRUE(open(target));
        QSignalSpy quit(&tray, &TrayMenu::quitRequested);
        QTest::keyClick(target, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(quit.size(), 1);

        // A plain key is still the menu's own (navigation, mnemonics).
        ASSERT_TRUE(open(target));
        QTest::keyClick(target, Qt::Key_R);
        EXPECT_EQ(script->scansStarted, scans + 1);
        while (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    }
}

TEST_F(TrayMenuTest, FirstAppearanceStartsTheMonitorOnce) {
    EXPECT_FALSE(monitor.isStarted()); // building the menu starts nothing
    EXPECT_EQ(script->scansStarted, 0);
    tray.appear();
    EXPECT_TRUE(monitor.isStarted());
    EXPECT_EQ(script->scansStarted, 1);
    script->finish({});
    tray.appear();
    EXPECT_EQ(script->scansStarted, 1);
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
    PortMonitor monitor(std::make_unique<PortScanner>(), store,
                        [](const QString&, const QString&) {});
    TrayMenu tray(monitor);
    tray.appear();
    const QString title = QStringLiteral("%1 - node").arg(server.port());
    EXPECT_TRUE(QTest::qWaitFor([&] { return find(tray.menu(), title) != nullptr; }, 20'000))
        << describe(tray.menu()).join(QLatin1Char('\n')).toStdString();
}

#include "tray_menu_test.moc"
