#include "settings/processes_tab.h"

#include "config/settings_store.h"
#include "settings/settings_style.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

bool isEntrySpace(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

} // namespace

QString ProcessesTab::trimEntry(QStringView text) {
    // Every Zs character lies in the Basic Multilingual Plane, so looking at
    // single UTF-16 units is exact. QString::trimmed() would also drop line
    // breaks, which belong to the name.
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isEntrySpace(text[begin]))
        ++begin;
    while (end > begin && isEntrySpace(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toString();
}

QStringList ProcessesTab::sortedNames(const QSet<QString>& names) {
    // QString's own operator< compares UTF-16 units, which puts characters
    // above U+FFFF before U+E000..U+FFFF; comparing code points avoids that.
    // Names that differ only in their encoding but are canonically equal keep a
    // fixed order through the second key.
    std::vector<std::pair<QList<uint>, QString>> keyed;
    keyed.reserve(names.size());
    for (const QString& name : names)
        keyed.emplace_back(name.normalized(QString::NormalizationForm_C).toUcs4(), name);
    std::sort(keyed.begin(), keyed.end());
    QStringList sorted;
    sorted.reserve(names.size());
    for (auto& entry : keyed)
        sorted.append(std::move(entry.second));
    return sorted;
}

ProcessesTab::ProcessesTab(SettingsStore& store, QWidget* parent)
    : QWidget(parent), m_store(store) {
    auto* headline = new QLabel(tr("Allowed Processes"));
    headline->setFont(settings_style::headlineFont(headline->font()));

    auto* caption = new QLabel(tr("Only these process names will be shown in the menu"));
    caption->setFont(settings_style::captionFont(caption->font()));
    settings_style::makeSecondary(caption);

    m_entry = new QLineEdit;
    m_entry->setObjectName(QStringLiteral("processEntry"));
    m_entry->setPlaceholderText(tr("Add process name..."));
    m_entry->setAccessibleName(tr("Add process name..."));
    m_entry->setClearButtonEnabled(false);

    m_add = new QPushButton(tr("Add"));
    m_add->setObjectName(QStringLiteral("addButton"));
    // Return in the field must not press a default button.
    m_add->setAutoDefault(false);

    auto* entryRow = new QHBoxLayout;
    entryRow->addWidget(m_entry);
    entryRow->addWidget(m_add);

    m_list = new QListWidget;
    m_list->setObjectName(QStringLiteral("allowlist"));
    // One Tab stop for the whole list: arrows pick a row, Delete removes it.
    // The rows' buttons are for the mouse only, so that Tab never lands on a
    // row scrolled out of sight.
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFocusPolicy(Qt::StrongFocus);
    m_list->setAccessibleName(tr("Allowed Processes"));
    m_list->setAccessibleDescription(
        tr("Delete removes the selected name; Space turns its notifications on or off"));
    m_list->installEventFilter(this);
    m_list->setUniformItemSizes(true);
    m_list->setAlternatingRowColors(false);

    auto* resetButton = new QPushButton(tr("Reset to Defaults"));
    resetButton->setObjectName(QStringLiteral("resetButton"));
    resetButton->setAutoDefault(false);
    m_containers = new QCheckBox(tr("Show container ports"));
    m_containers->setObjectName(QStringLiteral("containers"));
    auto* resetRow = new QHBoxLayout;
    resetRow->addWidget(m_containers);
    resetRow->addStretch();
    resetRow->addWidget(resetButton);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addWidget(headline);
    layout->addWidget(caption);
    layout->addLayout(entryRow);
    layout->addWidget(m_list, 1);
    layout->addLayout(resetRow);

    setTabOrder(m_entry, m_add);
    setTabOrder(m_add, m_list);
    setTabOrder(m_list, m_containers);
    setTabOrder(m_containers, resetButton);

    connect(m_entry, &QLineEdit::textChanged, this, &ProcessesTab::updateAddEnabled);
    connect(m_add, &QPushButton::clicked, this, &ProcessesTab::add);
    connect(resetButton, &QPushButton::clicked, this, &ProcessesTab::reset);
    connect(m_containers, &QCheckBox::clicked, this,
            [this](bool shown) { m_store.set(settings::containers, shown); });
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        if (key == settings::allowlist.name)
            refreshList();
        else if (key == settings::quietProcesses.name)
            refreshNotifyChecks();
        else if (key == settings::containers.name)
            m_containers->setChecked(m_store.get(settings::containers));
    });

    updateAddEnabled();
    refreshList();
    m_containers->setChecked(m_store.get(settings::containers));
}

void ProcessesTab::clearEntry() {
    m_entry->clear();
}

void ProcessesTab::updateAddEnabled() {
    m_add->setEnabled(!trimEntry(m_entry->text()).isEmpty());
}

void ProcessesTab::add() {
    const QString name = trimEntry(m_entry->text());
    if (name.isEmpty())
        return;
    addAllowed(m_store, name);
    m_entry->clear();
    // "Add" is disabled now; without this, focus would move on to the next
    // control ("Reset to Defaults") and the next key typed would go there.
    m_entry->setFocus();
}

bool ProcessesTab::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_list || event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    const QListWidgetItem* current = m_list->currentItem();
    if (key == Qt::Key_Space && current) {
        const QString name = current->data(Qt::UserRole).toString();
        setNotifies(name, m_store.get(settings::quietProcesses).contains(name));
        return true;
    }
    if ((key != Qt::Key_Delete && key != Qt::Key_Backspace) || !current)
        return false;
    const int row = m_list->row(current);
    remove(current->data(Qt::UserRole).toString());
    // The next name (or the last one) is the one Delete removes next.
    if (m_list->count() > 0)
        m_list->setCurrentRow(std::min(row, m_list->count() - 1));
    return true;
}

void ProcessesTab::remove(const QString& name) {
    removeAllowed(m_store, name);
}

void ProcessesTab::setNotifies(const QString& name, bool notifies) {
    QSet<QString> quiet = m_store.get(settings::quietProcesses);
    if (notifies)
        quiet.remove(name);
    else
        quiet.insert(name);
    m_store.set(settings::quietProcesses, quiet);
}

void ProcessesTab::refreshNotifyChecks() {
    const QSet<QString> quiet = m_store.get(settings::quietProcesses);
    for (int row = 0; row < m_list->count(); ++row) {
        QListWidgetItem* item = m_list->item(row);
        if (auto* box = m_list->itemWidget(item)->findChild<QCheckBox*>())
            box->setChecked(!quiet.contains(item->data(Qt::UserRole).toString()));
    }
}

void ProcessesTab::reset() {
    m_store.set(settings::allowlist, settings::defaultAllowlist());
}

void ProcessesTab::refreshList() {
    // Rows are changed in place rather than rebuilt, so that the list keeps its
    // scroll position. A row's widget goes away with deleteLater(), which makes
    // removing the row from its own button's click safe.
    const QStringList wanted = sortedNames(m_store.get(settings::allowlist));
    if (wanted == m_shown)
        return;
    const QSet<QString> keep(wanted.cbegin(), wanted.cend());
    for (qsizetype row = m_shown.size() - 1; row >= 0; --row) {
        if (!keep.contains(m_shown[row])) {
            delete m_list->takeItem(int(row));
            m_shown.removeAt(row);
        }
    }
    // What is left is a subsequence of `wanted`, in the same order.
    for (qsizetype row = 0; row < wanted.size(); ++row) {
        if (row < m_shown.size() && m_shown[row] == wanted[row])
            continue;
        insertRow(int(row), wanted[row]);
    }
}

void ProcessesTab::insertRow(int position, const QString& name) {
    auto* row = new QWidget;
    auto* label = new QLabel(name);
    // Shown verbatim: never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    // Checked: its servers' starts and stops are notified.
    auto* notify = new QCheckBox(tr("Notify"));
    notify->setFocusPolicy(Qt::NoFocus);
    notify->setChecked(!m_store.get(settings::quietProcesses).contains(name));
    notify->setAccessibleName(tr("Notify about %1").arg(name));
    connect(notify, &QCheckBox::clicked, this,
            [this, name](bool checked) { setNotifies(name, checked); });

    auto* remove = new QToolButton;
    remove->setFocusPolicy(Qt::NoFocus);
    remove->setIcon(settings_style::removeIcon());
    remove->setAutoRaise(true);
    const QString description = tr("Remove %1").arg(name);
    remove->setAccessibleName(description);
    remove->setToolTip(description);
    connect(remove, &QToolButton::clicked, this, [this, name] { this->remove(name); });

    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 1, 2, 1);
    layout->addWidget(label);
    layout->addStretch();
    layout->addWidget(notify);
    layout->addWidget(remove);

    auto* item = new QListWidgetItem;
    item->setData(Qt::UserRole, name);
    item->setData(Qt::AccessibleTextRole, name);
    item->setSizeHint(row->sizeHint());
    m_list->insertItem(position, item);
    m_list->setItemWidget(item, row);
    m_shown.insert(position, name);
}
