#pragma once

#include <QComboBox>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

namespace framelog {

// The address field: an editable combo box whose committed text is kept apart
// from what the user is typing.
//
// Committed text and edits
//   Text() is what the field holds outside an edit. An edit begins when the
//   field takes the focus by a click or from the keyboard (Tab, Backtab, a
//   shortcut), at a click into its text while it has the focus already, or
//   else at the first keystroke that changes the shown text;
//   from then on the line edit holds the typed characters while Text() keeps
//   the text from before the edit. So a click into the field and Enter commit
//   the text it holds.
//   - Enter (Return or keypad Enter, any modifiers, so Shift+Enter too) or Tab
//     (Shift+Tab too) commits: OnAcceptText is asked once, and if it accepts, the
//     typed text becomes Text(). Either way the edit ends and the field shows
//     Text(). Tab then moves the focus on as usual.
//   - Escape, losing the focus, or being disabled ends the edit without
//     committing: the typed text is dropped and Text() is shown again. (The
//     focus going to a popup, such as the field's own drop-down list, does not
//     end the edit.)
//   - Enter is handled on the key press. The key release is left alone and
//     propagates to the parent widgets, so the window sees it both in an
//     application event filter and in its own keyReleaseEvent. (Such a filter
//     meets it once at the field and again at every parent it passes.)
//   - While an edit is open the field claims Escape in ShortcutOverride, so a
//     window shortcut on Escape does not fire; outside an edit it does.
//   - Enter outside an edit is not the field's: the press is ignored and
//     propagates.
//
// The list
//   An unsorted list of entries: appendItem() adds at the end, nothing removes.
//   The field never adds typed text by itself (NoInsert); the window decides.
//   Up to 8 entries are shown at a time. While typing at the end of the text,
//   the field completes inline from the first entry (in list order) that starts
//   with the typed text, ignoring case: the typed characters stay as typed and
//   the rest of the entry is appended, selected, so typing on replaces it and
//   Backspace removes it.
//
// Events (set by the window, all optional). Each runs inside guarded(): an
// exception is shown in the error box and never reaches Qt's event loop.
//   OnBeginEdit()   an edit begins (the focus comes by click or key, or the
//                   first user change of the shown text, reported before the
//                   OnChange of that change).
//   OnAcceptText(newText, accept)
//                   asked once per commit, with accept preset to true. The
//                   commit happens only if accept is still true when it returns
//                   (not when it throws).
//   OnChange()      every user change of the text being typed (keys, paste,
//                   input method; after inline completion), and every choice of
//                   an entry from the drop-down list or with the Up/Down keys.
//                   A chosen entry becomes Text() at once, before the report,
//                   and ends any edit. Commit, Escape, setText() and
//                   appendItem() report nothing.
//
// Use Text()/setText() and appendItem() rather than QComboBox's own text and
// item setters (setEditText, addItem, setCurrentIndex...), which bypass the
// committed text. Everything else (setAccessibleName, setEnabled, view(),
// setToolTip...) is the plain QComboBox's.
class TAddressComboBox : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kMaxVisibleItems = 8;

    explicit TAddressComboBox(QWidget *parent = nullptr);

    std::function<void()> OnBeginEdit;
    std::function<void(const QString &newText, bool &accept)> OnAcceptText;
    std::function<void()> OnChange;

    // The committed text.
    QString Text() const { return m_text; }
    // Programmatic change of the committed text; reports nothing. Outside an
    // edit the field shows it at once. During an edit the typed characters stay
    // in place (the user is not interrupted) and the new text is what an
    // Escape or focus loss brings back.
    void setText(const QString &text);

    // True between the first change of an edit and its end.
    bool isEditing() const { return m_editing; }
    // What the line edit shows right now: the typed text during an edit,
    // Text() otherwise.
    QString shownText() const;

    QStringList items() const;
    // Appends unconditionally (check containsItem first to avoid duplicates).
    // Leaves the typed text, cursor and selection of an open edit untouched.
    void appendItem(const QString &text);
    // Whole-string comparison; case is compared by Unicode case folding.
    // Constant time: the list keeps an index of its entries.
    bool containsItem(const QString &text, Qt::CaseSensitivity cs = Qt::CaseInsensitive) const;

    // The field's whole width in pixels, drop-down button included (fixed
    // width; negative counts as 0). editWidth() is -1 until first set.
    void setEditWidth(int width);
    int editWidth() const { return m_editWidth; }
    // The least width of the drop-down list (it is never narrower than the
    // field). Same as view()->setMinimumWidth().
    void setListMinimumWidth(int width);
    int listMinimumWidth() const;

protected:
    bool event(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void changeEvent(QEvent *e) override;

private:
    // Returns false when the handler ended the edit at once.
    bool beginEdit();
    void textEditedByUser(const QString &text);
    void entryChosen(int index);
    void commitEdit();
    void cancelEdit();
    void showCommitted();
    void completeInline(const QString &typed);
    int indexOfCommitted() const;
    // The index: each text's first entry, as written and case-folded. Rebuilt
    // when the list is changed other than by appendItem().
    void indexEntry(const QString &text, int row);
    void ensureIndex() const;
    void report(const std::function<void()> &handler);

    QString m_text;
    bool m_editing = false;
    bool m_completing = false;
    // Length of the text that a key press kept (selection removed), -1 outside
    // a key press: inline completion only follows keys that add text.
    qsizetype m_keptLength = -1;
    int m_editWidth = -1;
    mutable QHash<QString, int> m_exactIndex;
    mutable QHash<QString, int> m_foldedIndex;
    mutable bool m_indexStale = false;
    bool m_appending = false;
};

} // namespace framelog
