#include "settings/port_range_tab.h"

#include "config/settings_store.h"
#include "platform/autostart.h"
#include "settings/settings_style.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QShowEvent>
#include <QVBoxLayout>

PortRangeTab::PortRangeTab(SettingsStore& store, QWidget* parent)
    : QWidget(parent), m_store(store), m_min{settings::minPort}, m_max{settings::maxPort} {
    auto* group = new QGroupBox(tr("Port Range"));

    auto makeField = [this](const QString& title, const QString& name) {
        auto* field = new QLineEdit;
        field->setObjectName(name);
        field->setPlaceholderText(title);
        field->setAccessibleName(title);
        field->setFixedWidth(80);
        return field;
    };
    m_min.field = makeField(tr("Min"), QStringLiteral("minPortField"));
    m_max.field = makeField(tr("Max"), QStringLiteral("maxPortField"));

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("From:")));
    row->addWidget(m_min.field);
    row->addWidget(new QLabel(tr("To:")));
    row->addWidget(m_max.field);
    row->addStretch();

    auto* caption = new QLabel(tr("Only show ports within this range"));
    caption->setFont(settings_style::captionFont(caption->font()));
    settings_style::makeSecondary(caption);

    m_warning = new QLabel(tr("No port can match: From is above To."));
    m_warning->setObjectName(QStringLiteral("rangeWarning"));
    m_warning->setWordWrap(true);

    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(row);
    groupLayout->addWidget(caption);
    groupLayout->addWidget(m_warning);

    auto* general = new QGroupBox(tr("General"));
    m_startAtLogin = new QCheckBox(tr("Start at login"));
    m_startAtLogin->setObjectName(QStringLiteral("startAtLoginBox"));
    m_startAtLoginError = new QLabel;
    m_startAtLoginError->setObjectName(QStringLiteral("startAtLoginError"));
    m_startAtLoginError->setTextFormat(Qt::PlainText);
    m_startAtLoginError->setWordWrap(true);
    m_startAtLoginError->hide();
    auto* generalLayout = new QVBoxLayout(general);
    generalLayout->addWidget(m_startAtLogin);
    generalLayout->addWidget(m_startAtLoginError);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(general);
    layout->addStretch();
    // Headings as the other tabs have them, whatever the style draws.
    settings_style::boldTitle(group);
    settings_style::boldTitle(general);

    display(m_min);
    display(m_max);
    showStartAtLogin();

    // Only the user's click changes the entry, not showing what is there.
    connect(m_startAtLogin, &QCheckBox::clicked, this, &PortRangeTab::setStartAtLogin);
    // Return and focus leaving the field both finish an edit.
    connect(m_min.field, &QLineEdit::editingFinished, this, [this] { commit(m_min); });
    connect(m_max.field, &QLineEdit::editingFinished, this, [this] { commit(m_max); });
    connect(&m_store, &SettingsStore::changed, this, &PortRangeTab::storeChanged);
}

qint64 PortRangeTab::minPort() const {
    return value(m_min);
}
qint64 PortRangeTab::maxPort() const {
    return value(m_max);
}

qint64 PortRangeTab::value(const Bound& bound) const {
    return m_store.get(bound.key);
}

void PortRangeTab::display(const Bound& bound) {
    bound.field->setText(QLocale().toString(value(bound)));
    updateWarning();
}

void PortRangeTab::updateWarning() {
    // The range is applied as it is; the line only explains an empty menu.
    m_warning->setVisible(value(m_min) > value(m_max));
}

void PortRangeTab::commit(const Bound& bound) {
    bool ok = false;
    // Accepts the locale's grouping separators and plain digits alike. Any
    // integer above 0 is taken as it is, also a lower bound above the upper
    // one. The monitor follows the store and scans.
    const qint64 entered = QLocale().toLongLong(bound.field->text(), &ok);
    if (ok && entered > 0 && entered != value(bound))
        m_store.set(bound.key, entered);
    // Text that did not parse, and 0 or less, which would mean the default,
    // go back to the value; a taken one is shown in the locale's format.
    display(bound);
}

void PortRangeTab::storeChanged(const QString& key) {
    for (const Bound* bound : {&m_min, &m_max}) {
        // Leave text the user is typing alone; finishing the edit shows the
        // value anyway.
        if (key == bound->key.name && !(bound->field->hasFocus() && bound->field->isModified()))
            display(*bound);
    }
    updateWarning();
}

void PortRangeTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A spontaneous show is the window coming back from being minimised, not
    // the tab appearing.
    if (event->spontaneous())
        return;
    display(m_min);
    display(m_max);
    showStartAtLogin();
}

void PortRangeTab::showStartAtLogin() {
    m_startAtLogin->setChecked(autostart::isEnabled(autostart::entryPath()));
}

void PortRangeTab::setStartAtLogin(bool enabled) {
    const QString problem = autostart::setEnabled(autostart::entryPath(), enabled,
                                                  QCoreApplication::applicationFilePath());
    m_startAtLoginError->setText(tr("Start at login could not be changed: %1").arg(problem));
    m_startAtLoginError->setVisible(!problem.isEmpty());
    // What the entry says now, also when it could not be changed.
    showStartAtLogin();
}

void PortRangeTab::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        display(m_min);
        display(m_max);
    }
}
