// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

typedef struct _GstClock GstClock;

// GStreamer's monotonic system clock, noting when its first wait ended. A sink on the clock
// waits for each buffer's time and renders it as soon as the wait ends, so on the clock of a
// pipeline of its own this is when the pipeline's first sample went out, however late its
// thread woke. Sinks with a ring buffer of their own (sound cards) do not wait on it.
// A real-time thread's first wait ends running, not waking: it sleeps until shortly before
// the time and runs up to it, so a processor held by other work cannot make it late.
GstClock* NewWakeClock(); // a full reference

// The monotonic time (ns) at which the clock's first wait ended; -1 until one has.
qint64 FirstWakeNs(GstClock* clock);
