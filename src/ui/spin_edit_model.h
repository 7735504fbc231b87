#pragma once

#include "core/exception.h"

#include <QChar>
#include <QString>

#include <functional>
#include <optional>

namespace framelog {

// Number formats of the spin-edit field. Only evtFloat is built; the others
// are named so that layouts read like the original property set.
enum class SpinValueType { evtInteger, evtFloat, evtHex };

// The state and rules of one numeric field with units, without any widget:
// formatting, parsing of typed text (a number with units and at most one
// arithmetic operation), clamping, stepping and the editing session's last
// valid value. TTBXSpinEditItem wraps it; tests drive it directly.
//
// Numbers are long double (80-bit extended on x86-64). The decimal separator
// is injected (the widget passes the locale's), so the model is locale-free.
class SpinEditModel {
public:
    // Converts one parsed number (without its sign) from the units typed
    // around it into the field's unit. `canConvert` is true on entry; clearing
    // it rejects the whole text. Called for every number of every parse.
    using Converter = std::function<void(const QString &prefix, const QString &postfix,
                                         long double &value, bool &canConvert)>;
    // Sees a step before it is stored and may change the proposed value.
    using StepHook = std::function<void(int step, long double oldValue, long double &newValue)>;

    SpinEditModel() = default;

    // --- Settings --------------------------------------------------------
    SpinValueType valueType() const { return m_valueType; }
    // Throws EPropertyError("Invalid value type") for the formats not built.
    void setValueType(SpinValueType type);

    int decimal() const { return m_decimal; }
    // Held to 0..10; re-formats the committed text.
    void setDecimal(int decimals);

    long double increment() const { return m_increment; }
    // Throws EPropertyError("Increment should be a positive value") for <= 0
    // (and NaN); the old increment stays.
    void setIncrement(long double increment);

    long double minValue() const { return m_min; }
    long double maxValue() const { return m_max; }
    // Equal bounds mean "not limited". Neither re-formats the text.
    void setMinValue(long double value) { m_min = value; }
    void setMaxValue(long double value) { m_max = value; }

    const QString &prefix() const { return m_prefix; }
    const QString &postfix() const { return m_postfix; }
    // A unit text may not hold a character the parser stops at (code <= 32,
    // a digit, or one of * + , - . / ^): throws EPropertyError("Invalid
    // prefix") / ("Invalid postfix") and keeps the old text. Re-formats.
    void setPrefix(const QString &prefix);
    void setPostfix(const QString &postfix);

    bool spaceAfterPrefix() const { return m_spaceAfterPrefix; }
    bool spaceBeforePostfix() const { return m_spaceBeforePostfix; }
    void setSpaceAfterPrefix(bool on);   // re-formats
    void setSpaceBeforePostfix(bool on); // re-formats

    bool snap() const { return m_snap; }
    void setSnap(bool on) { m_snap = on; }

    QChar decimalSeparator() const { return m_separator; }
    // Reads the value with the old separator and re-formats with the new one.
    void setDecimalSeparator(QChar separator);

    void setConverter(Converter converter) { m_converter = std::move(converter); }

    // --- Committed state -------------------------------------------------
    // The committed text the field shows ("0" until something is written).
    const QString &text() const { return m_text; }
    // Stores the text as it is; the last valid value stays.
    void setText(const QString &text) { m_text = text; }

    // Parses the committed text (calling the converter) without clamping it
    // again; when the text does not parse, the last valid value. May throw
    // EOverflow, like every parse.
    long double value() const;
    // Re-formats the committed text from `value` (clamped) and makes the
    // clamped value the last valid value. No notification.
    void setValue(long double value);

    long double lastValidValue() const { return m_lastValid; }

    // --- Rules -----------------------------------------------------------
    // Below MinValue becomes MinValue, above MaxValue becomes MaxValue, unless
    // the two are equal.
    long double clamp(long double value) const;

    // Clamped, fixed-point with Decimal digits, prefix and postfix applied.
    QString format(long double value) const;

    // Parses typed text: whitespace (space, tab), an optional sign, a term,
    // at most one of * + - / and a second unsigned term, nothing left over. A
    // term is prefix, number (digits, separator and digits, optional exponent
    // below 5000 in magnitude) and postfix. Returns nothing for an invalid
    // text; throws EOverflow when a number or result leaves the extended
    // range (also for exponents -4933..-4999: the power of ten is formed
    // before it is inverted). The result is not clamped.
    std::optional<long double> parse(const QString &text) const;

    // The value one step up (+1) or down (-1) from `oldValue`, unclamped.
    // With Snap the result lands on a whole multiple of Increment: the
    // multiple is a 32-bit integer, held to the int32 range before the
    // conversion (a field beyond about 2^31 increments stops there).
    long double steppedValue(long double oldValue, int step) const;

    // --- Editing session -------------------------------------------------
    // The editor opened: the last valid value becomes the committed value.
    void beginEdit();
    // The editor's text changed: a valid text's clamped value becomes the
    // last valid value; an invalid one changes nothing. May throw EOverflow,
    // leaving the last valid value as it was.
    void editTextChanged(const QString &text);
    // Enter or Tab: writes the last valid value as the value.
    void commitEdit() { setValue(m_lastValid); }
    // A step from the committed value (never from typed text); `hook` sees
    // it before it is written.
    void step(int step, const StepHook &hook = {});

private:
    // Runs a setter that changes how the value is shown: the value is read
    // with the old settings and written back with the new ones.
    template <class F> void reformatAround(F &&change);

    SpinValueType m_valueType = SpinValueType::evtFloat;
    int m_decimal = 2;
    long double m_increment = 1.0L;
    long double m_min = 0.0L;
    long double m_max = 0.0L;
    QString m_prefix;
    QString m_postfix;
    bool m_spaceAfterPrefix = false;
    bool m_spaceBeforePostfix = false;
    bool m_snap = true;
    QChar m_separator = QLatin1Char('.');
    Converter m_converter;

    QString m_text = QStringLiteral("0");
    long double m_lastValid = 0.0L;
};

// Fixed-point text of `value` with exactly `decimals` digits after
// `separator`, at most 15 significant digits, no grouping, "-" only when a
// non-zero digit is shown. The digits come from the 18-significant-digit
// expansion, then rounded half away from zero at the last shown digit.
QString formatFixed(long double value, int decimals, QChar separator);

} // namespace framelog
