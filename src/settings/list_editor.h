#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

class QLineEdit;
class QListWidget;
class QPushButton;

// An editable list of names as the Processes and Hosts tabs show it: an entry
// field with an "Add" button above a list whose rows show a name verbatim in a
// monospaced font, an optional control of the row's own, and a remove button.
// The list is one Tab stop: arrows pick a row, Delete removes it; the rows'
// buttons are for the mouse. Rows are changed in place, so the list keeps its
// scroll position; a name just added is selected and scrolled into view.
//
// The editor changes nothing itself: it asks through addRequested() and
// removeRequested(), and shows what setEntries() gives.
class ListEditor : public QWidget {
    Q_OBJECT
public:
    struct Texts {
        QString placeholder;     // of the entry field
        QString listName;        // the list's accessible name
        QString listDescription; // what its keys do
        QString removeName;      // "Remove %1": the remove button's name and tip
    };
    // The entry's text as it would be added; empty when it cannot be.
    using Normalise = std::function<QString(const QString&)>;
    // The control a row shows beside its name; null for none.
    using RowControl = std::function<QWidget*(const QString& name)>;

    ListEditor(Texts texts, Normalise normalise, QWidget* parent = nullptr);

    QLineEdit* entry() const { return m_entry; }
    QPushButton* addButton() const { return m_add; }
    QListWidget* list() const { return m_list; }

    // Return in the entry field adds, as the Add button does (off unless set).
    void setAddOnReturn(bool adds);
    void setRowControl(RowControl control) { m_rowControl = std::move(control); }

    // The names to show, in their order.
    void setEntries(const QStringList& names);
    const QStringList& entries() const { return m_shown; }
    // The control made for `name`'s row; null when it has none.
    QWidget* rowControl(const QString& name) const;
    // The name of the selected row; empty when none is.
    QString currentName() const;

    void clearEntry();

signals:
    // The user added the (normalised) entry; the field is cleared.
    void addRequested(const QString& name);
    void removeRequested(const QString& name);
    // Space on a row: for the row's own control.
    void toggleRequested(const QString& name);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void add();
    void insertRow(int position, const QString& name);

    Texts m_texts;
    Normalise m_normalise;
    RowControl m_rowControl;
    QLineEdit* m_entry = nullptr;
    QPushButton* m_add = nullptr;
    QListWidget* m_list = nullptr;
    QStringList m_shown; // the names in m_list, row by row
    QString m_added;     // asked for by the last add, to be revealed once shown
};
