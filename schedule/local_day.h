// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QtGlobal>

// One calendar day of the local wall clock, as instants (milliseconds since the epoch).
// Worked out once when the day is read, so that every tick compares plain numbers and no
// tick converts through the time zone.
//
// On a daylight-saving day the clock skips or repeats an hour. A time of day in the skipped
// hour stands for the first instant after the gap (the clock never shows it, and a bell
// due then rings as the clock comes back); a time in the repeated hour stands for its first
// occurrence, so it rings once.
class LocalDay {
public:
    LocalDay() = default;
    explicit LocalDay(const QDate& date);

    const QDate& Date() const { return date_; }
    bool IsValid() const { return date_.isValid(); }
    // The day's first instant and the next day's first.
    qint64 StartMs() const { return startMs_; }
    qint64 EndMs() const { return endMs_; }
    bool Contains(qint64 ms) const { return ms >= startMs_ && ms < endMs_; }

    // The instant the clock shows the time of day (seconds since midnight).
    qint64 InstantOf(int seconds) const;
    // Whether that time of day falls in the hour the clock skips.
    bool InGap(int seconds) const;
    // The time of day the clock shows at ms, in whole seconds since midnight.
    int SecondsAt(qint64 ms) const;
    // The offset from UTC in force at ms, as this day was worked out.
    int OffsetAt(qint64 ms) const { return ms < transitionMs_ ? offsetBefore_ : offsetAfter_; }
    // Whether the zone still agrees with the offsets this day was worked out with (the
    // administrator may change the zone while the program runs). Converts through the zone:
    // for an occasional check, not for every tick.
    bool StillAgreesAt(qint64 ms) const;

private:
    qint64 Candidate(int seconds, int offset) const;

    QDate date_;
    qint64 localMidnightS_ = 0; // the date's midnight as seconds on a clock with no offset
    qint64 startMs_ = 0;
    qint64 endMs_ = 0;
    // The offset in force before transitionMs_, and from it on (a day has at most one change).
    int offsetBefore_ = 0;
    int offsetAfter_ = 0;
    qint64 transitionMs_ = 0;
};
