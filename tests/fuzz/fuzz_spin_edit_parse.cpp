// Arbitrary text typed into the two interval fields: the parser must not
// crash, a valid result must clamp into the field's range, and the text the
// field would then show must parse again.
#include "settings/interval_units.h"
#include "ui/spin_edit_model.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace framelog;

namespace {

std::unique_ptr<SpinEditModel> makeField(bool reload, QChar separator)
{
    auto field = std::make_unique<SpinEditModel>();
    SpinEditModel &m = *field;
    m.setDecimalSeparator(separator);
    m.setConverter([&m](const QString &, const QString &postfix, long double &value, bool &) {
        value = convertToFieldUnit(m.postfix(), postfix, value);
    });
    m.setDecimal(reload ? 2 : 1);
    m.setIncrement(reload ? 1.0L : 0.1L);
    m.setMinValue(reload ? 0.167L : 0.1L);
    m.setMaxValue(reload ? 1440.0L : 30.0L);
    m.setPostfix(reload ? QStringLiteral("min") : QStringLiteral("s"));
    m.setSpaceBeforePostfix(true);
    m.setValue(reload ? 45.0L : 1.0L);
    return field;
}

void check(SpinEditModel &m, const QString &text)
{
    try {
        const std::optional<long double> parsed = m.parse(text);
        if (!parsed)
            return;
        const long double clamped = m.clamp(*parsed);
        if (!(clamped >= m.minValue() && clamped <= m.maxValue()))
            std::abort();
        const std::optional<long double> back = m.parse(m.format(clamped));
        if (!back || !(*back >= m.minValue() && *back <= m.maxValue()))
            std::abort();
        // The editing session agrees with the parser.
        m.beginEdit();
        m.editTextChanged(text);
        if (m.lastValidValue() != clamped)
            std::abort();
        m.commitEdit();
        m.step(+1);
        m.step(-1);
    } catch (const EOverflow &) {
        // A number beyond the extended range: reported to the user.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // Fresh fields for every input, so a crash reproduces from its input alone.
    for (bool reload : {false, true}) {
        for (QChar separator : {QLatin1Char('.'), QLatin1Char(',')})
            check(*makeField(reload, separator), text);
    }
    return 0;
}
