// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/local_day.h"

#include <QDateTime>
#include <limits>

namespace {

int OffsetOf(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
}

// The first instant the clock shows midnight of date, or the first after midnight where
// the zone skips it.
qint64 FirstInstantOf(const QDate& date) {
    return QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch();
}

} // namespace

LocalDay::LocalDay(const QDate& date)
    : date_(date), localMidnightS_(QDate(1970, 1, 1).daysTo(date) * 86400),
      startMs_(FirstInstantOf(date)), endMs_(FirstInstantOf(date.addDays(1))) {
    offsetBefore_ = OffsetOf(startMs_);
    offsetAfter_ = OffsetOf(endMs_ - 1);
    transitionMs_ = std::numeric_limits<qint64>::max();
    if (offsetBefore_ == offsetAfter_) {
        return;
    }
    // Zones change on whole seconds: the first second whose offset is the later one.
    qint64 lo = startMs_ / 1000;
    qint64 hi = (endMs_ - 1) / 1000;
    while (lo < hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        if (OffsetOf(mid * 1000) == offsetAfter_) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    transitionMs_ = hi * 1000;
}

qint64 LocalDay::Candidate(int seconds, int offset) const {
    return (localMidnightS_ + seconds - offset) * 1000;
}

qint64 LocalDay::InstantOf(int seconds) const {
    const qint64 before = Candidate(seconds, offsetBefore_);
    if (before < transitionMs_) {
        return before; // also the first of a repeated hour's two
    }
    const qint64 after = Candidate(seconds, offsetAfter_);
    return after >= transitionMs_ ? after : transitionMs_; // in the gap: as the clock resumes
}

bool LocalDay::InGap(int seconds) const {
    return Candidate(seconds, offsetBefore_) >= transitionMs_ &&
           Candidate(seconds, offsetAfter_) < transitionMs_;
}

int LocalDay::SecondsAt(qint64 ms) const {
    const qint64 local = (ms >= 0 ? ms / 1000 : (ms - 999) / 1000) + OffsetAt(ms);
    const qint64 s = (local - localMidnightS_) % 86400;
    return int(s < 0 ? s + 86400 : s);
}

bool LocalDay::StillAgreesAt(qint64 ms) const {
    return OffsetOf(ms) == OffsetAt(ms) && FirstInstantOf(date_) == startMs_;
}
