#include "settings_fixture.h"

#include "settings/about_tab.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

namespace {

using SettingsWindowTest = SettingsTest;

bool hasInk(const QIcon& icon) {
    const QImage image = icon.pixmap(16, 16).toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0)
                return true;
        }
    }
    return false;
}

TEST_F(SettingsWindowTest, TitleFixedSizeAndTabs) {
    SettingsWindow& w = openWindow();
    EXPECT_EQ(w.windowTitle(), "Settings");
    EXPECT_TRUE(w.isWindow());
    EXPECT_EQ(w.size(), QSize(400, 350));
    EXPECT_EQ(w.minimumSize(), QSize(400, 350));
    EXPECT_EQ(w.maximumSize(), QSize(400, 350));

    QTabWidget* tabs = w.tabs();
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(0), "Ports");
    EXPECT_EQ(tabs->tabText(1), "Processes");
    EXPECT_EQ(tabs->tabText(2), "Hosts");
    EXPECT_EQ(tabs->tabText(3), "About");
    for (int i = 0; i < tabs->count(); ++i)
        EXPECT_TRUE(hasInk(tabs->tabIcon(i))) << i;
    EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST_F(SettingsWindowTest, OpeningTwiceKeepsOneWindow) {
    SettingsWindow& w = openWindow();
    w.tabs()->setCurrentIndex(2);
    w.open();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.tabs()->currentIndex(), 2) << "opening an open window changes nothing in it";
    int settingsWindows = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        settingsWindows += qobject_cast<SettingsWindow*>(top) != nullptr && top->isVisible();
    EXPECT_EQ(settingsWindows, 1);

    w.showMinimized();
    w.open();
    EXPECT_FALSE(w.isMinimized());
    EXPECT_TRUE(w.isVisible());
}

TEST_F(SettingsWindowTest, EscapeClosesAndCommitsTheFieldBeingEdited) {
    SettingsWindow& w = openWindow();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto* field = child<QLineEdit>("minPortField");
    field->setFocus();
    typeOver(field, "4,000");
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(store.integer("minPort"), 4000);

    w.open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(SettingsWindowTest, AboutTabTextsAndLayout) {
    SettingsWindow& w = openWindow();
    w.tabs()->setCurrentWidget(w.aboutTab());
    AboutTab* about = w.aboutTab();

    const QString description = "A simple menu bar app to monitor local development servers "
                                "and the ports they're running on.";
    const QStringList expected{"", "Harborwatch", "Version 1.0", description, "Created by Vesk"};
    QList<QLabel*> labels = about->findChildren<QLabel*>();
    std::sort(labels.begin(), labels.end(),
              [](QLabel* a, QLabel* b) { return a->geometry().top() < b->geometry().top(); });
    QStringList texts;
    for (QLabel* label : labels)
        texts.append(label->text());
    EXPECT_EQ(texts, expected) << "top to bottom";

    QLabel* symbol = labels.first();
    EXPECT_FALSE(symbol->pixmap().isNull());
    EXPECT_EQ(symbol->pixmap().deviceIndependentSize().toSize(), QSize(64, 64));
    EXPECT_TRUE(labels[1]->font().bold());

    // The description wraps onto several centred lines inside the tab, and
    // everything stays at the top with the free space below.
    QLabel* text = labels[3];
    EXPECT_TRUE(text->wordWrap());
    EXPECT_GT(text->height(), 2 * text->fontMetrics().height() - 1);
    EXPECT_LE(text->geometry().right(), about->width());
    EXPECT_TRUE(text->alignment() & Qt::AlignHCenter);
    EXPECT_LT(labels.last()->geometry().bottom(), about->height() - 20);
}

// The save goes through a file standing where the settings folder should be:
// it fails for root as for anyone else.
TEST(SettingsWindowSaveError, AFailedSaveIsShownUnderTheTabsUntilASaveSucceeds) {
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("harborwatch"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    SettingsStore store(blocker + QStringLiteral("/settings.json"));
    ScanRecord record;
    auto monitor = std::make_unique<PortMonitor>(store, recordingRegistry(record));
    SettingsWindow window(store);
    window.open();
    QLabel* line = window.saveErrorLine();
    EXPECT_TRUE(line->isHidden());

    auto* entry = window.findChild<QLineEdit*>(QStringLiteral("processEntry"));
    auto* add = window.findChild<QPushButton*>(QStringLiteral("addButton"));
    window.tabs()->setCurrentIndex(1);
    typeOver(entry, "caddy");
    add->click();
    ASSERT_TRUE(monitor->filter().allowlist->contains("caddy")) << "in force for this run";
    EXPECT_FALSE(line->isHidden());
    EXPECT_TRUE(line->text().startsWith("Settings could not be saved: "))
        << line->text().toStdString();
    EXPECT_GT(line->text().size(), QStringLiteral("Settings could not be saved: ").size());

    ASSERT_TRUE(QFile::remove(blocker));
    typeOver(entry, "deno");
    add->click();
    EXPECT_TRUE(line->isHidden());
    EXPECT_TRUE(SettingsStore(store.filePath()).values().allowlist.contains("caddy"));
}

} // namespace
