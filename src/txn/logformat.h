#pragma once
// Date and time texts of the log: "yyyy-mm-dd" and "HH:mm:ss", whatever the platform's own
// settings are.
#include <QDateTime>
#include <QString>

inline QString LogDateText(const QDate& date) {
    return date.toString(QStringLiteral("yyyy-MM-dd"));
}
inline QString LogTimeText(const QTime& time) {
    return time.toString(QStringLiteral("HH:mm:ss"));
}
