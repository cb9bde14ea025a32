#include "settings/hosts_tab.h"

#include "config/settings_store.h"
#include "settings/list_editor.h"
#include "settings/settings_style.h"

#include <QCheckBox>
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
                               tr("Delete removes the selected host; Space turns forwarding its "
                                  "new servers on or off"),
                               tr("Remove %1")},
                              [](const QString& text) {
                                  const QString host = text.trimmed();
                                  return settings::isSshDestination(host) ? host : QString();
                              });
    m_editor->entry()->setObjectName(QStringLiteral("hostEntry"));
    m_editor->addButton()->setObjectName(QStringLiteral("addHostButton"));
    m_editor->list()->setObjectName(QStringLiteral("hosts"));
    m_editor->setAddOnReturn(true);
    // Checked: a server that starts on the host is forwarded here at once.
    m_editor->setRowControl([this](const QString& host) {
        auto* forwards = new QCheckBox(tr("Forward new servers"));
        forwards->setChecked(m_store.get(settings::autoForward).contains(host));
        forwards->setAccessibleName(tr("Forward new servers of %1").arg(host));
        connect(forwards, &QCheckBox::clicked, this,
                [this, host](bool checked) { setAutoForward(m_store, host, checked); });
        return forwards;
    });

    m_restore = new QCheckBox(tr("Restore forwards at start"));
    m_restore->setObjectName(QStringLiteral("restoreForwards"));
    m_restore->setToolTip(tr("The forwards you made and did not stop are set up again when "
                             "Harborwatch starts and their host connects."));

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addWidget(headline);
    layout->addWidget(caption);
    layout->addWidget(m_editor, 1);
    layout->addWidget(m_restore);
    setTabOrder(m_editor->list(), m_restore);

    connect(m_editor, &ListEditor::addRequested, this, &HostsTab::add);
    connect(m_editor, &ListEditor::removeRequested, this, &HostsTab::remove);
    connect(m_editor, &ListEditor::toggleRequested, this, [this](const QString& host) {
        setAutoForward(m_store, host, !m_store.get(settings::autoForward).contains(host));
    });
    connect(m_restore, &QCheckBox::clicked, this,
            [this](bool restores) { m_store.set(settings::restoreForwards, restores); });
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        if (key == settings::hosts.name)
            m_editor->setEntries(m_store.get(settings::hosts));
        else if (key == settings::autoForward.name)
            refreshForwardChecks();
        else if (key == settings::restoreForwards.name)
            m_restore->setChecked(m_store.get(settings::restoreForwards));
    });
    m_editor->setEntries(m_store.get(settings::hosts));
    m_restore->setChecked(m_store.get(settings::restoreForwards));
}

void HostsTab::refreshForwardChecks() {
    const QStringList hosts = m_store.get(settings::autoForward);
    for (const QString& host : m_editor->entries()) {
        if (auto* box = qobject_cast<QCheckBox*>(m_editor->rowControl(host)))
            box->setChecked(hosts.contains(host));
    }
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
    // A host added again later starts with nothing of before.
    forgetForwardsOf(m_store, host);
    setAutoForward(m_store, host, false);
}
