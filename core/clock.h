// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>

#include <time.h>

// The local wall clock. The schedule reads time only through this, so tests can drive a
// whole week with a fake one.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime Now() const = 0;
    // The same instant in milliseconds since the epoch: what the schedule compares, since
    // it needs no time-zone conversion.
    virtual qint64 NowMs() const { return Now().toMSecsSinceEpoch(); }
    // A clock that nobody sets and that runs on through a suspend: how far the wall clock
    // is from it changes only when the wall clock is set (or stepped by time sync).
    virtual qint64 SteadyMs() const = 0;
};

class SystemClock : public Clock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
    qint64 NowMs() const override { return QDateTime::currentMSecsSinceEpoch(); }
    qint64 SteadyMs() const override {
        timespec ts{};
        clock_gettime(CLOCK_BOOTTIME, &ts);
        return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }
};

// The system clock, for what runs before the application object that owns the program's
// clock, or is handed none.
inline const Clock& TheSystemClock() {
    static const SystemClock clock;
    return clock;
}
