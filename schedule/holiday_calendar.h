#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "store/conn.h"

// Reads a holiday list in iCalendar form (.ics), as a region's school calendar is published:
// every VEVENT is an all-day holiday, one day (DTSTART only), several days (DTEND, the day
// after the last, or a DURATION in days), with its SUMMARY as the note. Each day becomes a
// no-bell special day, in file order.
//
// The file is read whole before anything is returned: on any error (a line libical cannot
// read, unbalanced BEGIN/END, an event that is not all-day, an end before its start, a
// repeating event, no event at all) it returns false and *error names the line, and *days
// is left as it was.
bool ReadHolidayCalendar(const QByteArray& text, QVector<SpecialDayRow>* days, QString* error);
bool ReadHolidayCalendarFile(const QString& path, QVector<SpecialDayRow>* days, QString* error);
