#pragma once

#include <QWidget>

class AboutTab;
class HostsTab;
class PortRangeTab;
class ProcessesTab;
class QLabel;
class QTabWidget;
class SettingsStore;

// The one settings window: tabs "Ports", "Processes", "Hosts" and "About",
// and under them, while the latest save failed, a line saying why. Its
// content area is a fixed 400 x 350.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(SettingsStore& store, QWidget* parent = nullptr);

    // Shows the window, or raises and activates it when it is already shown.
    void open();

    QTabWidget* tabs() const { return m_tabs; }
    PortRangeTab* portRangeTab() const { return m_portRange; }
    ProcessesTab* processesTab() const { return m_processes; }
    HostsTab* hostsTab() const { return m_hosts; }
    AboutTab* aboutTab() const { return m_about; }
    QLabel* saveErrorLine() const { return m_saveError; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void showSaveError();

    SettingsStore& m_store;
    QTabWidget* m_tabs = nullptr;
    PortRangeTab* m_portRange = nullptr;
    ProcessesTab* m_processes = nullptr;
    HostsTab* m_hosts = nullptr;
    AboutTab* m_about = nullptr;
    QLabel* m_saveError = nullptr;
};
