#pragma once

#include <QDate>
#include <QString>
#include <QVector>

#include "store/conn.h"

// Which timetable a date runs: its own weekday's, another weekday's (a make-up working day),
// or none at all (a holiday).
struct DayRule {
    bool bells = true;    // false: a day with no bells
    QString weekName;     // the weekday whose events run; the date's own on an ordinary day
    bool special = false; // a special day decided it
    QString note;         // the special day's note
    bool operator==(const DayRule&) const = default;
};

// The rule of date given the special days (any number of rows, for any dates): the row of
// that date decides, else the date runs its own weekday. A row of an unknown kind is ignored.
DayRule RuleForDate(const QDate& date, const QVector<SpecialDayRow>& specialDays);

// The play-log text for a special day, e.g. "special day 2026-10-01 国庆: no bells" or
// "special day 2026-09-27 调休: the timetable of 星期一"; "" for an ordinary day.
QString DayRuleLogLine(const QDate& date, const DayRule& rule);
