#include "ui/spin_edit_item.h"

#include "core/error_guard.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>

#include <algorithm>

namespace framelog {

namespace {

constexpr int kButtonWidth = 13;
constexpr int kTextPadding = 2;
const QSize kDesignSize(72, 21);

// Keys the editor owns while it is open, also against window shortcuts
// (the main window has Esc on a menu item).
bool isEditorKey(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Up:
    case Qt::Key_Down:
        return modifiers == Qt::NoModifier;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return !(modifiers & (Qt::ControlModifier | Qt::AltModifier));
    default:
        return false;
    }
}

QChar separatorOf(const QLocale &locale)
{
    const QString point = locale.decimalPoint();
    return point.isEmpty() ? QLatin1Char('.') : point.front();
}

} // namespace

// The in-place editor: a frameless line edit over the text area that hands
// the field's keys and its focus loss to the item.
class TTBXSpinEditItem::InPlaceEditor : public QLineEdit {
public:
    explicit InPlaceEditor(TTBXSpinEditItem *item) : QLineEdit(item), m_item(item)
    {
        setObjectName(QStringLiteral("inPlaceEditor"));
        setFrame(false);
        setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        hide();
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride &&
            isEditorKey(static_cast<QKeyEvent *>(event))) {
            event->accept();
            return true;
        }
        // Tab never reaches keyPressEvent: QWidget::event moves the focus.
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (isEditorKey(key)) {
                switch (key->key()) {
                case Qt::Key_Escape:
                    m_item->cancelEditor();
                    break;
                case Qt::Key_Return:
                case Qt::Key_Enter:
                    m_item->commitEditor();
                    break;
                case Qt::Key_Tab:
                    m_item->commitAndTabOut(!(key->modifiers() & Qt::ShiftModifier));
                    break;
                case Qt::Key_Backtab:
                    m_item->commitAndTabOut(false);
                    break;
                case Qt::Key_Up:
                    m_item->stepFromInput(+1);
                    break;
                case Qt::Key_Down:
                    m_item->stepFromInput(-1);
                    break;
                }
                event->accept();
                return true;
            }
        }
        return QLineEdit::event(event);
    }

    void focusOutEvent(QFocusEvent *event) override
    {
        QLineEdit::focusOutEvent(event);
        // A context menu, or the error box the field's own handler opens,
        // takes the focus only for a while; the typed text stays. Any other
        // loss, another window or program included, discards.
        const bool popup = event->reason() == Qt::PopupFocusReason;
        const bool ownBox =
            event->reason() == Qt::ActiveWindowFocusReason && m_item->m_handlerDepth > 0;
        if (!popup && !ownBox)
            m_item->cancelEditor();
    }

private:
    TTBXSpinEditItem *m_item;
};

// Screen readers get the committed text ("1.0 s") as the value text and
// through the text interface, and the number with its range and step through
// the value interface. The name is the label's, the description the unit.
class TTBXSpinEditItem::Accessible : public QAccessibleWidget,
                                     public QAccessibleValueInterface,
                                     public QAccessibleTextInterface {
public:
    explicit Accessible(TTBXSpinEditItem *item) : QAccessibleWidget(item, QAccessible::SpinBox) {}

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Value:
            return item()->text();
        case QAccessible::Name:
            return item()->accessibleNameText();
        case QAccessible::Description:
            return item()->accessibleDescriptionText();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QList<QPair<QAccessibleInterface *, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override
    {
        auto related = QAccessibleWidget::relations(match);
        QWidget *label = item()->accessibleLabel();
        if (!label)
            label = item()->buddyLabel();
        if (label && (match & QAccessible::Label)) {
            QAccessibleInterface *labelInterface = QAccessible::queryAccessibleInterface(label);
            const bool known = std::any_of(related.cbegin(), related.cend(), [&](const auto &r) {
                return r.first == labelInterface;
            });
            if (labelInterface && !known)
                related.append({labelInterface, QAccessible::Label});
        }
        return related;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // The text interface: the shown text, read-only (the in-place editor is a
    // line edit of its own while it is open).
    QString text(int startOffset, int endOffset) const override
    {
        const QString shown = item()->text();
        startOffset = std::clamp(startOffset, 0, int(shown.size()));
        endOffset = std::clamp(endOffset, startOffset, int(shown.size()));
        return shown.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(item()->text().size()); }
    void selection(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int offset) const override
    {
        const QString shown = item()->text();
        if (offset < 0 || offset >= shown.size())
            return QRect();
        // The text is drawn right-aligned in the text area.
        const QFontMetrics metrics = item()->fontMetrics();
        const QRect area = item()->textRect().adjusted(kTextPadding, 0, -kTextPadding, 0);
        const int left = area.right() + 1 - metrics.horizontalAdvance(shown) +
                         metrics.horizontalAdvance(shown.left(offset));
        const QRect local(left, area.top(), metrics.horizontalAdvance(shown.at(offset)),
                          area.height());
        return QRect(item()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        for (int i = 0; i < characterCount(); ++i) {
            if (characterRect(i).contains(point))
                return i;
        }
        return -1;
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return QString();
    }

    QVariant currentValue() const override
    {
        return static_cast<double>(item()->accessibleValue());
    }
    void setCurrentValue(const QVariant &value) override
    {
        if (item()->isEnabled())
            item()->setValueFromAssistive(value.toDouble());
    }
    QVariant maximumValue() const override { return static_cast<double>(item()->maxValue()); }
    QVariant minimumValue() const override { return static_cast<double>(item()->minValue()); }
    QVariant minimumStepSize() const override { return static_cast<double>(item()->increment()); }

private:
    TTBXSpinEditItem *item() const { return static_cast<TTBXSpinEditItem *>(widget()); }
};

TTBXSpinEditItem::TTBXSpinEditItem(QWidget *parent) : QWidget(parent)
{
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory([](const QString &, QObject *object) -> QAccessibleInterface * {
            if (auto *item = qobject_cast<TTBXSpinEditItem *>(object))
                return new Accessible(item);
            return nullptr;
        });
        return true;
    }();
    Q_UNUSED(accessibleInstalled);

    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    // The default committed text is "0" whatever the separator.
    m_model.setDecimalSeparator(separatorOf(locale()));
    m_model.setText(QStringLiteral("0"));
    m_model.setConverter([this](const QString &prefix, const QString &postfix, long double &value,
                                bool &canConvert) {
        if (OnConvert)
            OnConvert(this, prefix, postfix, value, canConvert);
    });

    m_repeatTimer = new QTimer(this);
    m_repeatTimer->setObjectName(QStringLiteral("autoRepeatTimer"));
    m_repeatTimer->setSingleShot(true);
    connect(m_repeatTimer, &QTimer::timeout, this, [this] { repeatStep(); });
}

TTBXSpinEditItem::~TTBXSpinEditItem()
{
    if (m_editing)
        qApp->removeEventFilter(this);
    // The editor goes first, while this object is whole: losing its focus
    // calls back into the field.
    m_editing = false;
    delete m_editor;
}

void TTBXSpinEditItem::setDecimal(int decimals)
{
    m_model.setDecimal(decimals);
    committedTextChanged();
}

void TTBXSpinEditItem::setPrefix(const QString &prefix)
{
    m_model.setPrefix(prefix);
    committedTextChanged();
}

void TTBXSpinEditItem::setPostfix(const QString &postfix)
{
    m_model.setPostfix(postfix);
    committedTextChanged();
}

void TTBXSpinEditItem::setSpaceAfterPrefix(bool on)
{
    m_model.setSpaceAfterPrefix(on);
    committedTextChanged();
}

void TTBXSpinEditItem::setSpaceBeforePostfix(bool on)
{
    m_model.setSpaceBeforePostfix(on);
    committedTextChanged();
}

void TTBXSpinEditItem::setValue(long double value)
{
    m_model.setValue(value);
    committedTextChanged();
}

void TTBXSpinEditItem::setText(const QString &text)
{
    m_model.setText(text);
    committedTextChanged();
}

void TTBXSpinEditItem::setDecimalSeparator(QChar separator)
{
    m_model.setDecimalSeparator(separator);
    committedTextChanged();
}

QRect TTBXSpinEditItem::textRect() const
{
    const QRect inner = contentsRect();
    const int frame =
        std::clamp(style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this), 0, 2);
    const QRect framed = inner.adjusted(frame, frame, -frame, -frame);
    return framed.adjusted(0, 0, -kButtonWidth, 0);
}

QRect TTBXSpinEditItem::upButtonRect() const
{
    const QRect text = textRect();
    return QRect(text.right() + 1, text.top(), kButtonWidth, text.height() / 2);
}

QRect TTBXSpinEditItem::downButtonRect() const
{
    const QRect text = textRect();
    const QRect up = upButtonRect();
    return QRect(up.left(), up.bottom() + 1, kButtonWidth, text.height() - up.height());
}

void TTBXSpinEditItem::setAutoRepeatTiming(int delayMs, int intervalMs)
{
    m_repeatDelay = std::max(0, delayMs);
    m_repeatInterval = std::max(1, intervalMs);
}

QSize TTBXSpinEditItem::sizeHint() const
{
    // Grow only when the font needs more than the design height.
    const int needed = fontMetrics().height() + 4;
    // Wide enough for the longest text the range can show ("1440.00 min"),
    // so a desktop font larger than the design font cuts nothing off.
    int widest = 0;
    try {
        for (long double bound : {m_model.minValue(), m_model.maxValue()})
            widest = std::max(widest, fontMetrics().horizontalAdvance(m_model.format(bound)));
    } catch (const Exception &) {
        // An unformattable bound only costs the exact fit.
    }
    const int frame =
        2 * std::clamp(style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this), 0, 2);
    const int width = widest + kButtonWidth + frame + 6;
    return QSize(std::max(kDesignSize.width(), width), std::max(kDesignSize.height(), needed));
}

QSize TTBXSpinEditItem::minimumSizeHint() const
{
    return QSize(kButtonWidth + fontMetrics().averageCharWidth() * 4, sizeHint().height());
}

// --- Painting ------------------------------------------------------------

void TTBXSpinEditItem::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QStyle *s = style();

    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = std::clamp(s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this), 0, 2);
    frame.midLineWidth = 0;
    frame.state |= QStyle::State_Sunken;
    s->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, this);

    if (!m_editing) {
        const QRect area = textRect().adjusted(kTextPadding, 0, -kTextPadding, 0);
        // A disabled palette group dims the text.
        s->drawItemText(&painter, area, Qt::AlignRight | Qt::AlignVCenter, palette(), isEnabled(),
                        text(), QPalette::Text);
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = textRect().adjusted(1, 1, -1, -1);
            s->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }

    const struct {
        Button button;
        QRect rect;
        QStyle::PrimitiveElement arrow;
    } buttons[] = {{Button::Up, upButtonRect(), QStyle::PE_IndicatorArrowUp},
                   {Button::Down, downButtonRect(), QStyle::PE_IndicatorArrowDown}};
    for (const auto &b : buttons) {
        const bool pressed = m_pressed == b.button;
        QStyleOptionButton bevel;
        bevel.initFrom(this);
        bevel.rect = b.rect;
        bevel.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
        bevel.state |= pressed ? QStyle::State_Sunken : QStyle::State_Raised;
        s->drawPrimitive(QStyle::PE_PanelButtonCommand, &bevel, &painter, this);

        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
        if (pressed)
            arrow.state |= QStyle::State_Sunken;
        arrow.rect = b.rect.adjusted(3, 2, -3, -2);
        if (pressed)
            arrow.rect.translate(1, 1);
        if (arrow.rect.isValid())
            s->drawPrimitive(b.arrow, &arrow, &painter, this);
    }
}

// --- Input ---------------------------------------------------------------

void TTBXSpinEditItem::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    const QPoint pos = event->position().toPoint();
    Button button = Button::None;
    if (upButtonRect().contains(pos))
        button = Button::Up;
    else if (downButtonRect().contains(pos))
        button = Button::Down;

    if (button != Button::None) {
        // The buttons lie outside the editor: a press there discards it.
        cancelEditor();
        pressButton(button);
    } else if (!m_editing) {
        openEditor();
    }
}

void TTBXSpinEditItem::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_pressed != Button::None) {
        releaseButton();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TTBXSpinEditItem::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Up:
            stepFromInput(+1);
            return;
        case Qt::Key_Down:
            stepFromInput(-1);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_F2:
            openEditor();
            return;
        default:
            break;
        }
    }
    QWidget::keyPressEvent(event);
}

void TTBXSpinEditItem::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    // Reached from the keyboard, the field is ready for typing like any
    // line edit.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        openEditor();
    update();
}

void TTBXSpinEditItem::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}

void TTBXSpinEditItem::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_editor)
        m_editor->setGeometry(textRect());
}

void TTBXSpinEditItem::hideEvent(QHideEvent *event)
{
    cancelEditor();
    releaseButton();
    QWidget::hideEvent(event);
}

void TTBXSpinEditItem::changeEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::EnabledChange:
        if (!isEnabled()) {
            cancelEditor();
            releaseButton();
        }
        update();
        break;
    case QEvent::LocaleChange:
        guarded([&] { setDecimalSeparator(separatorOf(locale())); });
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}

bool TTBXSpinEditItem::eventFilter(QObject *watched, QEvent *event)
{
    // While editing: a press anywhere else in this window discards the
    // editor. Presses on the field itself are sorted out by mousePressEvent.
    if (m_editing &&
        (event->type() == QEvent::MouseButtonPress ||
         event->type() == QEvent::MouseButtonDblClick) &&
        watched->isWidgetType()) {
        // A press in another window of the program (the preview, say) ends it
        // too; a popup (the editor's own context menu) does not.
        auto *widget = static_cast<QWidget *>(watched);
        if (widget != this && widget != m_editor && !m_editor->isAncestorOf(widget) &&
            widget->window()->windowType() != Qt::Popup)
            cancelEditor();
    }
    return QWidget::eventFilter(watched, event);
}

// --- Editing ---------------------------------------------------------------

void TTBXSpinEditItem::openEditor()
{
    if (m_editing || !isEnabled())
        return;
    bool opened = false;
    runHandler([&] {
        m_model.beginEdit();
        opened = true;
    });
    if (!opened)
        return;

    if (!m_editor) {
        m_editor = new InPlaceEditor(this);
        connect(m_editor, &QLineEdit::textEdited, this,
                [this](const QString &text) { editorTextEdited(text); });
    }
    m_editor->setGeometry(textRect());
    m_editor->setText(text());
    // The editor has the focus while it is open: a screen reader names it.
    m_editor->setAccessibleName(accessibleNameText());
    m_editor->setAccessibleDescription(accessibleDescriptionText());
    m_editing = true;
    m_editor->show();
    m_editor->setFocus(Qt::OtherFocusReason);
    m_editor->selectAll();
    qApp->installEventFilter(this);
    update();
}

void TTBXSpinEditItem::closeEditor()
{
    m_editing = false;
    qApp->removeEventFilter(this);
    // Keep the focus on the field rather than letting hide() pass it on;
    // the editor's focus-out finds the session already over.
    if (m_editor->hasFocus() || window()->focusWidget() == m_editor)
        setFocus(Qt::OtherFocusReason);
    m_editor->hide();
    update();
}

void TTBXSpinEditItem::commitEditor()
{
    if (!m_editing)
        return;
    m_model.commitEdit();
    closeEditor();
    committedTextChanged();
    fireCommit();
}

void TTBXSpinEditItem::commitAndTabOut(bool forward)
{
    commitEditor();
    if (forward)
        focusNextChild();
    else
        focusPreviousChild();
}

void TTBXSpinEditItem::cancelEditor()
{
    if (m_editing)
        closeEditor();
}

void TTBXSpinEditItem::runHandler(const std::function<void()> &handler)
{
    ++m_handlerDepth;
    guarded(handler);
    --m_handlerDepth;
}

void TTBXSpinEditItem::editorTextEdited(const QString &text)
{
    runHandler([&] {
        m_model.editTextChanged(text);
        if (OnChange)
            OnChange(this, text);
    });
}

void TTBXSpinEditItem::fireChange(const QString &text)
{
    runHandler([&] {
        if (OnChange)
            OnChange(this, text);
    });
}

void TTBXSpinEditItem::fireCommit()
{
    fireChange(text());
    runHandler([&] { emit valueCommitted(value()); });
}

bool TTBXSpinEditItem::stepFromInput(int step)
{
    if (!isEnabled())
        return false;
    bool stepped = false;
    runHandler([&] {
        m_model.step(step, [this](int s, long double oldValue, long double &newValue) {
            if (OnStep)
                OnStep(this, s, oldValue, newValue);
        });
        stepped = true;
    });
    if (!stepped)
        return false;
    committedTextChanged();
    if (m_editing) {
        m_editor->setText(text());
        m_editor->selectAll();
    }
    fireCommit();
    return true;
}

void TTBXSpinEditItem::setValueFromAssistive(long double value)
{
    m_model.setValue(value);
    committedTextChanged();
    if (m_editing) {
        m_editor->setText(text());
        m_editor->selectAll();
    }
    fireCommit();
}

void TTBXSpinEditItem::pressButton(Button button)
{
    m_pressed = button;
    update();
    if (!stepFromInput(button == Button::Up ? +1 : -1)) {
        releaseButton();
        return;
    }
    if (m_pressed == button)
        m_repeatTimer->start(m_repeatDelay);
}

void TTBXSpinEditItem::releaseButton()
{
    m_repeatTimer->stop();
    if (m_pressed != Button::None) {
        m_pressed = Button::None;
        update();
    }
}

void TTBXSpinEditItem::repeatStep()
{
    const Button button = m_pressed;
    if (button == Button::None)
        return;
    // Stopped while the step runs, so an error box's event loop cannot
    // stack up further steps.
    if (!stepFromInput(button == Button::Up ? +1 : -1)) {
        releaseButton();
        return;
    }
    if (m_pressed == button)
        m_repeatTimer->start(m_repeatInterval);
}

void TTBXSpinEditItem::committedTextChanged()
{
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, static_cast<double>(accessibleValue()));
        QAccessible::updateAccessibility(&event);
    }
}

void TTBXSpinEditItem::setAccessibleLabel(QWidget *label)
{
    m_accessibleLabel = label;
}

QWidget *TTBXSpinEditItem::buddyLabel() const
{
    // Qt looks for a buddy only among the field's siblings; the field sits on
    // a small host of its own, away from its label.
    for (QLabel *label : window()->findChildren<QLabel *>()) {
        if (label->buddy() == this)
            return label;
    }
    return nullptr;
}

QString TTBXSpinEditItem::accessibleNameText() const
{
    if (!accessibleName().isEmpty())
        return accessibleName();
    QWidget *label = buddyLabel();
    if (!label)
        label = m_accessibleLabel;
    QAccessibleInterface *named = label ? QAccessible::queryAccessibleInterface(label) : nullptr;
    return named ? named->text(QAccessible::Name) : QString();
}

QString TTBXSpinEditItem::accessibleDescriptionText() const
{
    if (!accessibleDescription().isEmpty())
        return accessibleDescription();
    const QString unit = (prefix() + u' ' + postfix()).trimmed();
    return unit.isEmpty() ? QString() : tr("Unit: %1").arg(unit);
}

long double TTBXSpinEditItem::accessibleValue() const noexcept
{
    try {
        return m_model.value();
    } catch (...) {
        return m_model.lastValidValue();
    }
}

} // namespace framelog
