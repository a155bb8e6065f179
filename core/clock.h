#pragma once

#include <QDateTime>

// The local wall clock. The schedule reads time only through this, so tests can drive a
// whole week with a fake one.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime Now() const = 0;
};

class SystemClock : public Clock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
};
