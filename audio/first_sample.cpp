// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/first_sample.h"

#include "audio/monotonic_clock.h" // GStreamer runs on it: read directly, to the microsecond
#include "audio/play_pipeline.h"
#include "audio/wake_clock.h"

namespace {

// A first sample heard this little before it reached its sink is timing noise, not a loss.
constexpr qint64 kLostSlackNs = 5 * 1000000;

// The buffer of a probe's data, or the first of a buffer list; null for an event.
GstBuffer* FirstBuffer(GstPadProbeInfo* info) {
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        return GST_PAD_PROBE_INFO_BUFFER(info);
    }
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        return list && gst_buffer_list_length(list) > 0 ? gst_buffer_list_get(list, 0) : nullptr;
    }
    return nullptr;
}

// The running time at pad of the buffer's start, or with end of its end; NONE when it has none.
GstClockTime RunningTime(GstPad* pad, GstBuffer* buffer, bool end = false) {
    if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer)) {
        return GST_CLOCK_TIME_NONE;
    }
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) {
        return GST_CLOCK_TIME_NONE;
    }
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    GstClockTime time = GST_BUFFER_PTS(buffer);
    if (end && GST_BUFFER_DURATION_IS_VALID(buffer)) {
        time += GST_BUFFER_DURATION(buffer);
    }
    const GstClockTime running = gst_segment_to_running_time(segment, GST_FORMAT_TIME, time);
    gst_event_unref(event);
    return running;
}

// Whether the buffer at pad would still be sounding at the pipeline's cut: its end, on the
// pipeline clock, is past it. The sink plays buffers at their clock time, so dropping these
// as they arrive ends the sound at the cut, whenever this thread or the main one runs.
bool PastCut(PlayPipeline* pipe, GstPad* pad, GstPadProbeInfo* info) {
    const qint64 cut = pipe->cutNs.load();
    if (cut < 0 || !(info->type & GST_PAD_PROBE_TYPE_BUFFER)) {
        return false;
    }
    const GstClockTime running = RunningTime(pad, FirstBuffer(info), true);
    if (!GST_CLOCK_TIME_IS_VALID(running)) {
        return false;
    }
    return qint64(gst_element_get_base_time(pipe->playbin) + running) + pipe->offsetNs.load() > cut;
}

enum class SinkData { Pass, Drop, FirstRendered };

// The pad feeding the sink idle again after the first buffer, on the same streaming thread:
// a sink on the clock has waited for the buffer's time and rendered it (a network sink has
// sent it), so this is when the first sample left.
GstPadProbeReturn OnFirstChainDone(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto* branch = static_cast<SinkBranch*>(data);
    qint64 expected = -1;
    if (branch->renderedNs.compare_exchange_strong(expected, MonotonicNs())) {
        branch->pipe->firstRendered(branch->pipe->owner, branch->pipe->serial);
    }
    return GST_PAD_PROBE_REMOVE;
}

// The sink with a ring buffer inside element (itself, or in a bin); null when it has none.
GstAudioBaseSink* FindAudioSink(GstElement* element) {
    if (GST_IS_AUDIO_BASE_SINK(element)) {
        return GST_AUDIO_BASE_SINK(element);
    }
    if (!GST_IS_BIN(element)) {
        return nullptr;
    }
    GstAudioBaseSink* found = nullptr;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(element));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        if (auto* e = GST_ELEMENT(g_value_get_object(&item)); GST_IS_AUDIO_BASE_SINK(e)) {
            found = GST_AUDIO_BASE_SINK(e); // owned by the pipeline, which outlives the probe
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

// When a sink with a ring buffer plays, or played, the sample at running time running, on
// the monotonic clock. The sink writes each sample where its own clock, calibrated against
// the pipeline's, says that sample's time is; its clock reads where the device (or sound
// server) is playing now. The difference is how far ahead of now the sample sounds.
qint64 HeardAt(GstAudioBaseSink* sink, GstClockTime running) {
    GstClock* own = sink->provided_clock;
    if (!own || !GST_IS_AUDIO_CLOCK(own)) {
        return -1;
    }
    auto* base = GST_BASE_SINK(sink);
    GstClockTime internal, external, num, denom;
    gst_clock_get_calibration(own, &internal, &external, &num, &denom);
    if (num == 0 || denom == 0) {
        num = denom = 1;
    }
    const qint64 offset = gst_base_sink_get_ts_offset(base) +
                          qint64(gst_base_sink_get_latency(base)) -
                          qint64(gst_base_sink_get_render_delay(base));
    const qint64 due = qint64(gst_element_get_base_time(GST_ELEMENT(sink)) + running) + offset;
    const qint64 placed =
        qint64(internal) +
        qint64(gst_util_uint64_scale(std::max<qint64>(0, due - qint64(external)), denom, num)) -
        std::max<qint64>(0, qint64(external) - due);
    const qint64 now = MonotonicNs();
    const GstClockTime playing = gst_audio_clock_adjust(
        GST_AUDIO_CLOCK(own), gst_audio_clock_get_time(GST_AUDIO_CLOCK(own)));
    if (!GST_CLOCK_TIME_IS_VALID(playing)) {
        return -1;
    }
    return now + (placed - qint64(playing));
}

// How much a sink with a ring buffer has played before its clock is read for HeardAt: by then
// the device or the sound server runs on its own timing, not on an estimate made before it
// started.
constexpr GstClockTime kHeardCheckAfter = 300 * GST_MSECOND;

// A sink with a ring buffer: the first sample's hearing is worked out once the sink has played
// a while, or at the end when the file is shorter than that. True when it has been.
bool WatchRingBuffer(SinkBranch* branch, GstPad* pad, GstPadProbeInfo* info, bool first) {
    if (first) {
        branch->audioSink = FindAudioSink(branch->watched);
        branch->firstRunning = RunningTime(pad, FirstBuffer(info));
        return false;
    }
    if (!branch->audioSink || !GST_CLOCK_TIME_IS_VALID(branch->firstRunning) ||
        branch->heardNs.load() >= 0) {
        return false;
    }
    const bool end = info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM;
    const GstClockTime running = end ? GST_CLOCK_TIME_NONE : RunningTime(pad, FirstBuffer(info));
    if (!end &&
        (!GST_CLOCK_TIME_IS_VALID(running) || running < branch->firstRunning + kHeardCheckAfter)) {
        return false;
    }
    const qint64 heard = HeardAt(branch->audioSink, branch->firstRunning);
    branch->heardNs = heard >= 0 ? heard : MonotonicNs();
    return true;
}

// Notes data on its way into the audio sink, on a streaming thread: when the first buffer
// came, when the sink was done with it, and for a sink with a ring buffer when it was heard.
SinkData WatchSinkData(SinkBranch* branch, GstPad* pad, GstPadProbeInfo* info) {
    PlayPipeline* pipe = branch->pipe;
    const bool event = info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM;
    if (event && GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS) {
        return SinkData::Pass;
    }
    if (!event && PastCut(pipe, pad, info)) {
        return SinkData::Drop;
    }
    const qint64 now = MonotonicNs();
    qint64 expected = -1;
    if (!event && branch->bufferNs.compare_exchange_strong(expected, now)) {
        WatchRingBuffer(branch, pad, info, true);
        // Rendered once the push that brought this buffer returns: the upstream pad goes idle
        // (the sink's own pad counts as idle while its probes run).
        GstPad* peer = branch->audioSink ? nullptr : gst_pad_get_peer(pad);
        if (peer) {
            gst_pad_add_probe(peer, GST_PAD_PROBE_TYPE_IDLE, OnFirstChainDone, branch, nullptr);
            gst_object_unref(peer);
        }
        return SinkData::Pass;
    }
    if (branch->bufferNs.load() < 0) {
        return SinkData::Pass;
    }
    expected = -1;
    const bool rendered = branch->renderedNs.compare_exchange_strong(expected, now);
    if (branch->audioSink) {
        return WatchRingBuffer(branch, pad, info, false) ? SinkData::FirstRendered : SinkData::Pass;
    }
    return rendered ? SinkData::FirstRendered : SinkData::Pass;
}

// The audio sink's pad probe, on a streaming thread: drops what would sound past the cut,
// and tells the player's thread when the first sample has gone out. The pipeline outlives
// its streaming threads: Discard stops them first.
GstPadProbeReturn OnSinkData(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* branch = static_cast<SinkBranch*>(data);
    PlayPipeline* pipe = branch->pipe;
    switch (WatchSinkData(branch, pad, info)) {
    case SinkData::Drop:
        return GST_PAD_PROBE_DROP;
    case SinkData::FirstRendered:
        pipe->firstRendered(pipe->owner, pipe->serial);
        break;
    case SinkData::Pass:
        break;
    }
    return GST_PAD_PROBE_OK;
}

// The earliest hearing among p's sinks with a ring buffer, and when that sink got the data.
struct Heard {
    qint64 ns = -1;
    qint64 arrivedNs = -1;
};
Heard FirstHeard(const PlayPipeline& p) {
    Heard first;
    for (const auto& b : p.branches) {
        if (!b->audioSink.load()) {
            continue;
        }
        const qint64 ns = b->heardNs.load();
        if (ns >= 0 && (first.ns < 0 || ns < first.ns)) {
            first.ns = ns;
            // Written to the ring buffer once both it and the pipeline were there.
            first.arrivedNs = std::max(b->bufferNs.load(), p.playingNs.load());
        }
    }
    return first;
}

// When a sink on the clock was done with p's first sample; -1 while none has been.
qint64 FirstRendered(const PlayPipeline& p) {
    qint64 rendered = -1;
    for (const auto& b : p.branches) {
        if (const qint64 ns = b->renderedNs.load();
            !b->audioSink.load() && ns >= 0 && (rendered < 0 || ns < rendered)) {
            rendered = ns;
        }
    }
    const qint64 playing = p.playingNs.load();
    if (rendered < 0 || playing < 0) {
        return -1;
    }
    // Not before the clock's wait for it ended: a sink in a bin may hand the buffer on to a
    // queue of its own before that.
    if (const qint64 woke = p.clock ? FirstWakeNs(p.clock) : -1; woke >= 0) {
        rendered = std::max(rendered, woke);
    }
    // Not before the pipeline runs, nor before an armed start's target.
    return std::max({rendered, playing, p.startNs});
}

} // namespace

void WatchSink(GstElement* sink, SinkBranch* branch) {
    branch->watched = sink;
    if (GstPad* pad = gst_element_get_static_pad(sink, "sink")) {
        gst_pad_add_probe(pad,
                          GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER |
                                          GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                          GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          OnSinkData, branch, nullptr);
        gst_object_unref(pad);
    }
}

FirstSampleTime FirstSampleOf(const PlayPipeline& p) {
    // A sink on the clock is done with the first buffer once it has waited for its time and
    // rendered it. A sink with a ring buffer takes it early: when it is heard is read off that
    // sink's clock (heardNs).
    const Heard heard = FirstHeard(p);
    const qint64 rendered = FirstRendered(p);
    FirstSampleTime first;
    if (heard.ns < 0 && rendered < 0) {
        return first;
    }
    // A sample whose place in the ring buffer was played before it reached the sink is lost.
    if (heard.ns >= 0 && (rendered < 0 || heard.ns <= rendered)) {
        first.lostMs =
            int(std::max<qint64>(0, heard.arrivedNs - heard.ns - kLostSlackNs) / 1000000);
    }
    first.ns = heard.ns >= 0 && (rendered < 0 || heard.ns < rendered) ? heard.ns : rendered;
    return first;
}
