// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QVector>

#include "store/conn.h"

// Reads a holiday list in iCalendar form (.ics), as a region's school calendar is published:
// every VEVENT is an all-day holiday, one day (DTSTART only), several days (DTEND, the day
// after the last, or a DURATION in days), with its SUMMARY as the note. Each day becomes a
// no-bell special day, in file order; a day two events share comes once, with the first one's
// note. A note longer than kMaxSpecialDayNote is cut there, as the page's note box does.
//
// A school's calendar covers a few years: a file of more than kMaxCalendarDays days, or with
// a day more than kCalendarYears years before or after today, is refused.
//
// The file is read whole before anything is returned: on any error (a line libical cannot
// read, unbalanced BEGIN/END, an event that is not all-day, a date that does not exist, an
// end before its start, a repeating event, too many days or days too far away, no event at
// all) it returns false and *error names the line, and *days is left as it was.
bool ReadHolidayCalendar(const QByteArray& text, const QDate& today, QVector<SpecialDayRow>* days,
                         QString* error);
bool ReadHolidayCalendarFile(const QString& path, const QDate& today, QVector<SpecialDayRow>* days,
                             QString* error);

inline constexpr int kMaxSpecialDayNote = 100;
inline constexpr int kMaxCalendarDays = 3660;
inline constexpr int kCalendarYears = 10;
