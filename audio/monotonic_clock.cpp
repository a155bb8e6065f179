// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/monotonic_clock.h"

#include <time.h>

#include <limits>

namespace {

qint64 ClockNs(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

qint64 MonotonicNs() {
    return ClockNs(CLOCK_MONOTONIC);
}

qint64 MonotonicMinusWallNs() {
    qint64 best = std::numeric_limits<qint64>::max();
    qint64 offset = 0;
    for (int i = 0; i < 10 && best > 20000; ++i) {
        const qint64 before = ClockNs(CLOCK_REALTIME);
        const qint64 mono = MonotonicNs();
        const qint64 after = ClockNs(CLOCK_REALTIME);
        if (after - before < best) {
            best = after - before;
            offset = mono - before / 2 - after / 2;
        }
    }
    return offset;
}

qint64 WallToMonotonicNs(const QDateTime& t) {
    return t.toMSecsSinceEpoch() * 1000000 + MonotonicMinusWallNs();
}

qint64 MonotonicToWallUs(qint64 ns) {
    return (ns - MonotonicMinusWallNs() + 500) / 1000;
}
