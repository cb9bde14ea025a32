#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QWidget>

class PortMonitor;
class QLineEdit;
class QListWidget;
class QPushButton;

// The "Processes" tab: edits the monitor's allowlist. Every edit changes the
// allowlist, saves it and scans, in that order.
class ProcessesTab : public QWidget {
    Q_OBJECT
public:
    explicit ProcessesTab(PortMonitor& monitor, QWidget* parent = nullptr);

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
    void refreshList();
    void insertRow(int position, const QString& name);

    PortMonitor& m_monitor;
    QLineEdit* m_entry = nullptr;
    QPushButton* m_add = nullptr;
    QListWidget* m_list = nullptr;
    QStringList m_shown; // the names in m_list, row by row
};
