#pragma once

#include <QWidget>

class ListEditor;
class QCheckBox;
class SettingsStore;

// The "Hosts" tab: adds and removes the SSH destinations whose servers are
// listed too, in the settings store; the monitor follows the store. Each
// host's row has a box "Forward new servers" ("autoForward"), and below the
// list "Restore forwards at start" ("restoreForwards") chooses whether the
// forwards kept in the settings are set up again. Removing a host forgets its
// forwards and its box.
class HostsTab : public QWidget {
    Q_OBJECT
public:
    explicit HostsTab(SettingsStore& store, QWidget* parent = nullptr);

    ListEditor* editor() const { return m_editor; }
    QCheckBox* restoreBox() const { return m_restore; }
    void clearEntry();

private:
    void add(const QString& host);
    void remove(const QString& host);
    void refreshForwardChecks();

    SettingsStore& m_store;
    ListEditor* m_editor = nullptr;
    QCheckBox* m_restore = nullptr;
};
