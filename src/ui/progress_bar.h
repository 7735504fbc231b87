#pragma once

#include <QProgressBar>

namespace framelog {

// A progress bar that keeps a position outside its range and shows it
// clamped, and refuses a maximum below its minimum with an error, keeping its
// previous range. (QProgressBar drops an out-of-range value instead.)
class TProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit TProgressBar(QWidget *parent = nullptr);

    int Position() const { return value(); }
    void setPosition(int position);
    int Max() const { return maximum(); }
    // Throws EPropertyError "TProgressBar property out of range" when
    // max < minimum().
    void setMax(int max);
};

} // namespace framelog
