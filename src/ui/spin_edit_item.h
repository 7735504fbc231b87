#pragma once

#include "ui/spin_edit_model.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QTimer;

namespace framelog {

// A numeric field with units and two spin buttons, as it sits on a small
// toolbar of its own: "1.0 s", "45.00 min". The rules (formatting, parsing,
// clamping, stepping) live in SpinEditModel; this is the input and drawing.
//
// Events are called on the window thread from the field's own input
// handlers, which run them inside framelog::guarded(): an exception a handler
// throws (or the "Floating point overflow" of a parse) is shown in the error
// box and ends that input step. Calls made by the window itself throw to the
// caller instead: value() and the setters that re-format read the committed
// text through OnConvert and may throw EOverflow; the property setters throw
// EPropertyError for the values SpinEditModel refuses.
//
// Input: a left click in the text area opens an in-place editor with all its
// text selected; Enter or Tab commits, Esc, a click elsewhere (in any window
// of the program) or any loss of focus, to another window or program too,
// discards; Up/Down step and keep the editor open. The two
// buttons at the right (each half the height) step at once and repeat while
// held, after 400 ms and then every 100 ms. The field takes keyboard focus:
// reached with Tab it opens the editor; focused without the editor, Up/Down
// step and Enter or F2 opens it. A disabled field is dimmed and takes no
// input (disabling it closes an open editor without committing).
class TTBXSpinEditItem : public QWidget {
    Q_OBJECT

public:
    // APrefix/APostfix are the unit texts around one parsed number (either
    // may be empty); convert AValue into the field's unit, or clear
    // CanConvert (true on entry) to reject the text.
    using ConvertEvent =
        std::function<void(TTBXSpinEditItem *sender, const QString &aPrefix,
                           const QString &aPostfix, long double &aValue, bool &canConvert)>;
    // Step is +1 or -1; OldValue is the committed value; NewValue the
    // proposed one, which the handler may change before it is stored.
    using StepEvent = std::function<void(TTBXSpinEditItem *sender, int step, long double oldValue,
                                         long double &newValue)>;
    // Text is what the field holds at that moment: the editor's text while
    // typing (value() still gives the committed value then), the new
    // committed text after a commit or a step.
    using ChangeEvent = std::function<void(TTBXSpinEditItem *sender, const QString &text)>;

    explicit TTBXSpinEditItem(QWidget *parent = nullptr);
    ~TTBXSpinEditItem() override;

    ConvertEvent OnConvert;
    StepEvent OnStep;
    ChangeEvent OnChange;

    // Properties; see SpinEditModel for the rules and the errors they throw.
    // ValueType is evtFloat (the only format built) from the start.
    SpinValueType valueType() const { return m_model.valueType(); }
    void setValueType(SpinValueType type) { m_model.setValueType(type); }
    int decimal() const { return m_model.decimal(); }
    void setDecimal(int decimals);
    long double increment() const { return m_model.increment(); }
    void setIncrement(long double increment) { m_model.setIncrement(increment); }
    long double minValue() const { return m_model.minValue(); }
    void setMinValue(long double value) { m_model.setMinValue(value); }
    long double maxValue() const { return m_model.maxValue(); }
    void setMaxValue(long double value) { m_model.setMaxValue(value); }
    QString prefix() const { return m_model.prefix(); }
    void setPrefix(const QString &prefix);
    QString postfix() const { return m_model.postfix(); }
    void setPostfix(const QString &postfix);
    bool spaceAfterPrefix() const { return m_model.spaceAfterPrefix(); }
    void setSpaceAfterPrefix(bool on);
    bool spaceBeforePostfix() const { return m_model.spaceBeforePostfix(); }
    void setSpaceBeforePostfix(bool on);
    bool snap() const { return m_model.snap(); }
    void setSnap(bool on) { m_model.setSnap(on); }

    // The committed value: the committed text parsed (through OnConvert), or
    // the last valid value when it does not parse. Writing re-formats the
    // text from the clamped value; no notification fires.
    long double value() const { return m_model.value(); }
    void setValue(long double value);
    // The committed text (not the editor's while it is open).
    QString text() const { return m_model.text(); }
    void setText(const QString &text);

    // The locale's decimal separator is taken at construction and on locale
    // changes; tests and odd locales may set it.
    QChar decimalSeparator() const { return m_model.decimalSeparator(); }
    void setDecimalSeparator(QChar separator);

    bool isEditing() const { return m_editing; }

    // Assistive technology's name for the field comes from accessibleName,
    // else from a label of the window whose buddy it is, else from this
    // control (a check box that switches the field, say), which is reported
    // as its label. The description tells the unit unless one is set.
    void setAccessibleLabel(QWidget *label);
    QWidget *accessibleLabel() const { return m_accessibleLabel; }

    // Geometry of the parts, in widget coordinates.
    QRect textRect() const;
    QRect upButtonRect() const;
    QRect downButtonRect() const;

    // The spin buttons' repeat: first after `delayMs`, then every
    // `intervalMs` (400 and 100 by default).
    void setAutoRepeatTiming(int delayMs, int intervalMs);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The committed value after every commit and step (OnChange has run):
    // what the field's users follow, without parsing its text.
    void valueCommitted(long double value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    class InPlaceEditor;
    class Accessible;
    enum class Button { None, Up, Down };

    void openEditor();
    void commitEditor();
    // Tab and Backtab: commit, then move the focus on.
    void commitAndTabOut(bool forward);
    void cancelEditor();
    void closeEditor();
    void editorTextEdited(const QString &text);
    bool stepFromInput(int step);
    void setValueFromAssistive(long double value);
    void pressButton(Button button);
    void releaseButton();
    void repeatStep();
    // After every change of the committed text: repaint, tell assistive
    // technology.
    void committedTextChanged();
    void fireChange(const QString &text);
    // A new committed value: OnChange, then valueCommitted.
    void fireCommit();
    long double accessibleValue() const noexcept;

    // What assistive technology reads as the field's name and description.
    QString accessibleNameText() const;
    QString accessibleDescriptionText() const;
    QWidget *buddyLabel() const;
    // The editor goes with any focus loss, except to a box that the field's
    // own handler opens (an error box while typing).
    void runHandler(const std::function<void()> &handler);

    SpinEditModel m_model;
    InPlaceEditor *m_editor = nullptr;
    QPointer<QWidget> m_accessibleLabel;
    int m_handlerDepth = 0;
    bool m_editing = false;
    Button m_pressed = Button::None;
    QTimer *m_repeatTimer = nullptr;
    int m_repeatDelay = 400;
    int m_repeatInterval = 100;
};

} // namespace framelog
