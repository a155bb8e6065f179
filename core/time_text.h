// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QString>
#include <QTime>

// Times of day and music lengths travel as the 8-character text "hh:mm:ss".
// Start times are compared as texts, which equals time order only for this exact form.

// Whole seconds as "hh:mm:ss": three-digit hours past 99, and a negative value keeps
// its sign in each field (-5 gives "00:00:0-5"), as the countdown label has always shown it.
QString SecondsToTime(qint64 s);

// Real seconds (a music length) rounded to whole seconds, halves to even, then SecondsToTime.
QString LengthToTime(double seconds);

// The local time of day as "hh:mm:ss".
QString TimeText(const QTime& t);

// True when text is exactly "hh:mm:ss" with hh 00-23, mm and ss 00-59.
bool IsTimeText(const QString& text);

// Seconds since midnight of a valid time text; -1 when it is not one.
int TimeTextSeconds(const QString& text);

// An event (or the daily shutdown) more than this many seconds overdue, because the
// computer slept or the clock jumped, is logged as missed instead of happening late.
constexpr int kLateGraceSeconds = 60;

// The daily shutdown time is a time text like any other; this one means no daily shutdown.
inline const QString kNoShutdownTime = QStringLiteral("00:00:00");

// "星期日" … "星期六" for the date's weekday.
QString WeekdayName(const QDate& date);

// The seven weekday names, Sunday first, as stored in the timetable.
const QStringList& WeekdayNames();
