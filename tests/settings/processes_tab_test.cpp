#include "settings_fixture.h"

#include "settings/processes_tab.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

namespace {

class ProcessesTabTest : public SettingsTest {
protected:
    void SetUp() override {
        openWindow().tabs()->setCurrentIndex(1);
        record.events.clear();
    }

    QLineEdit* entry() { return child<QLineEdit>("processEntry"); }
    QPushButton* addButton() { return child<QPushButton>("addButton"); }
    QPushButton* resetButton() { return child<QPushButton>("resetButton"); }
    QListWidget* list() { return child<QListWidget>("allowlist"); }

    QWidget* rowWidget(const QString& name) {
        QListWidget* l = list();
        for (int i = 0; i < l->count(); ++i) {
            if (l->item(i)->data(Qt::UserRole).toString() == name)
                return l->itemWidget(l->item(i));
        }
        return nullptr;
    }
    // The names as the rows show them, top to bottom.
    QStringList shownNames() {
        QStringList names;
        QListWidget* l = list();
        for (int i = 0; i < l->count(); ++i)
            names.append(l->itemWidget(l->item(i))->findChild<QLabel*>()->text());
        return names;
    }
    QStringList savedNames() const {
        QStringList names;
        for (const QJsonValue& v : store.array("allowlist").value_or(QJsonArray()))
            names.append(v.toString());
        names.sort();
        return names;
    }
    void add(const QString& text) {
        typeOver(entry(), text);
        QTest::mouseClick(addButton(), Qt::LeftButton);
    }
    // Clicks a row's remove button the way the user does, and lets the row's
    // widgets go away.
    void clickRemove(const QString& name) {
        QWidget* row = rowWidget(name);
        ASSERT_NE(row, nullptr) << qPrintable(name);
        auto* button = row->findChild<QToolButton*>();
        list()->scrollToItem(list()->item(int(shownNames().indexOf(name))));
        ASSERT_TRUE(QTest::qWaitFor([&] { return button->isVisible(); }));
        QTest::mouseClick(button, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    const QStringList editOrder{"stored allowlist", "scan"};
};

TEST(ProcessesTabTrim, RemovesSpacesAndTabsOnlyAtTheEnds) {
    EXPECT_EQ(ProcessesTab::trimEntry(u"  node\t"), "node");
    EXPECT_EQ(ProcessesTab::trimEntry(u"\t my server \t"), "my server");
    // No-break space, ideographic space and other Zs characters count too.
    EXPECT_EQ(ProcessesTab::trimEntry(u"\u00a0\u3000node\u2003\u202f"), "node");
    // Line breaks are not spaces here, and case stays.
    EXPECT_EQ(ProcessesTab::trimEntry(u"\nNode\r\n"), "\nNode\r\n");
    EXPECT_EQ(ProcessesTab::trimEntry(u" \t\u00a0"), "");
}

TEST(ProcessesTabSort, CodePointOrderCaseSensitive) {
    const QSet<QString> names{"bun", "Python", "node", "Zeta", "_x", "a b"};
    EXPECT_EQ(ProcessesTab::sortedNames(names),
              QStringList({"Python", "Zeta", "_x", "a b", "bun", "node"}));
    // U+FF21 sorts before U+1F600 by code point, though its UTF-16 unit is
    // larger than the surrogate's.
    EXPECT_EQ(
        ProcessesTab::sortedNames({QString::fromUcs4(U"\U0001F600"), QStringLiteral("\uFF21")}),
        QStringList({QStringLiteral("\uFF21"), QString::fromUcs4(U"\U0001F600")}));
    // A decomposed "e" + acute accent sorts as the composed U+00E9, after "f".
    EXPECT_EQ(ProcessesTab::sortedNames({QStringLiteral("e\u0301"), "f"}),
              QStringList({"f", QStringLiteral("e\u0301")}));
}

TEST_F(ProcessesTabTest, ShowsTheAllowlistSortedWithHeadingsAndMonospacedNames) {
    EXPECT_EQ(shownNames(), ProcessesTab::sortedNames(settings::defaultAllowlist()));
    EXPECT_EQ(shownNames().size(), 37);
    EXPECT_LT(shownNames().indexOf("Python"), shownNames().indexOf("bun"));
    EXPECT_EQ(entry()->placeholderText(), "Add process name...");
    EXPECT_EQ(addButton()->text(), "Add");
    EXPECT_EQ(resetButton()->text(), "Reset to Defaults");
    QStringList labels;
    for (QLabel* label : window->processesTab()->findChildren<QLabel*>())
        labels.append(label->text());
    EXPECT_TRUE(labels.contains("Allowed Processes"));
    EXPECT_TRUE(labels.contains("Only these process names will be shown in the menu"));

    auto* name = rowWidget("node")->findChild<QLabel*>();
    // Monospaced: a narrow and a wide letter take the same room.
    EXPECT_EQ(name->fontMetrics().horizontalAdvance(QStringLiteral("iiii")),
              name->fontMetrics().horizontalAdvance(QStringLiteral("WWWW")));
    auto* remove = rowWidget("node")->findChild<QToolButton*>();
    EXPECT_EQ(remove->accessibleName(), "Remove node");
    EXPECT_EQ(remove->toolTip(), "Remove node");
    EXPECT_TRUE(remove->text().isEmpty() || remove->toolButtonStyle() == Qt::ToolButtonIconOnly);
    EXPECT_FALSE(remove->icon().isNull());
}

TEST_F(ProcessesTabTest, AddIsDisabledWhileTheTrimmedEntryIsEmpty) {
    EXPECT_FALSE(addButton()->isEnabled());
    typeOver(entry(), " \t\u00a0 ");
    EXPECT_FALSE(addButton()->isEnabled());
    QTest::mouseClick(addButton(), Qt::LeftButton);
    typeOver(entry(), " x ");
    EXPECT_TRUE(addButton()->isEnabled());
    typeOver(entry(), "");
    EXPECT_FALSE(addButton()->isEnabled());
    EXPECT_TRUE(record.events.isEmpty());
}

TEST_F(ProcessesTabTest, ReturnInTheEntryAddsNothing) {
    typeOver(entry(), "vite");
    QTest::keyClick(entry(), Qt::Key_Return);
    QTest::keyClick(entry(), Qt::Key_Enter);
    EXPECT_EQ(entry()->text(), "vite");
    EXPECT_FALSE(monitor->filter().allowlist->contains("vite"));
    EXPECT_TRUE(record.events.isEmpty());
    EXPECT_FALSE(settingsFileWritten());
}

TEST_F(ProcessesTabTest, AddTrimsChangesSavesScansAndClears) {
    add("\t my server  ");
    EXPECT_EQ(record.events, editOrder);
    EXPECT_TRUE(monitor->filter().allowlist->contains("my server"));
    EXPECT_TRUE(savedNames().contains("my server"));
    EXPECT_TRUE(record.scanAllowlist.last().contains("my server"))
        << "the scan must see the new name";
    EXPECT_EQ(entry()->text(), "");
    EXPECT_FALSE(addButton()->isEnabled());
    const QStringList shown = shownNames();
    EXPECT_TRUE(shown.contains("my server"));
    EXPECT_EQ(shown, ProcessesTab::sortedNames(*monitor->filter().allowlist));
}

TEST_F(ProcessesTabTest, DuplicateLeavesTheListButStillSavesAndScans) {
    const QStringList before = shownNames();
    add("node");
    EXPECT_EQ(shownNames(), before);
    EXPECT_EQ(record.events, editOrder);
    EXPECT_EQ(savedNames().size(), 37);
    EXPECT_EQ(entry()->text(), "");
}

TEST_F(ProcessesTabTest, CaseVariantsAreSeparateNames) {
    add("Node");
    const QStringList shown = shownNames();
    EXPECT_TRUE(shown.contains("Node"));
    EXPECT_TRUE(shown.contains("node"));
    EXPECT_EQ(shown.size(), 38);
    EXPECT_LT(shown.indexOf("Node"), shown.indexOf("Python")) << "code point order: 'N' < 'P'";
}

TEST_F(ProcessesTabTest, RemoveDropsTheRowSavesAndScans) {
    clickRemove("node");
    EXPECT_EQ(record.events, editOrder);
    EXPECT_FALSE(monitor->filter().allowlist->contains("node"));
    EXPECT_FALSE(shownNames().contains("node"));
    EXPECT_EQ(shownNames().size(), 36);
    EXPECT_FALSE(savedNames().contains("node"));
    EXPECT_FALSE(record.scanAllowlist.last().contains("node"));
    EXPECT_EQ(rowWidget("node"), nullptr);

    // The last rows too, down to an empty list stored as an empty array.
    for (const QString& name : shownNames())
        removeAllowed(store, name);
    EXPECT_TRUE(shownNames().isEmpty());
    addAllowed(store, "deno");
    clickRemove("deno");
    EXPECT_TRUE(shownNames().isEmpty());
    ASSERT_TRUE(store.array("allowlist").has_value());
    EXPECT_TRUE(store.array("allowlist")->isEmpty());
}

TEST_F(ProcessesTabTest, ResetRestoresTheDefaultsAndKeepsTheEntry) {
    clickRemove("node");
    add("vite");
    typeOver(entry(), "keep me");
    record.events.clear();

    QTest::mouseClick(resetButton(), Qt::LeftButton);
    EXPECT_EQ(record.events, editOrder);
    EXPECT_EQ(*monitor->filter().allowlist, settings::defaultAllowlist());
    EXPECT_EQ(shownNames(), ProcessesTab::sortedNames(settings::defaultAllowlist()));
    EXPECT_EQ(savedNames().size(), 37);
    EXPECT_EQ(entry()->text(), "keep me");

    // Already the defaults: saved and scanned all the same.
    QTest::mouseClick(resetButton(), Qt::LeftButton);
    EXPECT_EQ(record.events, editOrder + editOrder);
}

// Keyboard use: the focus stays where the next key belongs, Tab follows the
// screen, and Delete removes the selected row.
TEST_F(ProcessesTabTest, KeyboardAddRemoveAndTabOrder) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

    entry()->setFocus();
    add("vite");
    EXPECT_EQ(QApplication::focusWidget(), entry()) << "not moved on to \"Reset to Defaults\"";

    typeOver(entry(), "x");
    for (QWidget* next : {static_cast<QWidget*>(addButton()), static_cast<QWidget*>(list()),
                          static_cast<QWidget*>(child<QCheckBox>("containers")),
                          static_cast<QWidget*>(resetButton())}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    EXPECT_EQ(rowWidget("vite")->findChild<QToolButton*>()->focusPolicy(), Qt::NoFocus);

    list()->setFocus();
    list()->setCurrentRow(int(shownNames().indexOf("node")));
    const QString after = shownNames().at(shownNames().indexOf("node") + 1);
    record.events.clear();
    QTest::keyClick(list(), Qt::Key_Delete);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(record.events, editOrder);
    EXPECT_FALSE(monitor->filter().allowlist->contains("node"));
    EXPECT_EQ(list()->currentItem()->data(Qt::UserRole).toString(), after);
    EXPECT_EQ(QApplication::focusWidget(), list());
}

TEST_F(ProcessesTabTest, ListFollowsOutsideChangesAndShowsNamesVerbatim) {
    store.set(settings::allowlist, {"<b>bold</b>", "a&b", "%1"});
    EXPECT_EQ(shownNames(), QStringList({"%1", "<b>bold</b>", "a&b"}));
    EXPECT_EQ(rowWidget("<b>bold</b>")->findChild<QLabel*>()->textFormat(), Qt::PlainText);
    EXPECT_EQ(rowWidget("%1")->findChild<QToolButton*>()->accessibleName(), "Remove %1");
}

// A name's Notify box (or Space on its row) keeps it listed but quiet; the
// containers box switches their ports; both follow the file.
TEST_F(ProcessesTabTest, QuietNamesAndContainersAreStored) {
    auto* notify = rowWidget("node")->findChild<QCheckBox*>();
    ASSERT_NE(notify, nullptr);
    EXPECT_TRUE(notify->isChecked());
    QTest::mouseClick(notify, Qt::LeftButton);
    EXPECT_EQ(store.get(settings::quietProcesses), QSet<QString>{"node"});
    EXPECT_TRUE(monitor->filter().allowlist->contains("node"));

    list()->setCurrentRow(int(shownNames().indexOf("node")));
    QTest::keyClick(list(), Qt::Key_Space);
    EXPECT_TRUE(store.get(settings::quietProcesses).isEmpty());
    EXPECT_TRUE(notify->isChecked());

    store.set(settings::quietProcesses, {"node"});
    EXPECT_FALSE(notify->isChecked());

    // The boxes of the tab's own keys.
    for (const settings::Key<bool>* key : {&settings::containers, &settings::probe}) {
        SCOPED_TRACE(key->name.toStdString());
        auto* box = child<QCheckBox>(key->name.toLatin1().constData());
        EXPECT_TRUE(box->isChecked());
        QTest::mouseClick(box, Qt::LeftButton);
        EXPECT_FALSE(store.get(*key));
        store.set(*key, true);
        EXPECT_TRUE(box->isChecked());
    }
}

TEST_F(ProcessesTabTest, ClosingTheWindowEmptiesTheEntry) {
    typeOver(entry(), "half typed");
    window->close();
    window->open();
    EXPECT_EQ(window->tabs()->currentIndex(), 0);
    EXPECT_EQ(entry()->text(), "");
}

} // namespace
