#include "settings/hosts_tab.h"

#include "config/settings_store.h"
#include "settings/settings_style.h"

#include <QFontDatabase>
#include <algorithm>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

bool HostsTab::isDestination(const QString& text) {
    const QString host = text.trimmed();
    return !host.isEmpty() && !host.startsWith(QLatin1Char('-')) &&
           std::none_of(host.begin(), host.end(), [](QChar c) { return c.isSpace(); });
}

HostsTab::HostsTab(SettingsStore& store, QWidget* parent) : QWidget(parent), m_store(store) {
    auto* headline = new QLabel(tr("Remote Hosts"));
    headline->setFont(settings_style::headlineFont(headline->font()));
    auto* caption = new QLabel(tr("Servers on these hosts are listed too (box, me@host, ssh://me@box:2222)"));
    caption->setFont(settings_style::captionFont(caption->font()));
    settings_style::makeSecondary(caption);
    caption->setWordWrap(true);

    m_entry = new QLineEdit;
    m_entry->setObjectName(QStringLiteral("hostEntry"));
    m_entry->setPlaceholderText(tr("Add SSH host..."));
    m_entry->setAccessibleName(tr("Add host"));
    m_add = new QPushButton(tr("Add"));
    m_add->setObjectName(QStringLiteral("addHostButton"));
    m_add->setAutoDefault(false);
    auto* entryRow = new QHBoxLayout;
    entryRow->addWidget(m_entry);
    entryRow->addWidget(m_add);

    m_list = new QListWidget;
    m_list->setObjectName(QStringLiteral("hosts"));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setAccessibleName(tr("Remote Hosts"));
    m_list->setAccessibleDescription(tr("Delete removes the selected host"));
    m_list->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addWidget(headline);
    layout->addWidget(caption);
    layout->addLayout(entryRow);
    layout->addWidget(m_list, 1);

    connect(m_entry, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_add->setEnabled(isDestination(text)); });
    connect(m_entry, &QLineEdit::returnPressed, this, &HostsTab::add);
    connect(m_add, &QPushButton::clicked, this, &HostsTab::add);
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        if (key == settings::hosts.name)
            refreshList();
    });
    m_add->setEnabled(false);
    refreshList();
}

void HostsTab::clearEntry() {
    m_entry->clear();
}

void HostsTab::add() {
    const QString host = m_entry->text().trimmed();
    if (!isDestination(host))
        return;
    QStringList hosts = m_store.get(settings::hosts);
    if (!hosts.contains(host)) {
        hosts.append(host);
        m_store.set(settings::hosts, hosts);
    }
    m_entry->clear();
    m_entry->setFocus();
}

void HostsTab::remove(const QString& host) {
    QStringList hosts = m_store.get(settings::hosts);
    hosts.removeAll(host);
    m_store.set(settings::hosts, hosts);
}

bool HostsTab::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_list || event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    const QListWidgetItem* current = m_list->currentItem();
    if ((key != Qt::Key_Delete && key != Qt::Key_Backspace) || !current)
        return false;
    remove(current->data(Qt::UserRole).toString());
    return true;
}

// The list is small: made anew on every change.
void HostsTab::refreshList() {
    const QStringList wanted = m_store.get(settings::hosts);
    if (wanted == m_shown)
        return;
    m_list->clear();
    m_shown = wanted;
    for (const QString& host : wanted) {
        auto* row = new QWidget;
        auto* label = new QLabel(host);
        label->setTextFormat(Qt::PlainText);
        label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        auto* removeButton = new QToolButton;
        removeButton->setFocusPolicy(Qt::NoFocus);
        removeButton->setIcon(settings_style::removeIcon());
        removeButton->setAutoRaise(true);
        removeButton->setAccessibleName(tr("Remove %1").arg(host));
        removeButton->setToolTip(tr("Remove %1").arg(host));
        connect(removeButton, &QToolButton::clicked, this, [this, host] { remove(host); });
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(6, 1, 2, 1);
        layout->addWidget(label);
        layout->addStretch();
        layout->addWidget(removeButton);
        auto* item = new QListWidgetItem;
        item->setData(Qt::UserRole, host);
        item->setData(Qt::AccessibleTextRole, host);
        item->setSizeHint(row->sizeHint());
        m_list->addItem(item);
        m_list->setItemWidget(item, row);
    }
}
