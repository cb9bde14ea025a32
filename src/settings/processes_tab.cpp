#include "settings/processes_tab.h"

#include "config/settings_store.h"
#include "settings/list_editor.h"
#include "settings/settings_style.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
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
    caption->setWordWrap(true);

    m_editor = new ListEditor(
        {tr("Add process name..."), tr("Allowed Processes"),
         tr("Delete removes the selected name; Space turns its notifications on or off"),
         tr("Remove %1")},
        [](const QString& text) { return trimEntry(text); });
    m_editor->entry()->setObjectName(QStringLiteral("processEntry"));
    m_editor->addButton()->setObjectName(QStringLiteral("addButton"));
    m_editor->list()->setObjectName(QStringLiteral("allowlist"));
    // Checked: the name's servers' starts and stops are notified.
    m_editor->setRowControl([this](const QString& name) {
        auto* notify = new QCheckBox(tr("Notify"));
        notify->setChecked(!m_store.get(settings::quietProcesses).contains(name));
        notify->setAccessibleName(tr("Notify about %1").arg(name));
        connect(notify, &QCheckBox::clicked, this,
                [this, name](bool checked) { setNotifies(name, checked); });
        return notify;
    });

    auto* resetButton = new QPushButton(tr("Reset to Defaults"));
    resetButton->setObjectName(QStringLiteral("resetButton"));
    resetButton->setAutoDefault(false);
    m_containers = new QCheckBox(tr("Show container ports"));
    m_containers->setObjectName(QStringLiteral("containers"));
    // Off, nothing connects to the servers at all.
    m_probe = new QCheckBox(tr("Look at what answers on each port"));
    m_probe->setObjectName(QStringLiteral("probe"));
    m_probe->setToolTip(tr("One short look per server: TLS or not, the status and the page's "
                           "title. Nothing of it leaves this machine."));
    auto* resetRow = new QHBoxLayout;
    resetRow->addWidget(m_containers);
    resetRow->addStretch();
    resetRow->addWidget(resetButton);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addWidget(headline);
    layout->addWidget(caption);
    layout->addWidget(m_editor, 1);
    layout->addLayout(resetRow);
    layout->addWidget(m_probe);

    setTabOrder(m_editor->list(), m_containers);
    setTabOrder(m_containers, resetButton);
    setTabOrder(resetButton, m_probe);

    connect(m_editor, &ListEditor::addRequested, this,
            [this](const QString& name) { addAllowed(m_store, name); });
    connect(m_editor, &ListEditor::removeRequested, this,
            [this](const QString& name) { removeAllowed(m_store, name); });
    connect(m_editor, &ListEditor::toggleRequested, this, [this](const QString& name) {
        setNotifies(name, m_store.get(settings::quietProcesses).contains(name));
    });
    connect(resetButton, &QPushButton::clicked, this,
            [this] { m_store.set(settings::allowlist, settings::defaultAllowlist()); });
    connect(m_containers, &QCheckBox::clicked, this,
            [this](bool shown) { m_store.set(settings::containers, shown); });
    connect(m_probe, &QCheckBox::clicked, this,
            [this](bool looks) { m_store.set(settings::probe, looks); });
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        if (key == settings::allowlist.name)
            m_editor->setEntries(sortedNames(m_store.get(settings::allowlist)));
        else if (key == settings::quietProcesses.name)
            refreshNotifyChecks();
        else if (key == settings::containers.name)
            m_containers->setChecked(m_store.get(settings::containers));
        else if (key == settings::probe.name)
            m_probe->setChecked(m_store.get(settings::probe));
    });

    m_editor->setEntries(sortedNames(m_store.get(settings::allowlist)));
    m_containers->setChecked(m_store.get(settings::containers));
    m_probe->setChecked(m_store.get(settings::probe));
}

void ProcessesTab::clearEntry() {
    m_editor->clearEntry();
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
    for (const QString& name : m_editor->entries()) {
        if (auto* box = qobject_cast<QCheckBox*>(m_editor->rowControl(name)))
            box->setChecked(!quiet.contains(name));
    }
}
