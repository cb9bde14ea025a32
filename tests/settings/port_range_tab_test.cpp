#include "settings_fixture.h"

#include "settings/port_range_tab.h"

#include "platform/autostart.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QTabWidget>

namespace {

class PortRangeTabTest : public SettingsTest {
protected:
    QLineEdit* minField() { return child<QLineEdit>("minPortField"); }
    QLineEdit* maxField() { return child<QLineEdit>("maxPortField"); }
};

TEST_F(PortRangeTabTest, ShowingTheTabCopiesTheDefaultsWithoutScanOrWrite) {
    openWindow();

    EXPECT_EQ(minField()->text(), "3,000");
    EXPECT_EQ(maxField()->text(), "9,999");
    EXPECT_EQ(minField()->placeholderText(), "Min");
    EXPECT_EQ(maxField()->accessibleName(), "Max");
    EXPECT_EQ(minField()->width(), 80);
    EXPECT_EQ(monitor->filter().minPort, 3000);
    EXPECT_EQ(monitor->filter().maxPort, 9999);
    EXPECT_EQ(scanCount(), 0);
    EXPECT_FALSE(store.contains("minPort"));
    EXPECT_FALSE(store.contains("maxPort"));
    EXPECT_FALSE(settingsFileWritten());
}

TEST_F(PortRangeTabTest, EveryAppearanceCopiesTheStoredValues) {
    store.setInteger("minPort", 0);
    store.setInteger("maxPort", 12345);
    SettingsWindow& w = openWindow();
    EXPECT_EQ(minField()->text(), "3,000") << "a stored 0 means the default";
    EXPECT_EQ(maxField()->text(), "12,345");
    EXPECT_EQ(monitor->filter().minPort, 3000);
    EXPECT_EQ(monitor->filter().maxPort, 12345);
    const int scans = scanCount();

    // Switching away and back.
    w.tabs()->setCurrentIndex(1);
    w.tabs()->setCurrentIndex(2);
    w.tabs()->setCurrentIndex(0);
    EXPECT_EQ(monitor->filter().minPort, 3000);
    EXPECT_EQ(monitor->filter().maxPort, 12345);

    // Closing and opening the window again.
    w.close();
    w.open();
    EXPECT_EQ(monitor->filter().minPort, 3000);

    EXPECT_EQ(scanCount(), scans);
}

// Stored bounds of 0 or less, or not whole numbers, mean the default in the
// tab as at start, and the tab leaves them in the file until the user edits
// that bound.
TEST(PortRangeTabStoredText, UnusableBoundsShowTheDefaultsAndStayUntilEdited) {
    for (const QByteArray& json : {QByteArray(R"({"minPort": 0, "maxPort": -4})"),
                                   QByteArray(R"({"minPort": "4000", "maxPort": 4500.5})"),
                                   QByteArray(R"({"minPort": -1, "maxPort": [1]})")}) {
        SCOPED_TRACE(json.toStdString());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        SettingsStore store(path);
        ScanRecord record;
        auto monitor = std::make_unique<PortMonitor>(store, recordingRegistry(record));
        monitor->start();
        EXPECT_EQ(monitor->filter().minPort, 3000);
        EXPECT_EQ(monitor->filter().maxPort, 9999);
        SettingsWindow window(store);
        window.open();
        auto* min = window.findChild<QLineEdit*>(QStringLiteral("minPortField"));
        auto* max = window.findChild<QLineEdit*>(QStringLiteral("maxPortField"));
        EXPECT_EQ(min->text(), "3,000");
        EXPECT_EQ(max->text(), "9,999");
        EXPECT_EQ(monitor->filter().minPort, 3000);
        EXPECT_EQ(monitor->filter().maxPort, 9999);

        QTest::keyClick(min, Qt::Key_Return);
        QTest::keyClick(max, Qt::Key_Return);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), json) << "nothing written";
        file.close();

        typeOver(max, "5000");
        QTest::keyClick(max, Qt::Key_Return);
        EXPECT_EQ(monitor->filter().maxPort, 5000);
        EXPECT_EQ(SettingsStore(path).values().maxPort, 5000);
        EXPECT_EQ(min->text(), "3,000");
        QLocale::setDefault(QLocale::c());
    }
}

TEST_F(PortRangeTabTest, FromAboveToIsExplainedWhileItHolds) {
    openWindow();
    auto* warning = child<QLabel>("rangeWarning");
    EXPECT_TRUE(warning->isHidden());

    typeOver(minField(), "12000");
    QTest::keyClick(minField(), Qt::Key_Return);
    EXPECT_FALSE(warning->isHidden());
    EXPECT_EQ(warning->text(), "No port can match: From is above To.");
    EXPECT_EQ(monitor->filter().minPort, 12000) << "the range applies as stored";

    typeOver(maxField(), "12000");
    QTest::keyClick(maxField(), Qt::Key_Return);
    EXPECT_TRUE(warning->isHidden()) << "From equal to To matches one port";

    store.setInteger("maxPort", 11999); // an edit from elsewhere
    EXPECT_FALSE(warning->isHidden());
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
    auto monitor = std::make_unique<PortMonitor>(store, recordingRegistry(record));
    SettingsWindow window(store);
    window.open();

    EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("minPortField"))->text(), "3,000");
    EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("maxPortField"))->text(), "9,999");
    EXPECT_EQ(monitor->filter().minPort, 3000);
    EXPECT_EQ(monitor->filter().maxPort, 9999);
    QLocale::setDefault(QLocale::c());
}

TEST_F(PortRangeTabTest, ReturnCommitsStoresAppliesAndScansOnce) {
    openWindow();
    record.events.clear();

    typeOver(minField(), "8,000");
    QTest::keyClick(minField(), Qt::Key_Return);
    EXPECT_EQ(store.integer("minPort"), 8000);
    EXPECT_EQ(monitor->filter().minPort, 8000);
    ASSERT_EQ(scanCount(), 1);
    EXPECT_EQ(record.scanMin.last(), 8000) << "the scan must use the new bound";
    // The monitor scans as the store announces the value, so the order of the
    // two records depends on who listens first.
    record.events.sort();
    EXPECT_EQ(record.events, QStringList({"scan", "stored minPort"}));
    EXPECT_EQ(minField()->text(), "8,000");

    // Plain digits parse as well and come back formatted.
    typeOver(maxField(), "65535");
    QTest::keyClick(maxField(), Qt::Key_Enter);
    EXPECT_EQ(store.integer("maxPort"), 65535);
    EXPECT_EQ(monitor->filter().maxPort, 65535);
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
    EXPECT_EQ(monitor->filter().minPort, 4500);
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
    record.events.clear();
    typeOver(maxField(), "7,000");
    QTest::keyClick(maxField(), Qt::Key_Return);
    EXPECT_TRUE(record.events.isEmpty()) << qPrintable(record.events.join(", "));
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
    EXPECT_EQ(monitor->filter().maxPort, 7000);
}

TEST_F(PortRangeTabTest, AnyBoundAboveZeroIsAcceptedWithoutClamping) {
    openWindow();
    typeOver(minField(), "20000"); // above the upper bound 9,999
    QTest::keyClick(minField(), Qt::Key_Return);
    EXPECT_EQ(store.integer("minPort"), 20000);
    EXPECT_EQ(monitor->filter().minPort, 20000);
    EXPECT_EQ(monitor->filter().maxPort, 9999);
    EXPECT_EQ(scanCount(), 1);

    // 0 or less would mean the default: the field goes back, as for text.
    for (const char* text : {"-5", "0"}) {
        typeOver(maxField(), text);
        QTest::keyClick(maxField(), Qt::Key_Return);
        EXPECT_EQ(maxField()->text(), "9,999") << text;
    }
    EXPECT_FALSE(store.contains("maxPort"));
    EXPECT_EQ(scanCount(), 1);
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

// Start at login writes the autostart entry under XDG_CONFIG_HOME and shows
// the entry as it is when the tab appears again, also after edits by hand.
TEST_F(PortRangeTabTest, StartAtLoginWritesTheEntryAndShowsWhatIsThere) {
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    const bool hadPrevious = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    const QString entry = config.filePath("autostart/harborwatch.desktop");

    SettingsWindow& w = openWindow();
    auto* box = child<QCheckBox>("startAtLoginBox");
    EXPECT_FALSE(box->isChecked());
    box->click();
    EXPECT_TRUE(box->isChecked());
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains(
        "\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + "\n"));
    file.close();

    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("Hidden=true\n"); // turned off by hand
    file.close();
    w.close();
    w.open();
    EXPECT_FALSE(box->isChecked());
    box->click();
    EXPECT_TRUE(autostart::isEnabled(entry));
    box->click();
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_TRUE(child<QLabel>("startAtLoginError")->isHidden());

    if (hadPrevious)
        qputenv("XDG_CONFIG_HOME", previous);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

} // namespace
