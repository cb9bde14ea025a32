#include "settings/list_editor.h"

#include "settings/settings_style.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

ListEditor::ListEditor(Texts texts, Normalise normalise, QWidget* parent)
    : QWidget(parent), m_texts(std::move(texts)), m_normalise(std::move(normalise)) {
    m_entry = new QLineEdit;
    m_entry->setPlaceholderText(m_texts.placeholder);
    m_entry->setAccessibleName(m_texts.placeholder);
    m_entry->setClearButtonEnabled(false);
    m_add = new QPushButton(tr("Add"));
    // Return in the field must not press a default button.
    m_add->setAutoDefault(false);
    auto* entryRow = new QHBoxLayout;
    entryRow->addWidget(m_entry);
    entryRow->addWidget(m_add);

    m_list = new QListWidget;
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFocusPolicy(Qt::StrongFocus);
    m_list->setAccessibleName(m_texts.listName);
    m_list->setAccessibleDescription(m_texts.listDescription);
    m_list->setUniformItemSizes(true);
    m_list->setAlternatingRowColors(false);
    m_list->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addLayout(entryRow);
    layout->addWidget(m_list, 1);
    setTabOrder(m_entry, m_add);
    setTabOrder(m_add, m_list);

    connect(m_entry, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_add->setEnabled(!m_normalise(text).isEmpty()); });
    connect(m_add, &QPushButton::clicked, this, &ListEditor::add);
    m_add->setEnabled(false);
}

void ListEditor::setAddOnReturn(bool adds) {
    disconnect(m_entry, &QLineEdit::returnPressed, this, &ListEditor::add);
    if (adds)
        connect(m_entry, &QLineEdit::returnPressed, this, &ListEditor::add);
}

void ListEditor::clearEntry() {
    m_entry->clear();
}

QString ListEditor::currentName() const {
    const QListWidgetItem* current = m_list->currentItem();
    return current ? current->data(Qt::UserRole).toString() : QString();
}

QWidget* ListEditor::rowControl(const QString& name) const {
    const qsizetype row = m_shown.indexOf(name);
    if (row < 0)
        return nullptr;
    QWidget* widget = m_list->itemWidget(m_list->item(int(row)));
    return widget ? widget->findChild<QWidget*>(QStringLiteral("rowControl")) : nullptr;
}

void ListEditor::add() {
    const QString name = m_normalise(m_entry->text());
    if (name.isEmpty())
        return;
    m_added = name;
    emit addRequested(name);
    m_entry->clear();
    // "Add" is disabled now; without this, focus would move on to the next
    // control and the next key typed would go there.
    m_entry->setFocus();
    // Already shown (a duplicate): revealed all the same.
    setEntries(m_shown);
}

bool ListEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_list || event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    const QString name = currentName();
    if (name.isEmpty())
        return false;
    if (key == Qt::Key_Space && m_rowControl) {
        emit toggleRequested(name);
        return true;
    }
    if (key != Qt::Key_Delete && key != Qt::Key_Backspace)
        return false;
    const int row = m_list->currentRow();
    emit removeRequested(name);
    // The next name (or the last one) is the one Delete removes next.
    if (m_list->count() > 0)
        m_list->setCurrentRow(std::min(row, m_list->count() - 1));
    return true;
}

void ListEditor::setEntries(const QStringList& names) {
    // A row's widget goes away with deleteLater(), which makes removing the
    // row from its own button's click safe.
    if (names != m_shown) {
        const QSet<QString> keep(names.cbegin(), names.cend());
        for (qsizetype row = m_shown.size() - 1; row >= 0; --row) {
            if (!keep.contains(m_shown[row])) {
                delete m_list->takeItem(int(row));
                m_shown.removeAt(row);
            }
        }
        // What is left is a subsequence of `names`, in the same order.
        for (qsizetype row = 0; row < names.size(); ++row) {
            if (row < m_shown.size() && m_shown[row] == names[row])
                continue;
            insertRow(int(row), names[row]);
        }
    }
    // The name just added: selected and in sight, the one sign that it went in.
    if (const qsizetype row = m_shown.indexOf(m_added); !m_added.isEmpty() && row >= 0) {
        m_added.clear();
        QListWidgetItem* item = m_list->item(int(row));
        m_list->setCurrentItem(item);
        m_list->scrollToItem(item);
    }
}

void ListEditor::insertRow(int position, const QString& name) {
    auto* row = new QWidget;
    auto* label = new QLabel(name);
    // Shown verbatim: never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto* remove = new QToolButton;
    remove->setFocusPolicy(Qt::NoFocus);
    remove->setIcon(settings_style::removeIcon());
    remove->setAutoRaise(true);
    const QString description = m_texts.removeName.arg(name);
    remove->setAccessibleName(description);
    remove->setToolTip(description);
    connect(remove, &QToolButton::clicked, this, [this, name] { emit removeRequested(name); });

    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 1, 2, 1);
    layout->addWidget(label);
    layout->addStretch();
    if (QWidget* control = m_rowControl ? m_rowControl(name) : nullptr) {
        control->setObjectName(QStringLiteral("rowControl"));
        control->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(control);
    }
    layout->addWidget(remove);

    auto* item = new QListWidgetItem;
    item->setData(Qt::UserRole, name);
    item->setData(Qt::AccessibleTextRole, name);
    item->setSizeHint(row->sizeHint());
    m_list->insertItem(position, item);
    m_list->setItemWidget(item, row);
    m_shown.insert(position, name);
}
