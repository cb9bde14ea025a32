#include "settings/settings_window.h"

#include "monitor/port_monitor.h"

SettingsWindow::SettingsWindow(PortMonitor& monitor, QWidget* parent)
    : QWidget(parent), m_monitor(monitor) {
    setWindowTitle(tr("Settings"));
}

void SettingsWindow::open() {
    show();
    raise();
    activateWindow();
}
