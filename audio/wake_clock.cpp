// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/wake_clock.h"

#include "audio/monotonic_clock.h"

#include <gst/gst.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>

namespace {

struct WakeClock {
    GstSystemClock parent;
    gint64 firstWakeNs; // -1 until the first wait ended; read and written atomically
};

struct WakeClockClass {
    GstSystemClockClass parentClass;
};

GstClockReturn (*gParentWait)(GstClock*, GstClockEntry*, GstClockTimeDiff*) = nullptr;

// How long before the first sample a real-time thread stops sleeping and runs. A woken thread
// can wait milliseconds for a processor when the kernel is not preemptible or the computer
// is a busy virtual machine; a running real-time thread is not displaced by ordinary work.
constexpr qint64 kRunUpNs = 20 * 1000000;

qint64 RunUpNs() {
    const int policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    if (policy != SCHED_FIFO && policy != SCHED_RR) {
        return 0; // an ordinary thread running would be displaced all the same
    }
    // Well inside the CPU time a real-time thread may use without blocking (RLIMIT_RTTIME,
    // microseconds), which RealtimeKit requires to be set.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        return std::min<qint64>(kRunUpNs, qint64(limit.rlim_cur) * 1000 / 4);
    }
    return kRunUpNs;
}

// The first wait: asleep until the run-up, then running until the entry's time. Unscheduling
// the entry (a flush, a new target) ends either part at once.
GstClockReturn WaitRunningUp(GstClock* clock, GstClockEntry* entry, GstClockTimeDiff* jitter) {
    const GstClockTime target = GST_CLOCK_ENTRY_TIME(entry);
    const qint64 runUp = RunUpNs();
    if (runUp <= 0 || qint64(target) - MonotonicNs() <= runUp) {
        return gParentWait(clock, entry, jitter);
    }
    GST_CLOCK_ENTRY_TIME(entry) = target - runUp;
    const GstClockReturn slept = gParentWait(clock, entry, jitter);
    GST_CLOCK_ENTRY_TIME(entry) = target;
    // Busy again while running, as the system clock marks a wait, so an unschedule shows.
    auto* status = reinterpret_cast<gint*>(&GST_CLOCK_ENTRY_STATUS(entry));
    const gint after = g_atomic_int_get(status);
    if ((slept != GST_CLOCK_OK && slept != GST_CLOCK_EARLY) || after == GST_CLOCK_UNSCHEDULED ||
        !g_atomic_int_compare_and_exchange(status, after, gint(GST_CLOCK_BUSY))) {
        return GST_CLOCK_UNSCHEDULED;
    }
    qint64 now = MonotonicNs();
    while (now < qint64(target) && g_atomic_int_get(status) == GST_CLOCK_BUSY) {
        now = MonotonicNs();
    }
    if (!g_atomic_int_compare_and_exchange(status, GST_CLOCK_BUSY, GST_CLOCK_OK)) {
        return GST_CLOCK_UNSCHEDULED;
    }
    if (jitter) {
        *jitter = now - qint64(target);
    }
    return GST_CLOCK_OK;
}

// On the waiting (streaming) thread.
GstClockReturn Wait(GstClock* clock, GstClockEntry* entry, GstClockTimeDiff* jitter) {
    auto* self = reinterpret_cast<WakeClock*>(clock);
    const GstClockReturn result = std::atomic_ref<gint64>(self->firstWakeNs).load() < 0
                                      ? WaitRunningUp(clock, entry, jitter)
                                      : gParentWait(clock, entry, jitter);
    if (result == GST_CLOCK_OK || result == GST_CLOCK_EARLY) {
        const qint64 now = MonotonicNs();
        gint64 expected = -1;
        std::atomic_ref<gint64>(reinterpret_cast<WakeClock*>(clock)->firstWakeNs)
            .compare_exchange_strong(expected, now);
    }
    return result;
}

GType WakeClockType() {
    static const GType type = [] {
        const GTypeInfo info{sizeof(WakeClockClass),
                             nullptr,
                             nullptr,
                             [](gpointer klass, gpointer) {
                                 auto* clockClass = GST_CLOCK_CLASS(klass);
                                 gParentWait = clockClass->wait;
                                 clockClass->wait = Wait;
                             },
                             nullptr,
                             nullptr,
                             sizeof(WakeClock),
                             0,
                             [](GTypeInstance* instance, gpointer) {
                                 reinterpret_cast<WakeClock*>(instance)->firstWakeNs = -1;
                             },
                             nullptr};
        return g_type_register_static(GST_TYPE_SYSTEM_CLOCK, "BelvoranWakeClock", &info,
                                      GTypeFlags(0));
    }();
    return type;
}

} // namespace

GstClock* NewWakeClock() {
    auto* clock = static_cast<GstClock*>(
        g_object_new(WakeClockType(), "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr));
    gst_object_ref_sink(clock);
    return clock;
}

qint64 FirstWakeNs(GstClock* clock) {
    return std::atomic_ref<gint64>(reinterpret_cast<WakeClock*>(clock)->firstWakeNs).load();
}
