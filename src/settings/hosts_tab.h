#pragma once

#include <QWidget>

class ListEditor;
class SettingsStore;

// The "Hosts" tab: adds and removes the SSH destinations whose servers are
// listed too, in the settings store; the monitor follows the store.
class HostsTab : public QWidget {
    Q_OBJECT
public:
    explicit HostsTab(SettingsStore& store, QWidget* parent = nullptr);

    ListEditor* editor() const { return m_editor; }
    void clearEntry();

private:
    void add(const QString& host);
    void remove(const QString& host);

    SettingsStore& m_store;
    ListEditor* m_editor = nullptr;
};
