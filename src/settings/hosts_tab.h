#pragma once

#include <QStringList>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QPushButton;
class SettingsStore;

// The "Hosts" tab: adds and removes the SSH destinations whose servers are
// listed too, in the settings store; the monitor follows the store.
class HostsTab : public QWidget {
    Q_OBJECT
public:
    explicit HostsTab(SettingsStore& store, QWidget* parent = nullptr);

    // Whether `text` (trimmed) can be a destination: not empty, no spaces,
    // not starting with "-", which ssh would read as an option.
    static bool isDestination(const QString& text);

    void clearEntry();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void add();
    void remove(const QString& host);
    void refreshList();

    SettingsStore& m_store;
    QLineEdit* m_entry = nullptr;
    QPushButton* m_add = nullptr;
    QListWidget* m_list = nullptr;
    QStringList m_shown;
};
