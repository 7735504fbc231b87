#include "browse/address_combo_box.h"

#include "core/error_guard.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QSignalBlocker>

#include <algorithm>

namespace framelog {

namespace {

bool isEnterKey(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Case folding code point by code point, as QString::compare does without
// regard to case: two texts compare equal so exactly when their folds do.
QString folded(const QString &text)
{
    QList<uint> points = text.toUcs4();
    for (uint &point : points)
        point = QChar::toCaseFolded(char32_t(point));
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(points.constData()), points.size());
}

bool isTabCommit(const QKeyEvent *k)
{
    // Ctrl+Tab and Alt+Tab belong to the window, as they do for QWidget.
    return (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) &&
           !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

} // namespace

TAddressComboBox::TAddressComboBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(kMaxVisibleItems);
    // QComboBox's own completer picks list entries on Enter and focus loss;
    // completion is done here so the committed text stays ours alone.
    setCompleter(nullptr);

    lineEdit()->installEventFilter(this);
    connect(lineEdit(), &QLineEdit::textEdited, this, &TAddressComboBox::textEditedByUser);
    connect(this, &QComboBox::activated, this, &TAddressComboBox::entryChosen);

    QAbstractItemModel *list = model();
    const auto stale = [this] {
        if (!m_appending)
            m_indexStale = true;
    };
    connect(list, &QAbstractItemModel::rowsInserted, this, stale);
    connect(list, &QAbstractItemModel::rowsRemoved, this, stale);
    connect(list, &QAbstractItemModel::rowsMoved, this, stale);
    connect(list, &QAbstractItemModel::dataChanged, this, stale);
    connect(list, &QAbstractItemModel::modelReset, this, stale);
    connect(list, &QAbstractItemModel::layoutChanged, this, stale);
}

void TAddressComboBox::setText(const QString &text)
{
    m_text = text;
    if (!m_editing)
        showCommitted();
}

QString TAddressComboBox::shownText() const
{
    return lineEdit()->text();
}

QStringList TAddressComboBox::items() const
{
    QStringList result;
    result.reserve(count());
    for (int i = 0; i < count(); ++i)
        result << itemText(i);
    return result;
}

void TAddressComboBox::appendItem(const QString &text)
{
    QLineEdit *edit = lineEdit();
    const QString shown = edit->text();
    const int cursor = edit->cursorPosition();
    const int selStart = edit->selectionStart();
    const int selLength = int(edit->selectedText().size());
    {
        // The first entry of an empty list becomes current, and QComboBox then
        // writes it into the line edit; nobody may hear of that.
        const QSignalBlocker quiet(this);
        ensureIndex();
        const QScopedValueRollback appending(m_appending, true);
        addItem(text);
        indexEntry(text, count() - 1);
    }
    if (!m_editing) {
        showCommitted();
        return;
    }
    if (edit->text() == shown)
        return;
    edit->setText(shown);
    if (selLength > 0 && cursor == selStart)
        edit->setSelection(selStart + selLength, -selLength);
    else if (selLength > 0)
        edit->setSelection(selStart, selLength);
    else
        edit->setCursorPosition(cursor);
}

bool TAddressComboBox::containsItem(const QString &text, Qt::CaseSensitivity cs) const
{
    ensureIndex();
    return cs == Qt::CaseSensitive ? m_exactIndex.contains(text)
                                   : m_foldedIndex.contains(folded(text));
}

void TAddressComboBox::indexEntry(const QString &text, int row)
{
    if (!m_exactIndex.contains(text))
        m_exactIndex.insert(text, row);
    const QString key = folded(text);
    if (!m_foldedIndex.contains(key))
        m_foldedIndex.insert(key, row);
}

void TAddressComboBox::ensureIndex() const
{
    if (!m_indexStale)
        return;
    m_indexStale = false;
    m_exactIndex.clear();
    m_foldedIndex.clear();
    auto *self = const_cast<TAddressComboBox *>(this);
    for (int i = 0; i < count(); ++i)
        self->indexEntry(itemText(i), i);
}

void TAddressComboBox::setEditWidth(int width)
{
    m_editWidth = std::max(width, 0);
    setFixedWidth(m_editWidth);
}

void TAddressComboBox::setListMinimumWidth(int width)
{
    view()->setMinimumWidth(std::max(width, 0));
}

int TAddressComboBox::listMinimumWidth() const
{
    return view()->minimumWidth();
}

bool TAddressComboBox::event(QEvent *e)
{
    if (e->type() == QEvent::ShortcutOverride) {
        // A window shortcut on Escape (Stop) must not steal the key that
        // ends an edit.
        if (m_editing && static_cast<QKeyEvent *>(e)->key() == Qt::Key_Escape) {
            e->accept();
            return true;
        }
    } else if (e->type() == QEvent::KeyPress && isEnabled()) {
        // QWidget moves the focus on Tab before keyPressEvent would see it,
        // and the focus loss would drop the edit: commit first.
        if (m_editing && isTabCommit(static_cast<QKeyEvent *>(e)))
            commitEdit();
    }
    return QComboBox::event(e);
}

bool TAddressComboBox::eventFilter(QObject *watched, QEvent *e)
{
    // A click into the text of the field that has the focus already (it may
    // have it from the start) is the user coming to it all the same.
    if (watched == lineEdit() && e->type() == QEvent::MouseButtonPress && hasFocus() &&
        !m_editing && isEnabled())
        beginEdit();
    return QComboBox::eventFilter(watched, e);
}

void TAddressComboBox::keyPressEvent(QKeyEvent *e)
{
    if (isEnterKey(e->key())) {
        // Never handed on to QComboBox: its Enter handling would replace the
        // typed text by a matching list entry.
        if (m_editing) {
            e->accept();
            commitEdit();
        } else {
            e->ignore();
        }
        return;
    }
    if (e->key() == Qt::Key_Escape && m_editing) {
        e->accept();
        cancelEdit();
        return;
    }
    QLineEdit *edit = lineEdit();
    const QScopedValueRollback kept(m_keptLength,
                                    edit->text().size() - edit->selectedText().size());
    QComboBox::keyPressEvent(e);
}

void TAddressComboBox::keyReleaseEvent(QKeyEvent *e)
{
    QComboBox::keyReleaseEvent(e);
    // The window acts on the release of the Enter that committed an edit, and
    // QLineEdit accepts every release: let this one travel on to the parents.
    if (isEnterKey(e->key()))
        e->ignore();
}

void TAddressComboBox::focusInEvent(QFocusEvent *e)
{
    QComboBox::focusInEvent(e);
    // The user comes to the field: that begins the edit, so Enter at once goes
    // to the address it holds. The focus given back by a closed popup or a
    // window becoming active again is no such start.
    switch (e->reason()) {
    case Qt::MouseFocusReason:
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
        if (!m_editing && isEnabled())
            beginEdit();
        break;
    default:
        break;
    }
}

void TAddressComboBox::focusOutEvent(QFocusEvent *e)
{
    // Opening a popup (our own drop-down list, a menu) does not end the edit;
    // the drop-down takes the focus into its list as it opens.
    const QWidget *to = QApplication::focusWidget();
    const bool toPopup =
        e->reason() == Qt::PopupFocusReason || (to && to->window() == view()->window());
    if (m_editing && !toPopup)
        cancelEdit();
    // QLineEdit reports editingFinished on focus loss, and QComboBox answers it
    // by making a matching entry current and rewriting the text.
    const QSignalBlocker quiet(lineEdit());
    QComboBox::focusOutEvent(e);
}

void TAddressComboBox::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::EnabledChange && !isEnabled() && m_editing)
        cancelEdit();
    QComboBox::changeEvent(e);
}

void TAddressComboBox::textEditedByUser(const QString &text)
{
    if (m_completing)
        return;
    if (!m_editing && !beginEdit())
        return;
    completeInline(text);
    report(OnChange);
}

bool TAddressComboBox::beginEdit()
{
    m_editing = true;
    report(OnBeginEdit);
    return m_editing; // the handler may end it (e.g. an error box took the focus)
}

void TAddressComboBox::completeInline(const QString &typed)
{
    QLineEdit *edit = lineEdit();
    if (typed.isEmpty() || edit->hasSelectedText() || edit->cursorPosition() != typed.size())
        return;
    if (m_keptLength >= 0 && typed.size() <= m_keptLength)
        return; // Backspace, Delete, Cut, Undo...: completing would undo them
    for (int i = 0; i < count(); ++i) {
        const QString entry = itemText(i);
        if (entry.size() > typed.size() && entry.startsWith(typed, Qt::CaseInsensitive)) {
            const QString rest = entry.mid(typed.size());
            {
                const QScopedValueRollback completing(m_completing, true);
                edit->insert(rest);
            }
            edit->setSelection(int(typed.size()), int(rest.size()));
            return;
        }
    }
}

void TAddressComboBox::entryChosen(int index)
{
    if (index < 0 || index >= count())
        return;
    m_editing = false;
    m_text = itemText(index);
    showCommitted();
    report(OnChange);
}

void TAddressComboBox::commitEdit()
{
    const QString typed = lineEdit()->text();
    // The edit ends here, whatever the handler does (a modal box it opens
    // takes the focus, and that must not end the edit a second time).
    m_editing = false;
    bool accept = true;
    bool answered = false;
    guarded([&] {
        if (OnAcceptText)
            OnAcceptText(typed, accept);
        answered = true;
    });
    if (answered && accept)
        m_text = typed;
    showCommitted();
}

void TAddressComboBox::cancelEdit()
{
    m_editing = false;
    showCommitted();
}

int TAddressComboBox::indexOfCommitted() const
{
    ensureIndex();
    const auto exact = m_exactIndex.constFind(m_text);
    return exact != m_exactIndex.cend() ? *exact : m_foldedIndex.value(folded(m_text), -1);
}

void TAddressComboBox::showCommitted()
{
    {
        // Keeps the list's highlight and Up/Down in step with the committed
        // text. QComboBox writes the entry into the line edit as it goes.
        const QSignalBlocker quiet(this);
        setCurrentIndex(indexOfCommitted());
    }
    if (lineEdit()->text() != m_text)
        lineEdit()->setText(m_text);
}

void TAddressComboBox::report(const std::function<void()> &handler)
{
    if (handler)
        guarded(handler);
}

} // namespace framelog
