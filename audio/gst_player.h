#pragma once

#include "audio/player.h"

#include <memory>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

// The program's player on GStreamer: playbin for playback (audio only),
// GstDiscoverer for lengths. The audio sink comes from BELVORAN_AUDIO_SINK (gst-launch
// syntax), default autoaudiosink. Bus messages are handed to the Qt event loop, so every
// signal arrives on the thread that owns the player.
class GstPlayer : public Player {
    Q_OBJECT
public:
    explicit GstPlayer(QObject* parent = nullptr);
    ~GstPlayer() override;

    void SetFileName(const QString& file) override;
    QString FileName() const override { return file_; }
    void Play() override;
    void Halt() override;
    double Duration() override;
    double MeasureDuration(const QString& file) override;
    void Prepare(const QString& file) override;
    // Opens the audio sink (state READY: the device is opened, nothing is played) and
    // closes it again.
    bool CheckOutput() override;

    // Milliseconds from the last Play() to its first buffer reaching the audio sink;
    // -1 until that buffer has arrived.
    double FirstBufferLatencyMs() const;
    bool IsPlaying() const { return playing_; }
    // Whether this process has found that no sound device can be opened (said in the log).
    static bool NoAudioOutputReported();

private:
    struct Pipeline;
    std::unique_ptr<Pipeline> MakePipeline(const QString& file);
    void Discard(std::unique_ptr<Pipeline>& p);
    void OnBusMessage(quint64 serial, GstMessage* msg);
    void StopWith(const QString& error);
    void EndWithError(const QString& text);
    // Why the current play counts as failed although it ended normally; empty if it played.
    QString EndedWithoutSound() const;
    // Records what a check or a play found out about the sound output, in the log on change.
    void OutputFound(bool usable, const QString& how);

    QString file_;
    std::unique_ptr<Pipeline> current_;
    std::unique_ptr<Pipeline> prepared_;
    bool playing_ = false;
    bool outputChecked_ = false; // whether the log has said anything about the output yet
    quint64 nextSerial_ = 1;
    qint64 playStartNs_ = 0;
};

// Initialises GStreamer once for the process.
void EnsureGstInit();
