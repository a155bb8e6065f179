// SPDX-License-Identifier: GPL-3.0-or-later
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
// that date decides, else the date runs its own weekday. A row SpecialDayProblem flags is
// ignored.
DayRule RuleForDate(const QDate& date, const QVector<SpecialDayRow>& specialDays);

// Why the schedule ignores row, for the log: "" when the row is valid, else a short reason such
// as `the kind "星期八" is neither 无铃声 nor a weekday`. A row is valid when its date is a real
// date written "yyyy-MM-dd" and its kind is kNoBellsKind or a weekday name, both exactly, with
// no blank around them (rows written by other tools may have any text).
QString SpecialDayProblem(const SpecialDayRow& row);
// The same reason in the administrator's words, for the special-days page ("" when valid).
QString SpecialDayProblemText(const SpecialDayRow& row);

// The play-log text for a special day, e.g. "special day 2026-10-01 国庆: no bells" or
// "special day 2026-09-27 调休: the timetable of 星期一"; "" for an ordinary day.
QString DayRuleLogLine(const QDate& date, const DayRule& rule);
