// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/player.h"
#include "audio/wall_clock_steps.h"

#include <QTimer>

#include <functional>
#include <memory>

typedef struct _GstMessage GstMessage;
struct PlayPipeline;

// The program's player on GStreamer: playbin for playback (audio only),
// GstDiscoverer for lengths. The audio sink comes from BELVORAN_AUDIO_SINK (gst-launch
// syntax), default autoaudiosink. Bus messages are handed to the Qt event loop, so every
// signal arrives on the thread that owns the player.
class GstPlayer : public Player {
    Q_OBJECT
public:
    explicit GstPlayer(QObject* parent = nullptr);
    ~GstPlayer() override;

    void SetFileName(const QString& file, const AudioRoute& route) override;
    QString FileName() const override { return file_; }
    void Play() override;
    void Halt() override;
    double Duration() override;
    double MeasureDuration(const QString& file) override;
    void Prepare(const QString& file, const AudioRoute& route) override;
    // The prepared pipeline goes to PLAYING at once, on the system clock, with every sink's
    // running time shifted so the first sample falls on target: a sink on the clock holds
    // it until then, a sink with a ring buffer plays silence up to it. At target the pipeline
    // becomes the current one and the previous playback ends.
    void PlayAt(const QString& file, const QDateTime& target, const AudioRoute& route) override;
    void CancelStart() override;
    bool StartArmed(const QString& file, const QDateTime& target,
                    const AudioRoute& route) const override;
    bool StartBegun(const QString& file, const QDateTime& target) const override;
    // Opens the audio sink (state READY: the device is opened, nothing is played) and
    // closes it again.
    bool CheckOutput() override;
    QString WhyUnplayable(const QString& file) const override;

    // Milliseconds from the last Play() to its first buffer reaching the audio sink;
    // -1 until that buffer has arrived.
    double FirstBufferLatencyMs() const;
    bool IsPlaying() const { return playing_; }
    // Whether a prepared or armed pipeline of file holds its first samples decoded in front
    // of the sink, so its start needs no more decoding (tests and benchmarks wait for it).
    bool Prerolled(const QString& file) const;
    // Whether this process has found that no sound device can be opened (said in the log).
    static bool NoAudioOutputReported();
    // How long a play may take to start before it counts as failed (default 15 s).
    void SetStartTimeoutMs(int ms) { startTimeoutMs_ = ms; }

private:
    // A pipeline of file to route, its sinks and bus watched. The bus's messages are handled
    // as they are posted (WatchBus); those the player needs come to its thread through
    // QueueBusMessage, the first sample through QueueFirstSample.
    std::unique_ptr<PlayPipeline> MakePipeline(const QString& file, const AudioRoute& route);
    void ReportOutputFailed(const QString& output, const QString& reason);
    // ReportOutputFailed, for the sinks' building and the bus (OutputFailedFn).
    std::function<void(const QString&, const QString&)> OutputFailedReporter();
    // Whether p plays file to route.
    static bool Fits(const PlayPipeline* p, const QString& file, const AudioRoute& route);
    static void QueueBusMessage(GstPlayer* player, quint64 serial, GstMessage* msg);
    static void QueueFirstSample(GstPlayer* player, quint64 serial);
    void Discard(std::unique_ptr<PlayPipeline>& p);
    // On the player's thread: one handler per kind of message of the current pipeline.
    void OnBusMessage(quint64 serial, GstMessage* msg);
    // A message of the prepared or armed pipeline, which is dropped on an error; false when
    // the message is not theirs.
    bool OnWaitingPipelineMessage(quint64 serial, GstMessage* msg);
    // playbin has reached PLAYING (the only state change passed on).
    void OnStateChanged();
    void OnEndOfStream();
    void OnError(GstMessage* msg);
    void StopWith(const QString& error);
    void EndWithError(const QString& text);
    // Why the current play counts as failed although it ended normally; empty if it played.
    QString EndedWithoutSound() const;
    // Records what a check or a play found out about the sound output, in the log on change.
    void OutputFound(bool usable, const QString& how);
    // Plays file_ now, with the prepared pipeline when it is the one.
    void StartNow();
    // The armed start's target has come: its pipeline becomes the current one.
    void Promote();
    // Shortly before the target: the start follows a step of the wall clock made meanwhile,
    // else the timer waits for the target itself.
    void LookAtWallClockOnceMore();
    // A start waiting for its target moves with a step of the wall clock, up to the target.
    void FollowWallClock();
    // Sets the armed pipeline's base time to armedNs_ and lets it run.
    void RunArmed();
    // Tells FirstSample once the current pipeline's first sample time is known.
    void ReportFirstSample();
    void OnFirstBuffer(quint64 serial);
    // The current pipeline has reached PLAYING: said once per pipeline.
    void AnnouncePlaying();

    QString file_;
    AudioRoute fileRoute_; // where file_ plays
    std::unique_ptr<PlayPipeline> current_;
    std::unique_ptr<PlayPipeline> prepared_;
    std::unique_ptr<PlayPipeline> armedPipe_; // waiting for its target
    bool armed_ = false;                      // see StartArmed
    bool armedPending_ = false;               // the armed start's target has not come
    QString armedFile_;
    QDateTime armedTarget_;
    AudioRoute armedRoute_;
    qint64 armedNs_ = 0; // the target on the system clock (monotonic)
    QTimer promoteTimer_;
    WallClockSteps clockSteps_;
    bool lastCheck_ = false; // the timer's next run looks at the wall clock once more
    bool playing_ = false;
    bool outputChecked_ = false; // whether the log has said anything about the output yet
    quint64 nextSerial_ = 1;
    qint64 playStartNs_ = 0;
    int startTimeoutMs_ = 15000;
};
