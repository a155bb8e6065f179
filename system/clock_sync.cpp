// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/clock_sync.h"

#include <sys/timex.h>

ClockSync ReadClockSync() {
    timex tx{}; // modes 0: read only, allowed to anyone
    const int state = ::adjtimex(&tx);
    if (state < 0) {
        return {};
    }
    return {true, state != TIME_ERROR && !(tx.status & STA_UNSYNC), tx.maxerror};
}

QString ClockSyncText(const ClockSync& sync) {
    return sync.known && !sync.synchronised ? QStringLiteral("本机时钟未同步") : QString();
}
