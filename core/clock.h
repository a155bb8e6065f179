#pragma once

#include <QDateTime>

// The local wall clock. The schedule reads time only through this, so tests can drive a
// whole week with a fake one.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime Now() const = 0;
    // The same instant in milliseconds since the epoch: what the schedule compares, since
    // it needs no time-zone conversion.
    virtual qint64 NowMs() const { return Now().toMSecsSinceEpoch(); }
};

class SystemClock : public Clock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
    qint64 NowMs() const override { return QDateTime::currentMSecsSinceEpoch(); }
};

// The system clock, for what runs before the application object that owns the program's
// clock, or is handed none.
inline const Clock& TheSystemClock() {
    static const SystemClock clock;
    return clock;
}
