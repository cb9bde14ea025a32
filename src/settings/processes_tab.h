#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QWidget>

class ListEditor;
class QCheckBox;
class SettingsStore;

// The "Processes" tab: edits the allowlist in the settings store, whether each
// allowed name's starts and stops are notified, whether containers' ports are
// listed, and whether what answers on each port is looked at; the monitor follows the store and
// scans after every edit.
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

    ListEditor* editor() const { return m_editor; }
    // Empties the entry field, as a newly opened window has it.
    void clearEntry();

private:
    void setNotifies(const QString& name, bool notifies);
    void refreshNotifyChecks();

    SettingsStore& m_store;
    ListEditor* m_editor = nullptr;
    QCheckBox* m_containers = nullptr;
    QCheckBox* m_probe = nullptr;
};
