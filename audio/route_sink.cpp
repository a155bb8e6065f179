// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/route_sink.h"

#include "audio/first_sample.h"
#include "audio/play_pipeline.h"
#include "core/play_log.h"

#include <QStringList>
#include <QVector>

namespace {

// The gate's probe: everything waits, a buffer in the queue says it is decoded ahead.
GstPadProbeReturn OnGate(GstPad*, GstPadProbeInfo*, gpointer) {
    return GST_PAD_PROBE_OK;
}

// The queue's way in. A buffer there is decoded ahead (the end: nothing more is to come). An
// allocation query is answered here, with no proposal of the sink's: queued behind the format,
// which waits at the gate, it would hold up decoding until the play starts. The program's sinks
// offer no buffer pools.
GstPadProbeReturn OnQueueInput(GstPad*, GstPadProbeInfo* info, gpointer data) {
    if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) ||
        ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) &&
         GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS)) {
        static_cast<PlayPipeline*>(data)->decodedAhead = true; // or all there is
        return GST_PAD_PROBE_OK;
    }
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    return query && GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION ? GST_PAD_PROBE_HANDLED
                                                                  : GST_PAD_PROBE_OK;
}

// The queue and the sink behind it in one bin; the sink alone when there is no queue.
GstElement* GatedSink(PlayPipeline& p, GstElement* sink) {
    GstElement* queue = gst_element_factory_make("queue", nullptr);
    if (!queue) {
        return sink;
    }
    GstElement* bin = gst_bin_new(nullptr);
    gst_bin_add_many(GST_BIN(bin), queue, sink, nullptr);
    gst_element_link(queue, sink);
    GstPad* in = gst_element_get_static_pad(queue, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", in));
    gst_pad_add_probe(in,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER |
                                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                      GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM),
                      OnQueueInput, &p, nullptr);
    gst_object_unref(in);
    p.gatePad = gst_element_get_static_pad(queue, "src");
    p.gateProbe = gst_pad_add_probe(
        p.gatePad, GstPadProbeType(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM),
        OnGate, nullptr, nullptr);
    return bin;
}

// Every base sink inside element, itself included.
std::vector<GstBaseSink*> BaseSinks(GstElement* element) {
    std::vector<GstBaseSink*> sinks;
    if (GST_IS_BASE_SINK(element)) {
        sinks.push_back(GST_BASE_SINK(element));
    }
    if (!GST_IS_BIN(element)) {
        return sinks;
    }
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(element));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        if (auto* e = GST_ELEMENT(g_value_get_object(&item)); GST_IS_BASE_SINK(e)) {
            sinks.push_back(GST_BASE_SINK(e));
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return sinks;
}

// The output's sink, opened (state READY); null, with the reason, when it cannot be.
GstElement* OpenOutputSink(const AudioOutput& out, QString* reason) {
    GstElement* sink = nullptr;
    if (out.sink.isEmpty()) {
        sink = MakeAudioSink();
    } else {
        GError* err = nullptr;
        sink = gst_parse_bin_from_description(out.sink.toUtf8().constData(), TRUE, &err);
        if (!sink) {
            *reason = QStringLiteral("\"%1\" is not a usable sink (%2)")
                          .arg(out.sink, QString::fromUtf8(err ? err->message : ""));
            g_clear_error(&err);
            return nullptr;
        }
    }
    gst_object_ref_sink(sink);
    // Opened here, ahead of the play: a device missing or busy now is left out at once.
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(sink, bus);
    const bool opened = gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    if (!opened) {
        *reason = QStringLiteral("it cannot be opened");
        if (const QString why = PendingError(bus); !why.isNull()) {
            *reason += QStringLiteral(" (%1)").arg(why);
        }
        gst_element_set_state(sink, GST_STATE_NULL);
        gst_object_unref(sink);
        sink = nullptr;
    }
    gst_object_unref(bus);
    return sink;
}

// The elements in front of an output's sink: the tee's own queue and thread, conversion to
// what the sink takes and, for some channels of a multichannel output, the sound on those
// channels and silence on the rest.
QString BranchFront(const AudioOutput& out) {
    QString desc = QStringLiteral("queue ! audioconvert ! audioresample");
    // From 64 on, audioconvert's mixing fails an assertion and takes the program down.
    constexpr int kMaxMixChannels = 63;
    if (out.channelsOn.isEmpty() || out.channels < 1 || out.channels > kMaxMixChannels) {
        return desc;
    }
    QStringList rows;
    for (int c = 1; c <= out.channels; ++c) {
        rows << QStringLiteral("<(float)%1>").arg(out.channelsOn.contains(c) ? 1 : 0);
    }
    return desc + QStringLiteral(" ! audio/x-raw,channels=1 ! audioconvert mix-matrix=\"<%1>\""
                                 " ! capsfilter caps=audio/x-raw,channels=%2")
                      .arg(rows.join(QLatin1Char(',')))
                      .arg(out.channels);
}

// The tee's pad of a branch whose sink failed: nothing more goes down it, so the failure
// never flows back into the tee and stops the others.
GstPadProbeReturn OnBranchData(GstPad*, GstPadProbeInfo*, gpointer data) {
    return static_cast<SinkBranch*>(data)->failed.load() ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

// The branch's bin: front, then sink (whose reference it takes), fed through a ghost pad.
GstElement* BranchBin(GstElement* front, GstElement* sink) {
    GstElement* bin = gst_bin_new(nullptr);
    gst_object_ref(bin); // kept until the pipeline goes, also once taken out
    gst_bin_add_many(GST_BIN(bin), front, sink, nullptr);
    gst_object_unref(sink); // the branch holds it now
    gst_element_link(front, sink);
    GstPad* frontSink = gst_element_get_static_pad(front, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", frontSink));
    gst_object_unref(frontSink);
    return bin;
}

// A branch behind p's tee, in bin, playing out to the opened sink.
void AddBranch(PlayPipeline& p, GstBin* bin, const AudioOutput& out, GstElement* sink,
               const OutputFailedFn& failed) {
    GError* err = nullptr;
    GstElement* front =
        gst_parse_bin_from_description(BranchFront(out).toUtf8().constData(), TRUE, &err);
    if (!front) {
        failed(out.name, QString::fromUtf8(err ? err->message : ""));
        g_clear_error(&err);
        gst_element_set_state(sink, GST_STATE_NULL);
        gst_object_unref(sink);
        return;
    }
    auto branch = std::make_unique<SinkBranch>();
    branch->pipe = &p;
    branch->name = out.name;
    branch->bin = BranchBin(front, sink);
    WatchSink(sink, branch.get());
    gst_bin_add(bin, branch->bin);
    branch->teePad = gst_element_request_pad_simple(p.tee, "src_%u");
    GstPad* in = gst_element_get_static_pad(branch->bin, "sink");
    gst_pad_link(branch->teePad, in);
    gst_object_unref(in);
    gst_pad_add_probe(branch->teePad, GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM, OnBranchData,
                      branch.get(), nullptr);
    p.branches.push_back(std::move(branch));
}

// The bin that takes the sound: the tee, fed through a ghost pad. Null without a tee.
GstElement* TeeBin(PlayPipeline& p) {
    GstElement* bin = gst_bin_new("outputs");
    p.tee = gst_element_factory_make("tee", nullptr);
    if (!p.tee) {
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    // A branch taken out must not stop the others.
    g_object_set(p.tee, "allow-not-linked", TRUE, nullptr);
    gst_bin_add(GST_BIN(bin), p.tee);
    GstPad* teeSink = gst_element_get_static_pad(p.tee, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", teeSink));
    gst_object_unref(teeSink);
    return bin;
}

// Several outputs: a tee, and a branch per output that can be opened.
GstElement* MakeRouteSink(PlayPipeline& p, const OutputFailedFn& failed) {
    GstElement* bin = TeeBin(p);
    if (!bin) {
        return nullptr;
    }
    QVector<GstElement*> sinks;
    QStringList problems;
    for (const AudioOutput& out : p.route) {
        QString reason;
        GstElement* sink = OpenOutputSink(out, &reason);
        sinks << sink;
        problems << reason;
    }
    // Every output that cannot be opened is left out, unless none can: then the play fails
    // as a play to the default output does, with the reason.
    const bool any = std::any_of(sinks.begin(), sinks.end(), [](GstElement* e) { return e; });
    for (int i = 0; i < p.route.size(); ++i) {
        GstElement* sink = sinks[i];
        if (!sink && any) {
            failed(p.route[i].name, problems[i]);
            continue;
        }
        if (!sink) {
            sink = gst_element_factory_make("fakesink", nullptr);
            p.fallbackSink = true; // as autoaudiosink without a device: nothing is heard
            failed(p.route[i].name, problems[i]);
        }
        AddBranch(p, GST_BIN(bin), p.route[i], sink, failed);
    }
    return bin;
}

} // namespace

QString SinkDescription() {
    const QByteArray env = qgetenv("BELVORAN_AUDIO_SINK");
    return env.isEmpty() ? QStringLiteral("autoaudiosink") : QString::fromUtf8(env);
}

GstElement* MakeAudioSink() {
    const QString desc = SinkDescription();
    GError* err = nullptr;
    GstElement* sink = gst_parse_bin_from_description(desc.toUtf8().constData(), TRUE, &err);
    if (!sink) {
        PlayLog(QStringLiteral("error BELVORAN_AUDIO_SINK \"%1\" is not a usable sink (%2); "
                               "using autoaudiosink")
                    .arg(desc, QString::fromUtf8(err ? err->message : "")));
        g_clear_error(&err);
        sink = gst_element_factory_make("autoaudiosink", nullptr);
    }
    return sink;
}

QString SinkNames(GstElement* sink) {
    if (!GST_IS_BIN(sink)) {
        GstElementFactory* f = gst_element_get_factory(sink);
        return QString::fromUtf8(f ? GST_OBJECT_NAME(f) : GST_OBJECT_NAME(sink));
    }
    QStringList names;
    GstIterator* it = gst_bin_iterate_sinks(GST_BIN(sink));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        names << SinkNames(GST_ELEMENT(g_value_get_object(&item)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return names.join(QStringLiteral(", "));
}

QString PendingError(GstBus* bus) {
    GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    if (!msg) {
        return {};
    }
    const QString text = ErrorText(msg);
    gst_message_unref(msg);
    return text;
}

QString ErrorText(GstMessage* msg) {
    GError* err = nullptr;
    gst_message_parse_error(msg, &err, nullptr);
    const QString text = QString::fromUtf8(err ? err->message : "");
    g_clear_error(&err);
    return text;
}

void AttachAudioSink(PlayPipeline& p, const OutputFailedFn& failed) {
    GstElement* sink = p.route.isEmpty() ? MakeAudioSink() : MakeRouteSink(p, failed);
    if (!sink) {
        return;
    }
    if (p.route.isEmpty()) {
        auto branch = std::make_unique<SinkBranch>();
        branch->pipe = &p;
        WatchSink(sink, branch.get());
        p.branches.push_back(std::move(branch));
    }
    p.sink = sink;
    g_object_set(p.playbin, "audio-sink", GatedSink(p, sink), nullptr);
}

void OpenGate(PlayPipeline& p) {
    if (p.gateProbe != 0) {
        gst_pad_remove_probe(p.gatePad, p.gateProbe);
        p.gateProbe = 0;
    }
}

void ShiftSinks(PlayPipeline& p, qint64 offsetNs) {
    // On top of an offset a sink's description gives it. The elements of an automatic sink
    // exist from READY on.
    for (GstBaseSink* sink : BaseSinks(p.sink)) {
        gst_base_sink_set_ts_offset(sink, gst_base_sink_get_ts_offset(sink) + offsetNs -
                                              p.offsetNs.load());
    }
    p.offsetNs = offsetNs;
}

bool TakeOutFailedBranch(PlayPipeline& p, GstMessage* msg, const OutputFailedFn& failed) {
    SinkBranch* b = p.BranchOf(GST_MESSAGE_SRC(msg));
    if (!b || p.Working() == 0) {
        return false; // the last output failed: the play fails
    }
    if (b->removed) {
        return true; // a later message of the same failure
    }
    b->removed = true;
    failed(b->name, ErrorText(msg));
    if (GstPad* peer = gst_pad_get_peer(b->teePad)) {
        gst_pad_unlink(b->teePad, peer);
        gst_object_unref(peer);
    }
    gst_element_release_request_pad(p.tee, b->teePad);
    gst_element_set_locked_state(b->bin, TRUE);
    gst_element_set_state(b->bin, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(p.sink), b->bin);
    return true;
}
