// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

// One sound output of a play: a sink, and the channels of it that carry the sound.
struct AudioOutput {
    QString name;            // for the log and the windows ("教学楼一")
    QString sink;            // a sink in gst-launch syntax; empty: the default output
    int channels = 0;        // with channelsOn: how many channels the output has
    QVector<int> channelsOn; // 1-based channels that carry the sound; empty: all of them
    bool operator==(const AudioOutput&) const = default;
};
// Where a play sounds: every output at once. Empty: the default output alone.
using AudioRoute = QVector<AudioOutput>;

// The program's one audio player. The schedule, break music, the settings pages and the
// event editor all share it.
class Player : public QObject {
    Q_OBJECT
public:
    // Play states carried by PlayStateChange.
    enum State { Stopped = 0, Paused = 1, Playing = 2 };

    using QObject::QObject;
    ~Player() override = default;

    // Makes file the current media (may be empty), to be played on route; any playback in
    // progress ends.
    virtual void SetFileName(const QString& file, const AudioRoute& route) = 0;
    virtual QString FileName() const = 0;
    // Starts playback of the current media.
    virtual void Play() = 0;
    // Stops at once and stays stopped; never reported as the end of a song.
    virtual void Halt() = 0;
    // Length of the current media in seconds; -1 when it cannot be loaded.
    virtual double Duration() = 0;
    // Length of any file in seconds; -1 when it cannot be loaded.
    virtual double MeasureDuration(const QString& file) = 0;
    // Optional: get file ready ahead of time so a later Play of it on route starts without
    // delay.
    virtual void Prepare(const QString& file, const AudioRoute& route) {
        Q_UNUSED(file);
        Q_UNUSED(route);
    }
    // Makes file the current media from target on, played on route: its first sample plays
    // at target on the wall clock, decided by the audio clock rather than by a wake-up of
    // this thread. What plays now goes on until then. Calling it again with the same file,
    // target and route only follows a step of the wall clock. A target already past starts file at
    // once; a start found due more than kLateGraceSeconds after its target (the computer slept, the
    // wall clock jumped) is dropped, as the timetable drops an event missed by that much.
    // SetFileName, Play, Halt, another PlayAt and CancelStart cancel a start not yet due.
    virtual void PlayAt(const QString& file, const QDateTime& target, const AudioRoute& route) = 0;
    // Cancels the start armed by PlayAt if its target has not come; nothing of it plays.
    virtual void CancelStart() = 0;
    // Whether the last PlayAt was for file at target on route and nothing has cancelled or
    // replaced it since (it may be waiting for its second, playing, or already ended).
    virtual bool StartArmed(const QString& file, const QDateTime& target,
                            const AudioRoute& route) const = 0;
    // Whether the start armed for file at target (on any route) has gone past the point where
    // it follows the wall clock: its sound begins, or began, at the instant the target had
    // when it was armed.
    virtual bool StartBegun(const QString& file, const QDateTime& target) const = 0;
    // Checks, without playing anything, whether sound can be heard: a sound device can be
    // opened. Says so in the log; returns the answer, also kept in OutputUsable.
    virtual bool CheckOutput() { return OutputUsable(); }
    // Why file cannot be played, in words for the log after its name; empty when it may
    // be played (see CheckPlayableFile).
    virtual QString WhyUnplayable(const QString& file) const = 0;

    // False once a check or a play found no usable sound device; true again as soon as a
    // later play reaches a real device. OutputChanged tells every change.
    bool OutputUsable() const { return outputUsable_; }

    // Failures of file are reported through Error only, without a log line of the player's
    // own: whoever drives the player logs them (break music, once a break). An empty name
    // gives the player its own lines back.
    void QuietErrorsFor(const QString& file) { quietFile_ = file; }

signals:
    // newState Stopped means playback ended by itself: end of file or a playback error.
    void PlayStateChange(int oldState, int newState);
    // A file could not be played, or ended without a sound reaching the output (it holds no
    // sound); a PlayStateChange to Stopped follows.
    void Error(const QString& message);
    // Emitted by Halt, so whoever was driving playback knows it has been taken away.
    void Halted();
    // Whether sound can be heard has changed (see OutputUsable).
    void OutputChanged(bool usable);
    // The first sample of file was played, at wall-clock time wallUs (microseconds since the
    // epoch): for a sound card or server as its own clock tells, for other sinks when it was
    // rendered; for every start, by Play or by PlayAt. lostMs: how much of the file's start
    // never sounded because it reached the output after its time (0 when all of it did).
    void FirstSample(const QString& file, qint64 wallUs, int lostMs);
    // One output of a play with several could not be opened or failed while playing; the
    // others play on. When the last one fails the play ends with Error as usual.
    void OutputFailed(const QString& output, const QString& reason);

protected:
    void SetOutputUsable(bool usable) {
        if (usable != outputUsable_) {
            outputUsable_ = usable;
            emit OutputChanged(usable);
        }
    }
    bool LogsErrorsOf(const QString& file) const { return file.isEmpty() || file != quietFile_; }

private:
    bool outputUsable_ = true;
    QString quietFile_;
};
