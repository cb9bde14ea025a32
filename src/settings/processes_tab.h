#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class SettingsStore;

// The "Processes" tab: edits the allowlist in the settings store, whether each
// allowed name's starts and stops are notified, and whether containers'
// ports are listed; the monitor follows the store and scans after every edit.
class ProcessesTab : public QWidget {
    Q_OBJECT
public:
    explicit ProcessesTab(SettingsStore& store, QWidget* parent = nullptr);

    // The entry without leading and trailing spaces (Unicode category Zs) and
    // tabs. Line breaks and everything inside the name stay.
    static QString trimEntry(QStringView text);
    // The names in the order the list shows them: by Unicode code point of their
    // canonical (NFC) form, case-sensitive, no locale collation.
    static QStringList sortedNames(const QSet<QString>& names);

    // Empties the entry field, as a newly opened window has it.
    void clearEntry();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void add();
    void remove(const QString& name);
    void reset();
    void updateAddEnabled();
    void setNotifies(const QString& name, bool notifies);
    void refreshNotifyChecks();
    void refreshList();
    void insertRow(int position, const QString& name);

    SettingsStore& m_store;
    QLineEdit* m_entry = nullptr;
    QPushButton* m_add = nullptr;
    QListWidget* m_list = nullptr;
    QCheckBox* m_containers = nullptr;
    QStringList m_shown; // the names in m_list, row by row
};
