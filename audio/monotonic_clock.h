// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QtGlobal>

// GStreamer's system clock, on which armed starts are scheduled, is the monotonic clock; the
// schedule speaks wall-clock time. These read both clocks directly: a start at a wall-clock
// second is placed on the monotonic clock to within microseconds.

// The monotonic clock now, in nanoseconds.
qint64 MonotonicNs();

// The monotonic clock minus the wall clock now, from the most tightly bracketed of a few
// readings (a thread preempted between two readings would be off by the time it waited).
qint64 MonotonicMinusWallNs();

// A wall-clock time on the monotonic clock, by the two clocks' offset now: a later step of
// the wall clock moves the answer.
qint64 WallToMonotonicNs(const QDateTime& t);

// A monotonic time as wall-clock time, in microseconds since the epoch, by the offset now.
qint64 MonotonicToWallUs(qint64 ns);
