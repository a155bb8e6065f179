// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/time_text.h"

#include <QStringList>
#include <cmath>

namespace {

QString TwoDigits(qint64 v) {
    // A "0" goes in front of anything below 10, negative values included.
    return v < 10 ? QStringLiteral("0") + QString::number(v) : QString::number(v);
}

} // namespace

QString SecondsToTime(qint64 s) {
    // C++ division truncates toward zero and the remainder takes the sign of s.
    const qint64 h = s / 3600;
    const qint64 m = (s % 3600) / 60;
    const qint64 sec = s % 60;
    return TwoDigits(h) + QLatin1Char(':') + TwoDigits(m) + QLatin1Char(':') + TwoDigits(sec);
}

QString LengthToTime(double seconds) {
    if (!std::isfinite(seconds)) {
        return SecondsToTime(0);
    }
    return SecondsToTime(static_cast<qint64>(std::nearbyint(seconds)));
}

QString TimeText(const QTime& t) {
    return t.toString(QStringLiteral("HH:mm:ss"));
}

int TimeTextSeconds(const QString& text) {
    if (text.size() != 8 || text[2] != QLatin1Char(':') || text[5] != QLatin1Char(':')) {
        return -1;
    }
    for (int i : {0, 1, 3, 4, 6, 7}) {
        if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9')) {
            return -1;
        }
    }
    const int h = text.mid(0, 2).toInt();
    const int m = text.mid(3, 2).toInt();
    const int s = text.mid(6, 2).toInt();
    if (h > 23 || m > 59 || s > 59) {
        return -1;
    }
    return h * 3600 + m * 60 + s;
}

bool IsTimeText(const QString& text) {
    return TimeTextSeconds(text) >= 0;
}

const QStringList& WeekdayNames() {
    static const QStringList names = {QStringLiteral("星期日"), QStringLiteral("星期一"),
                                      QStringLiteral("星期二"), QStringLiteral("星期三"),
                                      QStringLiteral("星期四"), QStringLiteral("星期五"),
                                      QStringLiteral("星期六")};
    return names;
}

QString WeekdayName(const QDate& date) {
    // Qt numbers Monday 1 … Sunday 7; the timetable counts from Sunday.
    return WeekdayNames().at(date.dayOfWeek() % 7);
}
