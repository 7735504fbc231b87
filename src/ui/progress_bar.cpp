#include "ui/progress_bar.h"

#include "core/exception.h"

#include <algorithm>

namespace framelog {

TProgressBar::TProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setTextVisible(false);
}

void TProgressBar::setPosition(int position)
{
    setValue(std::clamp(position, minimum(), maximum()));
}

void TProgressBar::setMax(int max)
{
    if (max < minimum())
        throw EPropertyError(QStringLiteral("TProgressBar property out of range"));
    if (max == maximum())
        return;
    // QProgressBar resets a value that leaves the range; a bar keeps it clamped.
    const int position = value();
    setMaximum(max);
    if (position >= minimum())
        setValue(std::min(position, max));
}

} // namespace framelog
