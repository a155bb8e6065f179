// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Whether this computer's clock is kept synchronised (NTP, chrony or timesyncd steering the
// kernel's clock): the bells ring on it, so a clock never synchronised rings exactly on the
// wrong second. Read from the kernel (adjtimex, asking only), which needs no daemon or bus.
struct ClockSync {
    bool known = false;        // the kernel answered
    bool synchronised = false; // no STA_UNSYNC, and not TIME_ERROR
    long maxErrorUs = 0;       // the kernel's bound on the clock's error
};

ClockSync ReadClockSync();

// "本机时钟未同步" for a clock known not to be synchronised, else "".
QString ClockSyncText(const ClockSync& sync);
