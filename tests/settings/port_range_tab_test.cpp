#include "settings_fixture.h"

#include "settings/port_range_tab.h"

#include <QTabWidget>

namespace {

class PortRangeTabTest : public SettingsTest {
protected:
    QLineEdit* minField() { return child<QLineEdit>("minPortField"); }
    QLineEdit* maxField() { return child<QLineEdit>("maxPortField"); }
};

TEST_F(PortRangeTabTest, ShowingTheTabCopiesTheDefaultsWithoutScanOrWrite) {
    monitor.setMinPort(1);
    monitor.setMaxPort(2);
    openWindow();

    EXPECT_EQ(minField()->text(), "3,000");
    EXPECT_EQ(maxField()->text(), "9,999");
    EXPECT_EQ(minField()->placeholderText(), "Min");
    EXPECT_EQ(maxField()->accessibleName(), "Max");
    EXPECT_EQ(minField()->width(), 80);
    EXPECT_EQ(monitor.minPort(), 3000);
    EXPECT_EQ(monitor.maxPort(), 9999);
    EXPECT_EQ(scanCount(), 0);
    EXPECT_FALSE(store.contains("minPort"));
    EXPECT_FALSE(store.contains("maxPort"));
    EXPECT_FALSE(settingsFileWritten());
}

TEST_F(PortRangeTabTest, EveryAppearanceCopiesTheStoredValues) {
    store.setInteger("minPort", 0);
    store.setInteger("maxPort", 12345);
    SettingsWindow& w = openWindow();
    EXPECT_EQ(minField()->text(), "0");
    EXPECT_EQ(maxField()->text(), "12,345");
    // A stored 0 is copied as it is; only the monitor's start-up reads it as
    // "use the default".
    EXPECT_EQ(monitor.minPort(), 0);
    EXPECT_EQ(monitor.maxPort(), 12345);

    // Switching away and back.
    w.tabs()->setCurrentIndex(1);
    monitor.setMinPort(1);
    monitor.setMaxPort(2);
    w.tabs()->setCurrentIndex(2);
    EXPECT_EQ(monitor.minPort(), 1) << "only the Ports tab copies the range";
    w.tabs()->setCurrentIndex(0);
    EXPECT_EQ(monitor.minPort(), 0);
    EXPECT_EQ(monitor.maxPort(), 12345);

    // Closing and opening the window again.
    w.close();
    monitor.setMinPort(1);
    w.open();
    EXPECT_EQ(monitor.minPort(), 0);

    EXPECT_EQ(scanCount(), 0);
}

// A hand-edited file: bounds that are not integers show and apply the
// defaults, as absent ones do.
TEST(PortRangeTabStoredText, NonIntegerBoundsShowTheDefaults) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"minPort": "4000", "maxPort": 4500.5})");
    file.close();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    SettingsStore store(path);
    ScanRecord record;
    PortMonitor monitor(std::make_unique<RecordingScanner>(record), store,
                        [](const QString&, const QString&) {});
    monitor.setMinPort(1);
    SettingsWindow window(monitor);
    window.open();

    EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("minPortField"))->text(), "3,000");
    EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("maxPortField"))->text(), "9,999");
    EXPECT_EQ(monitor.minPort(), 3000);
    EXPECT_EQ(monitor.maxPort(), 9999);
    QLocale::setDefault(QLocale::c());
}

TEST_F(PortRangeTabTest, ReturnCommitsStoresAppliesAndScansOnce) {
    openWindow();
    record.events.clear();

    typeOver(minField(), "8,000");
    QTest::keyClick(minField(), Qt::Key_Return);
    EXPECT_EQ(store.integer("minPort"), 8000);
    EXPECT_EQ(monitor.minPort(), 8000);
    ASSERT_EQ(scanCount(), 1);
    EXPECT_EQ(record.scanMin.last(), 8000) << "the scan must use the new bound";
    EXPECT_EQ(record.events, QStringList({"stored minPort", "scan"}));
    EXPECT_EQ(minField()->text(), "8,000");

    // Plain digits parse as well and come back formatted.
    typeOver(maxField(), "65535");
    QTest::keyClick(maxField(), Qt::Key_Enter);
    EXPECT_EQ(store.integer("maxPort"), 65535);
    EXPECT_EQ(monitor.maxPort(), 65535);
    EXPECT_EQ(scanCount(), 2);
    EXPECT_EQ(record.scanMax.last(), 65535);
    EXPECT_EQ(maxField()->text(), "65,535");

    // What was stored is what the next launch reads.
    SettingsStore reread(settingsPath);
    EXPECT_EQ(reread.integer("minPort"), 8000);
    EXPECT_EQ(reread.integer("maxPort"), 65535);
}

TEST_F(PortRangeTabTest, FocusLeavingTheFieldCommits) {
    SettingsWindow& w = openWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    minField()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return minField()->hasFocus(); }));

    typeOver(minField(), "4500");
    maxField()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return maxField()->hasFocus(); }));

    EXPECT_EQ(store.integer("minPort"), 4500);
    EXPECT_EQ(monitor.minPort(), 4500);
    EXPECT_EQ(scanCount(), 1);
    EXPECT_EQ(minField()->text(), "4,500");

    // Leaving again without an edit changes nothing more.
    minField()->setFocus();
    maxField()->setFocus();
    EXPECT_EQ(scanCount(), 1);
}

TEST_F(PortRangeTabTest, UnchangedValueWritesNothingAndDoesNotScan) {
    openWindow();
    typeOver(minField(), "3000"); // the default, written without separator
    QTest::keyClick(minField(), Qt::Key_Return);
    EXPECT_EQ(minField()->text(), "3,000");
    EXPECT_FALSE(store.contains("minPort"));
    EXPECT_FALSE(settingsFileWritten());
    EXPECT_EQ(scanCount(), 0);

    store.setInteger("maxPort", 7000);
    typeOver(maxField(), "7,000");
    QTest::keyClick(maxField(), Qt::Key_Return);
    EXPECT_EQ(record.events, QStringList({"stored maxPort"})) << "only the test's own write";
    EXPECT_EQ(scanCount(), 0);
}

TEST_F(PortRangeTabTest, UnparseableTextRestoresTheValue) {
    store.setInteger("maxPort", 7000);
    openWindow();
    record.events.clear();

    for (const QString& text : {QString("abc"), QString(), QString("12x"), QString("1.5"),
                                QString("99999999999999999999")}) {
        typeOver(maxField(), text);
        QTest::keyClick(maxField(), Qt::Key_Return);
        EXPECT_EQ(maxField()->text(), "7,000") << qPrintable(text);
    }
    typeOver(minField(), "port");
    QTest::keyClick(minField(), Qt::Key_Return);
    EXPECT_EQ(minField()->text(), "3,000");

    EXPECT_TRUE(record.events.isEmpty()) << qPrintable(record.events.join(", "));
    EXPECT_EQ(store.integer("maxPort"), 7000);
    EXPECT_FALSE(store.contains("minPort"));
    EXPECT_EQ(monitor.maxPort(), 7000);
}

TEST_F(PortRangeTabTest, AnyIntegerIsAcceptedWithoutClamping) {
    openWindow();
    typeOver(minField(), "20000"); // above the upper bound 9,999
    QTest::keyClick(minField(), Qt::Key_Return);
    EXPECT_EQ(store.integer("minPort"), 20000);
    EXPECT_EQ(monitor.minPort(), 20000);
    EXPECT_EQ(monitor.maxPort(), 9999);

    typeOver(maxField(), "-5");
    QTest::keyClick(maxField(), Qt::Key_Return);
    EXPECT_EQ(store.integer("maxPort"), -5);
    EXPECT_EQ(monitor.maxPort(), -5);
    EXPECT_EQ(maxField()->text(), "-5");

    typeOver(maxField(), "0");
    QTest::keyClick(maxField(), Qt::Key_Return);
    EXPECT_TRUE(store.contains("maxPort"));
    EXPECT_EQ(store.integer("maxPort"), 0);
    EXPECT_EQ(monitor.maxPort(), 0);
    EXPECT_EQ(scanCount(), 3);
}

TEST_F(PortRangeTabTest, FollowsTheLocaleAndTheStore) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    openWindow();
    EXPECT_EQ(minField()->text(), "3.000");
    typeOver(minField(), "8.000");
    QTest::keyClick(minField(), Qt::Key_Return);
    EXPECT_EQ(store.integer("minPort"), 8000);
    EXPECT_EQ(minField()->text(), "8.000");

    // A value written elsewhere shows at once.
    store.setInteger("maxPort", 12000);
    EXPECT_EQ(maxField()->text(), "12.000");
}

} // namespace
