#pragma once

#include <QWidget>

class AboutTab;
class PortMonitor;
class PortRangeTab;
class ProcessesTab;
class QTabWidget;

// The one settings window: tabs "Ports", "Processes" and "About". Its content
// area is a fixed 400 x 350.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(PortMonitor& monitor, QWidget* parent = nullptr);

    // Shows the window, or raises and activates it when it is already shown.
    void open();

    QTabWidget* tabs() const { return m_tabs; }
    PortRangeTab* portRangeTab() const { return m_portRange; }
    ProcessesTab* processesTab() const { return m_processes; }
    AboutTab* aboutTab() const { return m_about; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    PortMonitor& m_monitor;
    QTabWidget* m_tabs = nullptr;
    PortRangeTab* m_portRange = nullptr;
    ProcessesTab* m_processes = nullptr;
    AboutTab* m_about = nullptr;
};
