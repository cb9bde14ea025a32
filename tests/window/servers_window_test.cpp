// The Servers window over a real monitor whose source the test drives.
#include "window/servers_window.h"

#include "actions/server_actions.h"
#include "config/settings_store.h"
#include "monitor/forwards.h"
#include "monitor/port_monitor.h"
#include "monitor/stop_controller.h"
#include "support/fake_source.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

// Receives the URLs that QDesktopServices::openUrl hands to the browser.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

namespace {

ListeningPort remote(qint64 port, qint64 pid, const QString& name, const QString& host) {
    ListeningPort record{port, pid, name};
    record.host = host;
    record.origin = SourceId::ofHost(host);
    return record;
}

class ServersWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // Details as a source tells them: a framework and a project by port.
        script->details = [](const ListeningPort& port) {
            ServerDetails details;
            details.framework = port.port == 5173 ? QStringLiteral("Vite") : QString();
            details.project = port.port == 8000 ? QStringLiteral("api") : QStringLiteral("shop");
            details.folder = QStringLiteral("/src/") + details.project;
            return details;
        };
    }

    // One scan that ends with these records, their details read.
    void publish(const ScanResult& result) {
        monitor.scan();
        ASSERT_TRUE(script->complete(result));
        QTest::qWait(1);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            for (const ListeningPort& port : monitor.ports()) {
                if (monitor.details(port).project.isEmpty())
                    return false;
            }
            return true;
        }));
    }
    // The table as shown, rows parted by " | ": "port name kind project host"
    // (cells left empty left out), "[group]" for a group's row.
    std::string rows() const {
        QStringList shown;
        const QAbstractItemModel* model = window.table()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, 0).data(ServersModel::IsGroupRole).toBool()) {
                shown << "[" + model->index(row, 0).data().toString() + "]";
                continue;
            }
            QStringList cells;
            for (int column : {ServersModel::Port, ServersModel::Name, ServersModel::Kind,
                               ServersModel::Project, ServersModel::Host})
                cells << model->index(row, column).data().toString();
            cells.removeAll(QString());
            shown << cells.join(' ');
        }
        return shown.join(" | ").toStdString();
    }
    void select(qint64 port) {
        const QAbstractItemModel* model = window.table()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, 0).data().toLongLong() == port)
                window.table()->selectRow(row);
        }
    }

    QTemporaryDir dir;
    SettingsStore store{dir.filePath(QStringLiteral("settings.json"))};
    std::shared_ptr<FakeSourceState> script = std::make_shared<FakeSourceState>();
    PortMonitor monitor{store, fakeRegistry(script)};
    StopController stops{monitor, [](const QString&, const QString&) {}};
    Forwards forwards{monitor};
    ServerActions actions{monitor, stops, forwards};
    ServersWindow window{actions};

    const ListeningPort vite{5173, 41, "node"};
    const ListeningPort api{8000, 42, "python3"};
    const ListeningPort shop{3000, 43, "ruby"};
};

} // namespace

// Rows come and go one by one: the selection stays on its server and the
// model is never reset; uptimes and details are announced as changes.
TEST_F(ServersWindowTest, RowsFollowTheMonitorKeepingTheSelection) {
    window.open();
    publish({{vite, api}});
    EXPECT_EQ(rows(), "5173 node Vite shop | 8000 python3 api");
    EXPECT_EQ(window.table()->model()->index(0, ServersModel::Port).data(Qt::ToolTipRole),
              "Vite\nshop — /src/shop\nPID 41");
    select(8000);

    QSignalSpy resets(&window.model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&window.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&window.model(), &QAbstractItemModel::rowsRemoved);
    publish({{shop, api}});
    publish({{shop, api}});
    EXPECT_EQ(rows(), "3000 ruby shop | 8000 python3 api");
    EXPECT_EQ(resets.size(), 0);
    EXPECT_EQ(inserted.size(), 1);
    EXPECT_EQ(removed.size(), 1);
    ASSERT_TRUE(window.currentServer());
    EXPECT_EQ(window.currentServer()->port, 8000);

    // A label for the port renames the row where it stands.
    QSignalSpy changed(&window.model(), &QAbstractItemModel::dataChanged);
    setPortChoice(store, 8000, {QStringLiteral("Backend"), std::nullopt, true});
    EXPECT_EQ(rows(), "3000 ruby shop | 8000 python3 Backend api");
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(window.currentServer()->port, 8000);
}

// Closed, the window does nothing when the monitor publishes; opened, it
// shows the list as it is then.
TEST_F(ServersWindowTest, HiddenItCostsNothingAndOpeningBringsItUpToDate) {
    QSignalSpy inserted(&window.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&window.model(), &QAbstractItemModel::dataChanged);
    publish({{vite, api}});
    EXPECT_EQ(inserted.size(), 0);
    EXPECT_EQ(window.model().rowCount(), 0);

    window.open();
    EXPECT_EQ(rows(), "5173 node Vite shop | 8000 python3 api");
    window.close();
    const int before = int(inserted.size() + changed.size());
    publish({{vite, api, shop}});
    setPortChoice(store, 5173, {QStringLiteral("Front"), std::nullopt, true});
    EXPECT_EQ(inserted.size() + changed.size(), before);
    window.open();
    EXPECT_EQ(rows(), "3000 ruby shop | 5173 node Front shop | 8000 python3 api");
}

// The filter matches what the presentation names (port, name, framework,
// label, project, host) as one types; any column sorts; groups keep their
// servers below their row, in either order.
TEST_F(ServersWindowTest, FilterSortAndGroup) {
    window.open();
    publish({{vite, api, shop, remote(5173, 7, "node", "box")}});
    using Grouping = ServersModel::Grouping;
    const auto up = Qt::AscendingOrder;
    const auto down = Qt::DescendingOrder;
    const struct {
        const char* filter;
        int column;
        Qt::SortOrder order;
        Grouping grouping;
        const char* rows;
    } cases[] = {
        {"", ServersModel::Port, up, Grouping::None,
         "3000 ruby shop | 5173 node Vite shop | 5173 node Vite shop box | 8000 python3 api"},
        {"517", ServersModel::Port, up, Grouping::None,
         "5173 node Vite shop | 5173 node Vite shop box"},
        {"VITE box", ServersModel::Port, up, Grouping::None, "5173 node Vite shop box"},
        {"api", ServersModel::Port, up, Grouping::None, "8000 python3 api"},
        {"nothing", ServersModel::Port, up, Grouping::None, ""},
        {"", ServersModel::Name, down, Grouping::None,
         "3000 ruby shop | 8000 python3 api | 5173 node Vite shop box | 5173 node Vite shop"},
        {"", ServersModel::Port, up, Grouping::Project,
         "[api] | 8000 python3 api | [shop] | 3000 ruby shop | 5173 node Vite shop | "
         "5173 node Vite shop box"},
        {"", ServersModel::Port, down, Grouping::Project,
         "[api] | 8000 python3 api | [shop] | 5173 node Vite shop box | 5173 node Vite shop | "
         "3000 ruby shop"},
        {"", ServersModel::Port, up, Grouping::Host,
         "[This machine] | 3000 ruby shop | 5173 node Vite shop | 8000 python3 api | [box] | "
         "5173 node Vite shop box"},
        {"ruby", ServersModel::Port, up, Grouping::Host, "[This machine] | 3000 ruby shop"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.filter) + " column " + std::to_string(c.column) + " grouping " +
                     std::to_string(int(c.grouping)));
        window.groupingChoice()->setCurrentIndex(
            window.groupingChoice()->findData(int(c.grouping)));
        window.filterField()->setText(QString::fromUtf8(c.filter));
        window.table()->sortByColumn(c.column, c.order);
        EXPECT_EQ(rows(), c.rows);
    }
    // A group's row spans the table and is no server.
    window.groupingChoice()->setCurrentIndex(
        window.groupingChoice()->findData(int(ServersModel::Grouping::Project)));
    window.filterField()->clear();
    EXPECT_EQ(window.table()->columnSpan(0, 0), int(ServersModel::ColumnCount));
    window.table()->selectRow(0);
    EXPECT_FALSE(window.currentServer());
    EXPECT_FALSE(window.commands().stop->isEnabled());
}

// The row's actions reach the browser, the clipboard, the settings and the
// source; Return opens and Delete stops without asking.
TEST_F(ServersWindowTest, ActionsActOnTheCurrentServer) {
    window.open();
    publish({{vite, api, remote(9000, 7, "node", "box")}});
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    select(5173);
    const ServersWindow::ServerCommands& commands = window.commands();
    EXPECT_EQ(commands.open->text(), "Open in Browser");
    EXPECT_TRUE(commands.openFolder->isEnabled());
    EXPECT_FALSE(commands.stopForward->isVisible());

    OpenedUrls browser;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    window.table()->setFocus();
    QTest::keyClick(window.table(), Qt::Key_Return);
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    EXPECT_EQ(browser.opened, QList<QUrl>{QUrl(QStringLiteral("http://localhost:5173"))});

    commands.copyUrl->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("http://localhost:5173"));
    commands.useHttps->trigger();
    commands.notify->trigger();
    EXPECT_EQ(store.values().ports.value(5173), (settings::PortChoice{{}, true, false}));
    EXPECT_TRUE(commands.useHttps->isChecked());
    EXPECT_FALSE(commands.notify->isChecked());

    QTest::keyClick(window.table(), Qt::Key_Delete);
    EXPECT_EQ(script->stoppedPids, QList<qint64>{41});
    // In the filter field Delete edits the text.
    window.filterField()->setText(QStringLiteral("x"));
    window.filterField()->setFocus();
    window.filterField()->setCursorPosition(0);
    QTest::keyClick(window.filterField(), Qt::Key_Delete);
    EXPECT_EQ(window.filterField()->text(), QString());
    EXPECT_EQ(script->stoppedPids, QList<qint64>{41});

    // A host's server is forwarded before it is opened; its choices are not
    // this machine's ports.
    select(9000);
    EXPECT_EQ(commands.open->text(), "Forward and Open");
    EXPECT_TRUE(commands.stopForward->isVisible());
    EXPECT_FALSE(commands.stopForward->isEnabled());
    // The host's servers can be forwarded all at once; none is yet.
    EXPECT_TRUE(commands.forwardAll->isVisible() && commands.forwardAll->isEnabled());
    EXPECT_FALSE(commands.stopAllForwards->isEnabled());
    EXPECT_FALSE(commands.label->isEnabled());
    EXPECT_FALSE(commands.openFolder->isEnabled());
    commands.stop->trigger();
    EXPECT_EQ(script->stoppedPids, (QList<qint64>{41, 7}));
}

// Other Listeners is a section of its own; "Show" allows the name.
TEST_F(ServersWindowTest, OtherListenersAreShownOnRequest) {
    window.open();
    ScanResult result{{vite}};
    result.others = {{4000, 50, "caddy"}, {4001, 0, ""}};
    publish(result);
    EXPECT_FALSE(window.othersSection()->isHidden());
    const QAbstractItemModel* others = window.othersTable()->model();
    ASSERT_EQ(others->rowCount(), 2);
    EXPECT_EQ(others->index(1, 1).data().toString(), "unknown process");
    EXPECT_FALSE(window.showOtherAction()->isEnabled());
    window.othersTable()->selectRow(0);
    EXPECT_EQ(window.showOtherAction()->text(), "Show caddy");
    window.showOtherAction()->trigger();
    EXPECT_TRUE(store.get(settings::allowlist).contains("caddy"));

    publish({{vite}});
    EXPECT_TRUE(window.othersSection()->isHidden());
}

// Closed, the window's place is kept in the settings; the next one opens there.
TEST_F(ServersWindowTest, ItsPlaceIsKeptBetweenOpenings) {
    window.open();
    const QRect place(120, 90, 700, 420);
    window.setGeometry(place);
    window.close();
    EXPECT_EQ(store.get(settings::serversWindow), place);

    ServersWindow again(actions);
    again.open();
    EXPECT_EQ(again.geometry(), place);
}

#include "servers_window_test.moc"
