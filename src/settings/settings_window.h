#pragma once

#include <QWidget>

class PortMonitor;

// The one settings window: tabs "Ports", "Processes" and "About".
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(PortMonitor& monitor, QWidget* parent = nullptr);

    // Shows the window, or raises and activates it when it is already shown.
    void open();

private:
    PortMonitor& m_monitor;
};
