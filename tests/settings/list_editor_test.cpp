// The Processes and Hosts tabs share one list editor: what is added is
// selected and scrolled into view; Return adds where the tab says so.
#include "settings_fixture.h"

#include "settings/hosts_tab.h"
#include "settings/list_editor.h"
#include "settings/processes_tab.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

namespace {

using ListEditorTest = SettingsTest;

TEST_F(ListEditorTest, WhatIsAddedIsSelectedAndInSight) {
    SettingsWindow& shown = openWindow();
    const struct {
        int tab;
        ListEditor* editor;
        const char* added;
        bool returnAdds;
        QStringList (*stored)(const SettingsStore&);
    } tabs[] = {
        {1, shown.processesTab()->editor(), "zz-last-name", false,
         [](const SettingsStore& s) { return QStringList(s.get(settings::allowlist).values()); }},
        {2, shown.hostsTab()->editor(), "me@box", true,
         [](const SettingsStore& s) { return s.get(settings::hosts); }},
    };
    for (const auto& tab : tabs) {
        SCOPED_TRACE(tab.added);
        shown.tabs()->setCurrentIndex(tab.tab);
        ListEditor* editor = tab.editor;
        if (tab.tab == 2) // enough hosts that the list scrolls
            for (int i = 0; i < 40; ++i)
                store.set(settings::hosts, store.get(settings::hosts)
                                               << QStringLiteral("h%1").arg(i));
        editor->list()->scrollToTop();

        typeOver(editor->entry(), QString::fromLatin1(tab.added));
        QTest::keyClick(editor->entry(), Qt::Key_Return);
        EXPECT_EQ(tab.stored(store).contains(tab.added), tab.returnAdds);
        if (!tab.returnAdds)
            QTest::mouseClick(editor->addButton(), Qt::LeftButton);
        ASSERT_TRUE(tab.stored(store).contains(tab.added));
        EXPECT_EQ(editor->entry()->text(), "");
        EXPECT_EQ(editor->currentName(), tab.added);
        QListWidget* list = editor->list();
        const QRect row = list->visualItemRect(list->currentItem());
        EXPECT_TRUE(list->viewport()->rect().contains(row)) << "scrolled into view";

        // Added again: nothing changes, and it is shown once more.
        list->scrollToTop();
        typeOver(editor->entry(), QString::fromLatin1(tab.added));
        QTest::mouseClick(editor->addButton(), Qt::LeftButton);
        EXPECT_EQ(editor->entries().count(tab.added), 1);
        EXPECT_TRUE(list->viewport()->rect().contains(list->visualItemRect(list->currentItem())));
    }
}

// What a host may be, in the settings file, the Hosts tab and --host alike.
TEST(SshDestination, OneRuleEverywhere) {
    const struct {
        const char* text;
        bool destination;
    } cases[] = {{"box", true},
                 {"me@10.0.0.5", true},
                 {"ssh://me@box:2222", true},
                 {"", false},
                 {"-oProxyCommand=x", false},
                 {"me @box", false},
                 {"box\x1b]0;x", false},
                 {"box\t", false}};
    for (const auto& c : cases)
        EXPECT_EQ(settings::isSshDestination(QString::fromLatin1(c.text)), c.destination) << c.text;
}

// The examples in the Hosts tab's hint never break inside.
TEST_F(ListEditorTest, HintsWrapAtSpacesOnly) {
    SettingsWindow& shown = openWindow();
    bool found = false;
    for (QLabel* label : shown.hostsTab()->findChildren<QLabel*>()) {
        if (!label->text().contains("ssh://me@box:2222"))
            continue;
        found = true;
        EXPECT_TRUE(label->text().contains("white-space:nowrap\">ssh://me@box:2222</span>"))
            << label->text().toStdString();
        EXPECT_TRUE(label->wordWrap());
    }
    EXPECT_TRUE(found);
}

} // namespace
