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

protected:
    bool LogsErrorsOf(const QString& file) const { return file.isEmpty() || file != quietFile_; }

private:
    QString quietFile_;
};
