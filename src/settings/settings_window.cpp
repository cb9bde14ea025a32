#include "settings/settings_window.h"

#include "config/settings_store.h"
#include "settings/about_tab.h"
#include "settings/hosts_tab.h"
#include "settings/port_range_tab.h"
#include "settings/processes_tab.h"
#include "settings/settings_style.h"

#include <QHideEvent>
#include <QLabel>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

SettingsWindow::SettingsWindow(SettingsStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window), m_store(store) {
    setObjectName(QStringLiteral("settings"));
    setWindowTitle(tr("Settings"));

    m_portRange = new PortRangeTab(m_store);
    m_processes = new ProcessesTab(m_store);
    m_hosts = new HostsTab(m_store);
    m_about = new AboutTab;

    m_tabs = new QTabWidget;
    m_tabs->setDocumentMode(false);
    m_tabs->addTab(m_portRange, settings_style::numberIcon(), tr("Ports"));
    m_tabs->addTab(m_processes, settings_style::listIcon(), tr("Processes"));
    m_tabs->addTab(m_hosts, settings_style::hostsIcon(), tr("Hosts"));
    m_tabs->addTab(m_about, settings_style::infoIcon(), tr("About"));
    m_tabs->setCurrentIndex(0);

    m_saveError = new QLabel;
    m_saveError->setObjectName(QStringLiteral("saveError"));
    m_saveError->setTextFormat(Qt::PlainText);
    m_saveError->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_saveError);
    showSaveError();
    connect(&m_store, &SettingsStore::saveErrorChanged, this, &SettingsWindow::showSaveError);

    // The window takes its size from this fixed content and cannot be resized.
    setFixedSize(400, 350);

    // Escape and Ctrl+W close it, as they do other desktop settings windows.
    // A field being edited commits as focus leaves it.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
}

void SettingsWindow::showSaveError() {
    const QString& why = m_store.saveError();
    m_saveError->setText(tr("Settings could not be saved: %1").arg(why));
    m_saveError->setVisible(!why.isEmpty());
}

void SettingsWindow::open() {
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void SettingsWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Closing the window discards what it showed, so the next opening starts
    // like a new window: on "Ports", with an empty entry field. A spontaneous
    // hide is minimising, which keeps everything.
    if (event->spontaneous())
        return;
    m_tabs->setCurrentIndex(0);
    m_processes->clearEntry();
    m_hosts->clearEntry();
}
