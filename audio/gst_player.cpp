#include "audio/gst_player.h"

#include "audio/formats.h"
#include "audio/gst_init.h"
#include "audio/length_meter.h"
#include "audio/monotonic_clock.h" // GStreamer runs on it: read directly, to the microsecond
#include "audio/playable_file.h"
#include "audio/realtime_threads.h"
#include "audio/wake_clock.h"
#include "core/play_log.h"
#include "core/time_text.h"

#include <QFileInfo>
#include <QMetaMethod>
#include <QMetaObject>
#include <QTimer>

#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <algorithm>

namespace {

// The text of an error message.
QString ErrorText(GstMessage* msg) {
    GError* err = nullptr;
    gst_message_parse_error(msg, &err, nullptr);
    const QString text = QString::fromUtf8(err ? err->message : "");
    g_clear_error(&err);
    return text;
}

// The text of the first error waiting on bus; empty when none is.
QString PendingError(GstBus* bus) {
    GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    if (!msg) {
        return {};
    }
    const QString text = ErrorText(msg);
    gst_message_unref(msg);
    return text;
}

// playbin flags: audio only. No software volume: the program never changes the volume, and
// with it playsink (GStreamer 1.22) leaks its volume element and two pads on every play.
constexpr guint kPlayFlagAudio = 1 << 1;
constexpr GstClockTime kDiscoverTimeout = 5 * GST_SECOND;
constexpr double kMidiGain = 0.8;

std::atomic<bool> gNoAudioReported{false};

// An armed start closer than this is started at once: going to PLAYING takes about this long.
constexpr qint64 kMinLeadNs = 20 * 1000000;
// A first sample heard this little before it reached its sink is timing noise, not a loss.
constexpr qint64 kLostSlackNs = 5 * 1000000;
// A wall-clock step by more than this re-arms a waiting start.
constexpr qint64 kRearmNs = 1000000;
// The wall clock is looked at once more this long before an armed start.
constexpr qint64 kLastCheckNs = 200 * 1000000;

QString SinkDescription() {
    const QByteArray env = qgetenv("BELVORAN_AUDIO_SINK");
    return env.isEmpty() ? QStringLiteral("autoaudiosink") : QString::fromUtf8(env);
}

void OnElementSetup(GstElement*, GstElement* element, gpointer) {
    GstElementFactory* f = gst_element_get_factory(element);
    if (f && g_strcmp0(GST_OBJECT_NAME(f), "fluiddec") == 0) {
        // MIDI: the installed General MIDI soundfont, loud enough to be heard over a bell.
        g_object_set(element, "soundfont", MidiSoundFont().constData(), "synth-gain", kMidiGain,
                     nullptr);
    }
}

// autoaudiosink's fallback when it finds no device it can open.
constexpr char kFallbackSink[] = "fake-audio-sink";
constexpr qint64 kSecondNs = 1000000000;

void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
    if (g_strcmp0(GST_OBJECT_NAME(element), kFallbackSink) == 0) {
        static_cast<std::atomic<bool>*>(data)->store(true);
    }
}

// The audio sink from BELVORAN_AUDIO_SINK, or autoaudiosink; floating, may be null.
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

// The factory names of the sinks inside sink, e.g. "pulsesink".
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

} // namespace

bool GstPlayer::NoAudioOutputReported() {
    return gNoAudioReported.load();
}

// One output of a pipeline: the default path's sink, or one branch behind the tee of a play
// with several outputs.
struct SinkBranch {
    GstPlayer::Pipeline* pipe = nullptr;
    QString name;                     // the output, for the log
    GstElement* bin = nullptr;        // its elements behind the tee (a reference); null: no tee
    GstPad* teePad = nullptr;         // the tee's pad feeding it (a reference)
    std::atomic<qint64> bufferNs{-1}; // the first buffer reached the sink
    // The sink was done with the first buffer: the next buffer, or the end, reached it. A sink
    // on the clock renders a buffer after waiting for its time, so this is when the first
    // sample really went out, late wake-ups included.
    std::atomic<qint64> renderedNs{-1};
    std::atomic<bool> failed{false}; // its sink failed: the tee feeds it nothing more
    bool removed = false;            // taken out of the pipeline (player's thread)
    // A sink with a ring buffer (a sound card, a sound server) takes data ahead of its time:
    // when its first sample is heard is read off the sink's own clock instead (HeardAt).
    GstElement* watched = nullptr;                     // the sink or bin the probe watches
    std::atomic<GstAudioBaseSink*> audioSink{nullptr}; // inside it, found with the first buffer
    GstClockTime firstRunning = GST_CLOCK_TIME_NONE;   // the first buffer's running time
    std::atomic<qint64> heardNs{-1};                   // when the first sample was heard
};

struct GstPlayer::Pipeline {
    GstElement* playbin = nullptr;
    GstElement* sink = nullptr; // the audio sink, owned by playbin
    // In front of the sink: the queue that holds what is decoded ahead, and the blocking probe
    // on its way out that keeps the sink from opening its stream until the play starts. A
    // sound server's stream opened ahead keeps a clock that runs while nothing plays, and its
    // sink would place the first sample that far after its time.
    GstPad* gatePad = nullptr;             // the queue's source pad (a reference)
    gulong gateProbe = 0;                  // 0: open
    std::atomic<bool> decodedAhead{false}; // a buffer waits in the queue
    // It reached its end while it waited for its target: outputs that take data as fast as
    // it comes (a file) are done before the play becomes the current one.
    bool endedEarly = false;
    GstElement* tee = nullptr; // with several outputs: what feeds them
    GstPlayer* owner = nullptr;
    void (*firstRendered)(GstPlayer*, quint64) = nullptr; // to the owner's thread
    quint64 serial = 0;
    QString file;
    AudioRoute route;
    std::vector<std::unique_ptr<SinkBranch>> branches; // never shrinks while it lives
    qint64 startNs = -1;    // an armed start's target on the monotonic clock
    bool announced = false; // PlayStateChange to Playing has been emitted for it
    bool reported = false;  // FirstSample has been emitted for it
    std::atomic<qint64> playingNs{-1};
    GstClock* clock = nullptr; // an armed start's: it says when the sink woke for the first sample
    std::atomic<bool> fallbackSink{false}; // no device: autoaudiosink fell back to a fake sink
    // An armed start's target on the monotonic clock: this (the previous) playback's sink
    // gets nothing that would sound past it. -1: no cut.
    std::atomic<qint64> cutNs{-1};
    // How far the sinks' running time is shifted: an armed start runs from its arming on, its
    // first sample at this offset (ts-offset of every sink).
    std::atomic<qint64> offsetNs{0};

    ~Pipeline() {
        if (gatePad) {
            gst_object_unref(gatePad);
        }
        for (auto& b : branches) {
            if (b->bin) {
                gst_object_unref(b->bin);
            }
            if (b->teePad) {
                gst_object_unref(b->teePad);
            }
        }
    }
    // The earliest time of the branches' field; -1 when none has one.
    qint64 Earliest(std::atomic<qint64> SinkBranch::*field) const {
        qint64 best = -1;
        for (const auto& b : branches) {
            const qint64 ns = ((*b).*field).load();
            if (ns >= 0 && (best < 0 || ns < best)) {
                best = ns;
            }
        }
        return best;
    }
    int Working() const {
        return int(std::count_if(branches.begin(), branches.end(),
                                 [](const auto& b) { return !b->failed.load(); }));
    }
    // The branch holding obj; null for the default path or an element outside every branch.
    SinkBranch* BranchOf(GstObject* obj) const {
        for (const auto& b : branches) {
            if (b->bin && (obj == GST_OBJECT(b->bin) ||
                           gst_object_has_as_ancestor(obj, GST_OBJECT(b->bin)))) {
                return b.get();
            }
        }
        return nullptr;
    }
};

namespace {

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
bool PastCut(GstPlayer::Pipeline* pipe, GstPad* pad, GstPadProbeInfo* info) {
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
    GstPlayer::Pipeline* pipe = branch->pipe;
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
        return SinkData::Pass; // the first buffer: it is rendered when the next data comes
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
    GstPlayer::Pipeline* pipe = branch->pipe;
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

struct BusContext {
    GstPlayer::Pipeline* pipe;
    GstPlayer* player;
    quint64 serial;
    std::atomic<qint64>* playingNs;
    GstElement* playbin;
    void (*deliver)(GstPlayer*, quint64, GstMessage*); // to the player's thread, owning msg
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

// Posted from a new streaming thread itself as it starts.
void OnStreamStatusSync(GstMessage* msg) {
    GstStreamStatusType type;
    gst_message_parse_stream_status(msg, &type, nullptr);
    if (type == GST_STREAM_STATUS_TYPE_ENTER) {
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

// Audio only, no display sinks, and the file to play.
void SetUpPlaybin(GstElement* playbin, const QString& file) {
    g_object_set(playbin, "flags", kPlayFlagAudio, nullptr);
    // A file holding pictures or video must never make playbin look for a display sink
    // (some, like DirectFB's, crash without a screen).
    g_object_set(playbin, "video-sink", gst_element_factory_make("fakesink", nullptr), "text-sink",
                 gst_element_factory_make("fakesink", nullptr), nullptr);
    GError* err = nullptr;
    gchar* uri = gst_filename_to_uri(
        QFile::encodeName(QFileInfo(file).absoluteFilePath()).constData(), &err);
    if (uri) {
        g_object_set(playbin, "uri", uri, nullptr);
        g_free(uri);
    } else {
        g_clear_error(&err);
    }
}

} // namespace

GstPlayer::GstPlayer(QObject* parent) : Player(parent) {
    EnsureGstInit();
    promoteTimer_.setSingleShot(true);
    promoteTimer_.setTimerType(Qt::PreciseTimer);
    connect(&promoteTimer_, &QTimer::timeout, this, &GstPlayer::Promote);
    connect(&clockSteps_, &WallClockSteps::Stepped, this, &GstPlayer::FollowWallClock);
}

GstPlayer::~GstPlayer() {
    // Setting NULL joins the streaming threads: no bus message can reach this object later.
    Discard(current_);
    Discard(prepared_);
    Discard(armedPipe_);
}

std::unique_ptr<GstPlayer::Pipeline> GstPlayer::MakePipeline(const QString& file,
                                                             const AudioRoute& route) {
    auto p = std::make_unique<Pipeline>();
    p->serial = nextSerial_++;
    p->owner = this;
    p->file = file;
    p->route = route;
    p->playbin = gst_element_factory_make("playbin", nullptr);
    if (!p->playbin) {
        PlayLog(QStringLiteral("error the GStreamer element playbin is missing"));
        return nullptr;
    }
    gst_object_ref_sink(p->playbin);
    SetUpPlaybin(p->playbin, file);
    AttachAudioSink(*p);
    g_signal_connect(p->playbin, "element-setup", G_CALLBACK(OnElementSetup), nullptr);
    g_signal_connect(p->playbin, "deep-element-added", G_CALLBACK(OnDeepElementAdded),
                     &p->fallbackSink);
    WatchBus(*p);
    return p;
}

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
        static_cast<GstPlayer::Pipeline*>(data)->decodedAhead = true; // or all there is
        return GST_PAD_PROBE_OK;
    }
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    return query && GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION ? GST_PAD_PROBE_HANDLED
                                                                  : GST_PAD_PROBE_OK;
}

// The queue and the sink behind it in one bin; the sink alone when there is no queue.
GstElement* GatedSink(GstPlayer::Pipeline& p, GstElement* sink) {
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

} // namespace

void GstPlayer::AttachAudioSink(Pipeline& p) {
    p.firstRendered = &GstPlayer::QueueFirstSample;
    GstElement* sink = p.route.isEmpty() ? MakeAudioSink() : MakeRouteSink(p);
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

void GstPlayer::OpenGate(Pipeline& p) {
    if (p.gateProbe != 0) {
        gst_pad_remove_probe(p.gatePad, p.gateProbe);
        p.gateProbe = 0;
    }
}

void GstPlayer::ShiftSinks(Pipeline& p, qint64 offsetNs) {
    // On top of an offset a sink's description gives it. The elements of an automatic sink
    // exist from READY on.
    for (GstBaseSink* sink : BaseSinks(p.sink)) {
        gst_base_sink_set_ts_offset(sink, gst_base_sink_get_ts_offset(sink) + offsetNs -
                                              p.offsetNs.load());
    }
    p.offsetNs = offsetNs;
}

void GstPlayer::WatchSink(GstElement* sink, SinkBranch* branch) {
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

GstElement* GstPlayer::MakeRouteSink(Pipeline& p) {
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
            ReportOutputFailed(p.route[i].name, problems[i]);
            continue;
        }
        if (!sink) {
            sink = gst_element_factory_make("fakesink", nullptr);
            p.fallbackSink = true; // as autoaudiosink without a device: nothing is heard
            ReportOutputFailed(p.route[i].name, problems[i]);
        }
        AddBranch(p, GST_BIN(bin), p.route[i], sink);
    }
    return bin;
}

GstElement* GstPlayer::OpenOutputSink(const AudioOutput& out, QString* reason) {
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

namespace {

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

} // namespace

void GstPlayer::AddBranch(Pipeline& p, GstBin* bin, const AudioOutput& out, GstElement* sink) {
    GError* err = nullptr;
    GstElement* front =
        gst_parse_bin_from_description(BranchFront(out).toUtf8().constData(), TRUE, &err);
    if (!front) {
        ReportOutputFailed(out.name, QString::fromUtf8(err ? err->message : ""));
        g_clear_error(&err);
        gst_element_set_state(sink, GST_STATE_NULL);
        gst_object_unref(sink);
        return;
    }
    auto branch = std::make_unique<SinkBranch>();
    branch->pipe = &p;
    branch->name = out.name;
    branch->bin = gst_bin_new(nullptr);
    gst_object_ref(branch->bin); // kept until the pipeline goes, also once taken out
    gst_bin_add_many(GST_BIN(branch->bin), front, sink, nullptr);
    gst_object_unref(sink); // the branch holds it now
    gst_element_link(front, sink);
    GstPad* frontSink = gst_element_get_static_pad(front, "sink");
    gst_element_add_pad(branch->bin, gst_ghost_pad_new("sink", frontSink));
    gst_object_unref(frontSink);
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

void GstPlayer::ReportOutputFailed(const QString& output, const QString& reason) {
    if (!isSignalConnected(QMetaMethod::fromSignal(&Player::OutputFailed))) {
        PlayLog(QStringLiteral("error output %1 fails: %2; the other outputs play on")
                    .arg(output, reason)); // else whoever listens says it
    }
    // Told from the event loop: a pipeline may be built inside a caller's own signal handler.
    QMetaObject::invokeMethod(
        this, [this, output, reason] { emit OutputFailed(output, reason); }, Qt::QueuedConnection);
}

void GstPlayer::WatchBus(Pipeline& p) {
    auto* ctx =
        new BusContext{&p, this, p.serial, &p.playingNs, p.playbin, &GstPlayer::QueueBusMessage};
    GstBus* bus = gst_element_get_bus(p.playbin);
    gst_bus_set_sync_handler(bus, OnBusSync, ctx, FreeBusContext);
    gst_object_unref(bus);
}

void GstPlayer::QueueBusMessage(GstPlayer* player, quint64 serial, GstMessage* msg) {
    // Owned by the call: freed with it even when the player is gone before the event loop
    // gets to it.
    std::shared_ptr<GstMessage> owned(msg, gst_message_unref);
    QMetaObject::invokeMethod(
        player, [player, serial, owned] { player->OnBusMessage(serial, owned.get()); },
        Qt::QueuedConnection);
}

void GstPlayer::QueueFirstSample(GstPlayer* player, quint64 serial) {
    QMetaObject::invokeMethod(
        player, [player, serial] { player->OnFirstBuffer(serial); }, Qt::QueuedConnection);
}

void GstPlayer::Discard(std::unique_ptr<Pipeline>& p) {
    if (!p) {
        return;
    }
    gst_element_set_state(p->playbin, GST_STATE_NULL);
    gst_object_unref(p->playbin);
    if (p->clock) {
        gst_object_unref(p->clock);
    }
    p.reset();
}

void GstPlayer::SetFileName(const QString& file) {
    CancelStart();
    Discard(current_);
    playing_ = false;
    file_ = file;
}

void GstPlayer::Play() {
    CancelStart();
    StartNow();
}

void GstPlayer::StartNow() {
    if (file_.isEmpty()) {
        return;
    }
    Discard(current_);
    playing_ = false;
    const QString problem = CheckPlayableFile(file_);
    if (!problem.isEmpty()) {
        StopWith(QStringLiteral("%1 %2").arg(file_, problem));
        return;
    }
    if (Fits(prepared_.get(), file_)) {
        current_ = std::move(prepared_);
    } else {
        current_ = MakePipeline(file_, Route());
    }
    if (!current_) {
        StopWith(QStringLiteral("no player for %1").arg(file_));
        return;
    }
    current_->playingNs = -1;
    current_->startNs = -1;
    playStartNs_ = MonotonicNs();
    playing_ = true;
    // A file whose streams hold no sound (a picture, a video without sound) can leave playbin
    // waiting for the audio sink for ever, without an error: no stop would ever come.
    const quint64 serial = current_->serial;
    QTimer::singleShot(startTimeoutMs_, this, [this, serial] {
        if (current_ && current_->serial == serial && current_->playingNs.load() < 0) {
            EndWithError(QStringLiteral("%1 did not start playing within %2 s: it holds no "
                                        "sound GStreamer can play")
                             .arg(file_)
                             .arg(startTimeoutMs_ / 1000.0));
        }
    });
    if (gst_element_set_state(current_->playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // The bus carries the reason as an error message; it ends the playback there.
        return;
    }
    OpenGate(*current_);
}

void GstPlayer::StopWith(const QString& error) {
    if (LogsErrorsOf(file_)) {
        PlayLog(QStringLiteral("error player: %1").arg(error));
    }
    Discard(current_);
    playing_ = false;
    // Reported from the event loop, as a real playback error would be, so that a caller
    // reacting to the stop (break music) never recurses into itself.
    const QString file = file_;
    QMetaObject::invokeMethod(
        this,
        [this, error, file] {
            if (file_ != file || playing_) {
                return; // the player has moved on meanwhile
            }
            emit Error(error);
            emit PlayStateChange(Playing, Stopped);
        },
        Qt::QueuedConnection);
}

void GstPlayer::EndWithError(const QString& text) {
    if (LogsErrorsOf(file_)) {
        PlayLog(QStringLiteral("error player: %1").arg(text));
    }
    Discard(current_);
    playing_ = false;
    emit Error(text);
    emit PlayStateChange(Playing, Stopped);
}

void GstPlayer::Halt() {
    CancelStart();
    Discard(current_);
    Discard(prepared_); // nothing is about to play: let go of the sound device
    playing_ = false;
    emit Halted();
}

void GstPlayer::Prepare(const QString& file) {
    if (Fits(prepared_.get(), file)) {
        return;
    }
    Discard(prepared_);
    if (!CheckPlayableFile(file).isEmpty()) {
        return; // Play will say why
    }
    prepared_ = MakePipeline(file, Route());
    if (prepared_) {
        // PAUSED: the file is opened and decoded ahead into the queue in front of the sink,
        // where it waits at the gate, so a start later needs no more decoding.
        gst_element_set_state(prepared_->playbin, GST_STATE_PAUSED);
    }
}

void GstPlayer::PlayAt(const QString& file, const QDateTime& target) {
    if (armed_ && armedFile_ == file && armedTarget_ == target) {
        FollowWallClock();
        return;
    }
    CancelStart();
    armed_ = true;
    armedPending_ = true;
    armedFile_ = file;
    armedTarget_ = target;
    armedNs_ = WallToMonotonicNs(target);
    if (CheckPlayableFile(file).isEmpty()) {
        if (Fits(prepared_.get(), file)) {
            armedPipe_ = std::move(prepared_);
        } else {
            armedPipe_ = MakePipeline(file, Route());
        }
    }
    // Without a pipeline the start at the target plays the file cold, and says why it fails.
    RunArmed();
}

void GstPlayer::FollowWallClock() {
    if (!armedPending_ || !armedPipe_) {
        return;
    }
    const qint64 ns = WallToMonotonicNs(armedTarget_);
    if (std::llabs(ns - armedNs_) > kRearmNs) {
        armedNs_ = ns;
        RunArmed();
    }
}

void GstPlayer::RunArmed() {
    if (armedPipe_ && armedPipe_->startNs >= 0) {
        // Running towards a target the wall clock has left: what it has given its sinks is
        // placed for that target, so it starts over from the file's beginning.
        const QString file = armedPipe_->file;
        const AudioRoute route = armedPipe_->route;
        Discard(armedPipe_);
        armedPipe_ = MakePipeline(file, route);
    }
    const qint64 lead = armedNs_ - MonotonicNs();
    if (lead < kMinLeadNs) {
        lastCheck_ = false;
        Promote();
        return;
    }
    // The last look at the wall clock before the target, then the target itself.
    lastCheck_ = lead > 2 * kLastCheckNs;
    promoteTimer_.start(static_cast<int>((lastCheck_ ? lead - kLastCheckNs : lead) / 1000000));
    if (!armedPipe_) {
        return;
    }
    GstElement* playbin = armedPipe_->playbin;
    armedPipe_->startNs = armedNs_;
    // READY on the way: an automatic sink has made the sink it chose.
    gst_element_set_state(playbin, GST_STATE_PAUSED);
    if (!armedPipe_->clock) {
        armedPipe_->clock = NewWakeClock(); // the system clock, watched
    }
    gst_pipeline_use_clock(GST_PIPELINE(playbin), armedPipe_->clock);
    // The pipeline runs from now on with the file's first sample offset to the target: a sink
    // with a ring buffer starts its stream now, its clock running on the device's (or sound
    // server's) own timing, and plays silence up to the target. No start time: the pipeline
    // keeps the base time given here.
    const qint64 base = MonotonicNs();
    gst_element_set_start_time(playbin, GST_CLOCK_TIME_NONE);
    gst_element_set_base_time(playbin, static_cast<GstClockTime>(base));
    ShiftSinks(*armedPipe_, armedNs_ - base);
    gst_element_set_state(playbin, GST_STATE_PLAYING);
    OpenGate(*armedPipe_);
    if (current_) {
        current_->cutNs = armedNs_; // what plays now falls silent at the target
    }
    // The switch-over (Promote) comes on this thread: it ends the previous playback and may
    // come late, but the first sample does not wait for it.
}

void GstPlayer::Promote() {
    if (!armedPending_) {
        return;
    }
    if (lastCheck_) {
        lastCheck_ = false;
        const qint64 ns = WallToMonotonicNs(armedTarget_);
        if (std::llabs(ns - armedNs_) > kRearmNs) {
            armedNs_ = ns; // the wall clock was stepped: the start follows it
            RunArmed();
        } else {
            promoteTimer_.start(
                static_cast<int>(std::max<qint64>(0, ns - MonotonicNs()) / 1000000));
        }
        return;
    }
    promoteTimer_.stop();
    // The real wall clock, not a Clock: the armed pipeline runs on the real clocks.
    const qint64 late = armedTarget_.secsTo(QDateTime::currentDateTime());
    if (late > kLateGraceSeconds) {
        PlayLog(QStringLiteral("skip  start of %1 at %2: due %3 s ago")
                    .arg(armedFile_, armedTarget_.toString(QStringLiteral("HH:mm:ss")))
                    .arg(late));
        CancelStart();
        return;
    }
    armedPending_ = false;
    file_ = armedFile_;
    if (!armedPipe_ || armedPipe_->startNs < 0) {
        // Not running on the clock (no pipeline, or too close to the target): play now.
        if (armedPipe_) {
            Discard(prepared_);
            prepared_ = std::move(armedPipe_);
        }
        StartNow();
        return;
    }
    Discard(current_);
    current_ = std::move(armedPipe_);
    playing_ = true;
    playStartNs_ = current_->startNs;
    if (current_->playingNs.load() >= 0) {
        AnnouncePlaying();
    }
    ReportFirstSample();
    if (current_->endedEarly) {
        const quint64 serial = current_->serial;
        QMetaObject::invokeMethod(
            this,
            [this, serial] {
                if (current_ && current_->serial == serial) {
                    OnEndOfStream();
                }
            },
            Qt::QueuedConnection);
    }
}

void GstPlayer::CancelStart() {
    promoteTimer_.stop();
    if (armedPending_) {
        Discard(armedPipe_);
        if (current_) {
            current_->cutNs = -1; // it plays on
        }
    }
    armed_ = false;
    armedPending_ = false;
}

bool GstPlayer::Fits(const Pipeline* p, const QString& file) const {
    return p && p->file == file && p->route == Route();
}

bool GstPlayer::StartArmed(const QString& file, const QDateTime& target) const {
    return armed_ && armedFile_ == file && armedTarget_ == target;
}

bool GstPlayer::StartBegun(const QString& file, const QDateTime& target) const {
    return StartArmed(file, target) && !armedPending_;
}

void GstPlayer::AnnouncePlaying() {
    if (current_->announced) {
        return;
    }
    current_->announced = true;
    // Playing: the audio sink has been chosen and has opened its device, or fallen back.
    if (current_->fallbackSink.load()) {
        OutputFound(false, QStringLiteral("no sound device could be opened"));
    } else {
        OutputFound(true, QStringLiteral("sound reaches %1").arg(SinkNames(current_->sink)));
    }
    emit PlayStateChange(Stopped, Playing);
}

void GstPlayer::ReportFirstSample() {
    if (!current_ || current_->reported) {
        return;
    }
    // A sink on the clock is done with the first buffer once it has waited for its time and
    // rendered it. A sink with a ring buffer takes it early: when it is heard is read off that
    // sink's clock (heardNs). With several outputs, the first to sound counts.
    qint64 heard = -1;
    qint64 arrived = -1;
    qint64 rendered = -1;
    for (const auto& b : current_->branches) {
        if (b->audioSink.load()) {
            const qint64 ns = b->heardNs.load();
            if (ns >= 0 && (heard < 0 || ns < heard)) {
                heard = ns;
                // Written to the ring buffer once both it and the pipeline were there.
                arrived = std::max(b->bufferNs.load(), current_->playingNs.load());
            }
        } else if (const qint64 ns = b->renderedNs.load();
                   ns >= 0 && (rendered < 0 || ns < rendered)) {
            rendered = ns;
        }
    }
    const qint64 playing = current_->playingNs.load();
    if (rendered >= 0 && playing >= 0) {
        if (const qint64 woke = current_->clock ? FirstWakeNs(current_->clock) : -1; woke >= 0) {
            rendered = std::min(rendered, woke); // sharper: the next data may come later
        }
        // Not before the pipeline runs, nor before an armed start's target.
        rendered = std::max({rendered, playing, current_->startNs});
    } else {
        rendered = -1;
    }
    if (heard < 0 && rendered < 0) {
        return;
    }
    current_->reported = true;
    // A sample whose place in the ring buffer was played before it reached the sink is lost.
    int lostMs = 0;
    if (heard >= 0 && (rendered < 0 || heard <= rendered)) {
        lostMs = int(std::max<qint64>(0, arrived - heard - kLostSlackNs) / 1000000);
    }
    const qint64 first = heard >= 0 && (rendered < 0 || heard < rendered) ? heard : rendered;
    emit FirstSample(current_->file, MonotonicToWall(first), lostMs);
}

void GstPlayer::OnFirstBuffer(quint64 serial) {
    if (current_ && current_->serial == serial) {
        ReportFirstSample();
    }
}

QString GstPlayer::EndedWithoutSound() const {
    if (current_->Earliest(&SinkBranch::bufferNs) < 0) {
        return QStringLiteral("ended without any sound reaching the output: it holds no sound");
    }
    gint64 length = -1;
    if (MonotonicNs() - playStartNs_ < kSecondNs &&
        gst_element_query_duration(current_->playbin, GST_FORMAT_TIME, &length) && length == 0) {
        return QStringLiteral("ended at once: its length is zero");
    }
    return {};
}

void GstPlayer::OutputFound(bool usable, const QString& how) {
    if (!usable && (OutputUsable() || !outputChecked_)) {
        gNoAudioReported = true;
        PlayLog(QStringLiteral("error no audio output: %1; nothing will be heard").arg(how));
    } else if (usable && (!OutputUsable() || !outputChecked_)) {
        PlayLog(QStringLiteral("audio output: %1").arg(how));
    }
    outputChecked_ = true;
    SetOutputUsable(usable);
}

bool GstPlayer::CheckOutput() {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* sink = MakeAudioSink();
    if (!pipeline || !sink) {
        if (pipeline) {
            gst_object_unref(pipeline);
        }
        OutputFound(false, QStringLiteral("GStreamer has no audio sink"));
        return false;
    }
    gst_bin_add(GST_BIN(pipeline), sink);
    // READY opens the device (or connects to the sound server) without sending it anything.
    const bool opened =
        gst_element_set_state(pipeline, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    QString how;
    bool usable = false;
    if (!opened) {
        GstBus* bus = gst_element_get_bus(pipeline);
        const QString reason = PendingError(bus);
        gst_object_unref(bus);
        how = QStringLiteral("the sound output \"%1\" cannot be opened (%2)")
                  .arg(SinkDescription(), reason);
    } else if (GstElement* fake = gst_bin_get_by_name(GST_BIN(sink), kFallbackSink)) {
        gst_object_unref(fake);
        how = QStringLiteral("no sound device could be opened");
    } else {
        usable = true;
        how = QStringLiteral("%1 (%2) is ready").arg(SinkDescription(), SinkNames(sink));
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    OutputFound(usable, how);
    realtime::Start();
    return usable;
}

void GstPlayer::OnBusMessage(quint64 serial, GstMessage* msg) {
    if (OnWaitingPipelineMessage(serial, msg)) {
        return;
    }
    if (!current_ || current_->serial != serial) {
        return; // from a pipeline already replaced
    }
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_STATE_CHANGED:
        OnStateChanged();
        break;
    case GST_MESSAGE_EOS:
        OnEndOfStream();
        break;
    case GST_MESSAGE_ERROR:
        if (!TakeOutFailedBranch(*current_, msg)) {
            OnError(msg);
        }
        break;
    default:
        break;
    }
}

bool GstPlayer::TakeOutFailedBranch(Pipeline& p, GstMessage* msg) {
    SinkBranch* b = p.BranchOf(GST_MESSAGE_SRC(msg));
    if (!b || p.Working() == 0) {
        return false; // the last output failed: the play fails
    }
    if (b->removed) {
        return true; // a later message of the same failure
    }
    b->removed = true;
    ReportOutputFailed(b->name, ErrorText(msg));
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

bool GstPlayer::OnWaitingPipelineMessage(quint64 serial, GstMessage* msg) {
    for (std::unique_ptr<Pipeline>* waiting : {&prepared_, &armedPipe_}) {
        if (*waiting && (*waiting)->serial == serial) {
            if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
                (*waiting)->endedEarly = true; // ends when it becomes the current play
            } else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR &&
                       !TakeOutFailedBranch(**waiting, msg)) {
                // Its file is played cold when its time comes, and fails there with a message.
                Discard(*waiting);
            }
            return true;
        }
    }
    return false;
}

void GstPlayer::OnStateChanged() {
    AnnouncePlaying();
    ReportFirstSample();
}

void GstPlayer::OnEndOfStream() {
    const QString silent = EndedWithoutSound();
    if (!silent.isEmpty()) {
        EndWithError(QStringLiteral("%1 %2").arg(file_, silent));
        return;
    }
    Discard(current_);
    playing_ = false;
    emit PlayStateChange(Playing, Stopped);
}

void GstPlayer::OnError(GstMessage* msg) {
    GError* err = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(msg, &err, &debug);
    const QString text = QStringLiteral("%1: %2").arg(file_, QString::fromUtf8(err->message));
    // A sink that cannot open its device: nothing can be heard until a play reaches one.
    const bool device = err->domain == GST_RESOURCE_ERROR && GST_IS_ELEMENT(GST_MESSAGE_SRC(msg)) &&
                        GST_OBJECT_FLAG_IS_SET(GST_MESSAGE_SRC(msg), GST_ELEMENT_FLAG_SINK);
    g_clear_error(&err);
    g_free(debug);
    if (device) {
        OutputFound(false, QStringLiteral("the sound output cannot be opened (%1)").arg(text));
    }
    EndWithError(text);
}

double GstPlayer::FirstBufferLatencyMs() const {
    if (!current_) {
        return -1;
    }
    const qint64 buffer = current_->Earliest(&SinkBranch::bufferNs);
    const qint64 playing = current_->playingNs.load();
    if (buffer < 0 || playing < 0) {
        return -1;
    }
    return (std::max(buffer, playing) - playStartNs_) / 1e6;
}

bool GstPlayer::Prerolled(const QString& file) const {
    for (const Pipeline* p : {prepared_.get(), armedPipe_.get()}) {
        if (p && p->file == file && p->decodedAhead.load()) {
            return true;
        }
    }
    return false;
}

double GstPlayer::Duration() {
    return MeasureDuration(file_);
}

double GstPlayer::MeasureDuration(const QString& file) {
    return LengthMeter::Measure(file);
}

QString GstPlayer::WhyUnplayable(const QString& file) const {
    return CheckPlayableFile(file);
}
