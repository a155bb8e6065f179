#pragma once

#include <QObject>
#include <QString>

// The program's one audio player. The schedule, break music, the settings pages and the
// event editor all share it.
class Player : public QObject {
    Q_OBJECT
public:
    // Play states carried by PlayStateChange.
    enum State { Stopped = 0, Paused = 1, Playing = 2 };

    using QObject::QObject;
    ~Player() override = default;

    // Makes file the current media (may be empty); any playback in progress ends.
    virtual void SetFileName(const QString& file) = 0;
    virtual QString FileName() const = 0;
    // Starts playback of the current media.
    virtual void Play() = 0;
    // Stops at once and stays stopped; never reported as the end of a song.
    virtual void Halt() = 0;
    // Length of the current media in seconds; -1 when it cannot be loaded.
    virtual double Duration() = 0;
    // Length of any file in seconds; -1 when it cannot be loaded.
    virtual double MeasureDuration(const QString& file) = 0;
    // Optional: get file ready ahead of time so a later Play of it starts without delay.
    virtual void Prepare(const QString& file) { Q_UNUSED(file); }
    // Checks, without playing anything, whether sound can be heard: a sound device can be
    // opened. Says so in the log; returns the answer, also kept in OutputUsable.
    virtual bool CheckOutput() { return OutputUsable(); }

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
