#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

namespace framelog {

// The user's regional date and time forms, as the file name placeholders
// use them. A default-constructed value holds the forms used where the
// locale gives none (the C/POSIX locale).
struct LocaleFormats {
    bool twelveHour = false;
    bool hourLeadingZero = true;
    QString timeSeparator = QStringLiteral(":");
    QString amText = QStringLiteral("am");
    QString pmText = QStringLiteral("pm");
    bool designatorFirst = false;

    // Qt date formats. In the short one each unquoted '/' stands for
    // dateSeparator.
    QString shortDatePattern = QStringLiteral("M/d/yy");
    QString longDatePattern = QStringLiteral("MMMM d, yyyy");
    QString dateSeparator = QStringLiteral("/");
    // Supplies month and weekday names to the date patterns.
    QLocale names = QLocale::c();

    static LocaleFormats fromLocale(const QLocale &locale);

    // Hour, minutes and seconds; Qt's own long time form is not used
    // because it carries a time zone.
    QString longTime(QTime time) const;
    QString shortTime(QTime time) const;
    QString longDate(QDate date) const;
    QString shortDate(QDate date) const;

private:
    QString formatTime(QTime time, bool withSeconds) const;
};

} // namespace framelog
