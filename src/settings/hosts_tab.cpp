#include "settings/hosts_tab.h"

#include "config/settings_store.h"
#include "settings/list_editor.h"
#include "settings/settings_style.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

HostsTab::HostsTab(SettingsStore& store, QWidget* parent) : QWidget(parent), m_store(store) {
    auto* headline = new QLabel(tr("Remote Hosts"));
    headline->setFont(settings_style::headlineFont(headline->font()));
    auto* caption = new QLabel(settings_style::unbrokenExamples(
        tr("Servers on these hosts are listed too (%1)"),
        {QStringLiteral("box"), QStringLiteral("me@host"), QStringLiteral("ssh://me@box:2222")}));
    caption->setFont(settings_style::captionFont(caption->font()));
    settings_style::makeSecondary(caption);
    caption->setWordWrap(true);

    m_editor = new ListEditor({tr("Add SSH host..."), tr("Remote Hosts"),
                               tr("Delete removes the selected host"), tr("Remove %1")},
                              [](const QString& text) {
                                  const QString host = text.trimmed();
                                  return settings::isSshDestination(host) ? host : QString();
                              });
    m_editor->entry()->setObjectName(QStringLiteral("hostEntry"));
    m_editor->addButton()->setObjectName(QStringLiteral("addHostButton"));
    m_editor->list()->setObjectName(QStringLiteral("hosts"));
    m_editor->setAddOnReturn(true);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addWidget(headline);
    layout->addWidget(caption);
    layout->addWidget(m_editor, 1);

    connect(m_editor, &ListEditor::addRequested, this, &HostsTab::add);
    connect(m_editor, &ListEditor::removeRequested, this, &HostsTab::remove);
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        if (key == settings::hosts.name)
            m_editor->setEntries(m_store.get(settings::hosts));
    });
    m_editor->setEntries(m_store.get(settings::hosts));
}

void HostsTab::clearEntry() {
    m_editor->clearEntry();
}

void HostsTab::add(const QString& host) {
    QStringList hosts = m_store.get(settings::hosts);
    if (!hosts.contains(host)) {
        hosts.append(host);
        m_store.set(settings::hosts, hosts);
    }
}

void HostsTab::remove(const QString& host) {
    QStringList hosts = m_store.get(settings::hosts);
    hosts.removeAll(host);
    m_store.set(settings::hosts, hosts);
}
