// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// When a play's first sample went out: a probe on every output's sink notes what reaches it,
// on the streaming threads, and the player works out the time from that on its own. Only for
// audio/'s own sources.

#include <QtGlobal>

typedef struct _GstElement GstElement;
struct PlayPipeline;
struct SinkBranch;

// Watches what reaches sink, an output of branch's pipeline: when the first buffer came,
// when the sink was done with it and, for a sink with a ring buffer, when it was heard. The
// pipeline's owner is told (firstRendered) once that is known. What would sound past the
// pipeline's cut is dropped.
void WatchSink(GstElement* sink, SinkBranch* branch);

struct FirstSampleTime {
    qint64 ns = -1; // on the monotonic clock; -1: not known yet
    int lostMs = 0; // how much of the start never sounded: it reached the output late
};
// When p's first sample sounded, as far as its sinks have told. With several outputs the
// first to sound counts.
FirstSampleTime FirstSampleOf(const PlayPipeline& p);
