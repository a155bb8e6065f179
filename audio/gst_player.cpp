// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/gst_player.h"

#include "audio/first_sample.h"
#include "audio/gst_init.h"
#include "audio/length_meter.h"
#include "audio/monotonic_clock.h" // GStreamer runs on it: read directly, to the microsecond
#include "audio/pipeline_bus.h"
#include "audio/play_pipeline.h"
#include "audio/playable_file.h"
#include "audio/realtime_threads.h"
#include "audio/route_sink.h"
#include "audio/wake_clock.h"
#include "core/play_log.h"
#include "core/time_text.h"

#include <QMetaMethod>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>

namespace {

std::atomic<bool> gNoAudioReported{false};

// An armed start closer than this is started at once: going to PLAYING takes about this long.
constexpr qint64 kMinLeadNs = 20 * 1000000;
// A wall-clock step by more than this re-arms a waiting start.
constexpr qint64 kRearmNs = 1000000;
// The wall clock is looked at once more this long before an armed start.
constexpr qint64 kLastCheckNs = 200 * 1000000;
constexpr qint64 kSecondNs = 1000000000;

} // namespace

bool GstPlayer::NoAudioOutputReported() {
    return gNoAudioReported.load();
}

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

std::unique_ptr<PlayPipeline> GstPlayer::MakePipeline(const QString& file,
                                                      const AudioRoute& route) {
    auto p = std::make_unique<PlayPipeline>();
    p->serial = nextSerial_++;
    p->owner = this;
    p->file = file;
    p->route = route;
    p->playbin = NewPlaybin(*p);
    if (!p->playbin) {
        PlayLog(QStringLiteral("error the GStreamer element playbin is missing"));
        return nullptr;
    }
    p->firstRendered = &GstPlayer::QueueFirstSample;
    AttachAudioSink(*p, OutputFailedReporter());
    WatchBus(*p, &GstPlayer::QueueBusMessage);
    return p;
}

std::function<void(const QString&, const QString&)> GstPlayer::OutputFailedReporter() {
    return [this](const QString& output, const QString& reason) {
        ReportOutputFailed(output, reason);
    };
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

void GstPlayer::Discard(std::unique_ptr<PlayPipeline>& p) {
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

void GstPlayer::SetFileName(const QString& file, const AudioRoute& route) {
    CancelStart();
    Discard(current_);
    playing_ = false;
    file_ = file;
    fileRoute_ = route;
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
    if (Fits(prepared_.get(), file_, fileRoute_)) {
        current_ = std::move(prepared_);
    } else {
        current_ = MakePipeline(file_, fileRoute_);
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

void GstPlayer::Prepare(const QString& file, const AudioRoute& route) {
    if (Fits(prepared_.get(), file, route)) {
        return;
    }
    Discard(prepared_);
    if (!CheckPlayableFile(file).isEmpty()) {
        return; // Play will say why
    }
    prepared_ = MakePipeline(file, route);
    if (prepared_) {
        // PAUSED: the file is opened and decoded ahead into the queue in front of the sink,
        // where it waits at the gate, so a start later needs no more decoding.
        gst_element_set_state(prepared_->playbin, GST_STATE_PAUSED);
    }
}

void GstPlayer::PlayAt(const QString& file, const QDateTime& target, const AudioRoute& route) {
    if (StartArmed(file, target, route)) {
        FollowWallClock();
        return;
    }
    CancelStart();
    armed_ = true;
    armedPending_ = true;
    armedFile_ = file;
    armedTarget_ = target;
    armedRoute_ = route;
    armedNs_ = WallToMonotonicNs(target);
    if (CheckPlayableFile(file).isEmpty()) {
        if (Fits(prepared_.get(), file, route)) {
            armedPipe_ = std::move(prepared_);
        } else {
            armedPipe_ = MakePipeline(file, route);
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
        LookAtWallClockOnceMore();
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
    fileRoute_ = armedRoute_;
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

void GstPlayer::LookAtWallClockOnceMore() {
    lastCheck_ = false;
    const qint64 ns = WallToMonotonicNs(armedTarget_);
    if (std::llabs(ns - armedNs_) > kRearmNs) {
        armedNs_ = ns; // the wall clock was stepped: the start follows it
        RunArmed();
    } else {
        promoteTimer_.start(static_cast<int>(std::max<qint64>(0, ns - MonotonicNs()) / 1000000));
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

bool GstPlayer::Fits(const PlayPipeline* p, const QString& file, const AudioRoute& route) {
    return p && p->file == file && p->route == route;
}

bool GstPlayer::StartArmed(const QString& file, const QDateTime& target,
                           const AudioRoute& route) const {
    return armed_ && armedFile_ == file && armedTarget_ == target && armedRoute_ == route;
}

bool GstPlayer::StartBegun(const QString& file, const QDateTime& target) const {
    return armed_ && armedFile_ == file && armedTarget_ == target && !armedPending_;
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
    const FirstSampleTime first = FirstSampleOf(*current_);
    if (first.ns < 0) {
        return;
    }
    current_->reported = true;
    emit FirstSample(current_->file, MonotonicToWallUs(first.ns), first.lostMs);
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
        if (!TakeOutFailedBranch(*current_, msg, OutputFailedReporter())) {
            OnError(msg);
        }
        break;
    default:
        break;
    }
}

bool GstPlayer::OnWaitingPipelineMessage(quint64 serial, GstMessage* msg) {
    for (std::unique_ptr<PlayPipeline>* waiting : {&prepared_, &armedPipe_}) {
        if (*waiting && (*waiting)->serial == serial) {
            if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
                (*waiting)->endedEarly = true; // ends when it becomes the current play
            } else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR &&
                       !TakeOutFailedBranch(**waiting, msg, OutputFailedReporter())) {
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
    for (const PlayPipeline* p : {prepared_.get(), armedPipe_.get()}) {
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
