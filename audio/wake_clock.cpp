#include "audio/wake_clock.h"

#include "audio/monotonic_clock.h"

#include <gst/gst.h>

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

// On the waiting (streaming) thread.
GstClockReturn Wait(GstClock* clock, GstClockEntry* entry, GstClockTimeDiff* jitter) {
    const GstClockReturn result = gParentWait(clock, entry, jitter);
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
