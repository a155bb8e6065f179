// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/pipeline_bus.h"

#include "audio/monotonic_clock.h"
#include "audio/play_pipeline.h"
#include "audio/realtime_threads.h"
#include "audio/streaming_pool.h"

namespace {

struct BusContext {
    PlayPipeline* pipe;
    GstPlayer* player;
    quint64 serial;
    std::atomic<qint64>* playingNs;
    GstElement* playbin;
    DeliverFn deliver;
};

// Hands the message on to the player's thread (GstPlayer::OnBusMessage).
void Deliver(const BusContext& c, GstMessage* msg) {
    c.deliver(c.player, c.serial, gst_message_ref(msg));
}

// playbin reaching PLAYING: the moment is noted here, on the thread that made the change.
void OnStateChangedSync(const BusContext& c, GstMessage* msg) {
    if (GST_MESSAGE_SRC(msg) != GST_OBJECT(c.playbin)) {
        return;
    }
    GstState oldState, newState;
    gst_message_parse_state_changed(msg, &oldState, &newState, nullptr);
    if (newState == GST_STATE_PLAYING) {
        c.playingNs->store(MonotonicNs());
        Deliver(c, msg);
    }
}

// A task being made gets its thread from the pool kept across plays; the thread, entering
// the task, is raised (only the first time: a pooled thread stays raised).
void OnStreamStatusSync(GstMessage* msg) {
    GstStreamStatusType type;
    gst_message_parse_stream_status(msg, &type, nullptr);
    if (type == GST_STREAM_STATUS_TYPE_CREATE) {
        const GValue* object = gst_message_get_stream_status_object(msg);
        if (object && G_VALUE_HOLDS(object, GST_TYPE_TASK)) {
            gst_task_set_pool(GST_TASK(g_value_get_object(object)), streaming_pool::Get());
        }
    } else if (type == GST_STREAM_STATUS_TYPE_ENTER) {
        realtime::RaiseThisThread();
    }
}

// The pipeline's bus, on whichever thread posts: one handler per kind of message; end of
// stream and errors go on to the player's thread unchanged.
GstBusSyncReply OnBusSync(GstBus*, GstMessage* msg, gpointer data) {
    const auto& c = *static_cast<const BusContext*>(data);
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_STATE_CHANGED:
        OnStateChangedSync(c, msg);
        break;
    case GST_MESSAGE_ERROR:
        // Before the failing sink's error flows back to the tee: the tee stops feeding it.
        if (SinkBranch* b = c.pipe->BranchOf(GST_MESSAGE_SRC(msg))) {
            b->failed = true;
        }
        Deliver(c, msg);
        break;
    case GST_MESSAGE_EOS:
        Deliver(c, msg);
        break;
    case GST_MESSAGE_STREAM_STATUS:
        OnStreamStatusSync(msg);
        break;
    default:
        break;
    }
    // A handler that drops a message owns it: without this unref every message, and through
    // its source every element of the pipeline, would stay alive.
    gst_message_unref(msg);
    return GST_BUS_DROP;
}

void FreeBusContext(gpointer data) {
    delete static_cast<BusContext*>(data);
}

} // namespace

void WatchBus(PlayPipeline& p, DeliverFn deliver) {
    auto* ctx = new BusContext{&p, p.owner, p.serial, &p.playingNs, p.playbin, deliver};
    GstBus* bus = gst_element_get_bus(p.playbin);
    gst_bus_set_sync_handler(bus, OnBusSync, ctx, FreeBusContext);
    gst_object_unref(bus);
}
