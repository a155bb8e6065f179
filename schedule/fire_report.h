// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/rows.h"

#include <QDateTime>
#include <QString>

#include <functional>

class Player;

// The log line of one outcome of the timetable ("fire  08:00:00 \"上课\": bell.mp3").
QString OutcomeLine(PlayOutcome outcome, const QString& time, const QString& event,
                    const QString& file, const QString& reason);

// The line and the record of the event fired last. They wait for its first sample, which
// gives the lateness the line and the record carry; without one within a few seconds, or
// when the play fails before it, the fire is recorded as failed, with the reason.
class FireReport {
public:
    using Recorder = std::function<void(const PlayRecordRow&)>;
    FireReport(Player& player, Recorder recorder);

    // A new fire (the last one's line is written first, without its sample if it never came):
    // its record as it stands; the tick fired it tickLateMs after its second; earlyMs < 0: it
    // sounded that early, the clock set back meanwhile.
    void Begin(const PlayRecordRow& record, qint64 tickLateMs, qint64 earlyMs);
    // Its line waits for the first sample of file, due at target.
    void Await(const QString& line, const QString& file, const QDateTime& target);
    // Nothing waits any more: the fire was said otherwise.
    void Drop() { line_.clear(); }
    // The fire is said at once, playing file, without waiting for its first sample.
    void SayNow(const QString& line, const QString& file, const QDateTime& at);
    // Writes the waiting line once its sample is known; with force, as a failure without it.
    void Log(bool force);
    void OnFirstSample(const QString& file, qint64 wallUs, int lostMs);
    // A play error: true when it ended the waiting fire before its first sample (the caller
    // says so, with the message); the player then logs its own errors again. Break music
    // that goes on with its next song says so itself.
    bool FailedBy(const QString& message, bool breakMusicGoesOn);

    bool Waiting() const { return !line_.isEmpty(); }
    const QDateTime& Target() const { return target_; }
    const QString& File() const { return file_; }
    PlayRecordRow& Record() { return record_; }
    const PlayRecordRow& Record() const { return record_; }
    qint64 TickLateMs() const { return tickLateMs_; }

private:
    // The line and record of a fire whose first sample came (targetUs: its second), or of
    // one that failed without it.
    void LogSounded(qint64 targetUs);
    void LogFailed();

    Player& player_;
    Recorder recorder_;
    QString line_; // waiting for its sample; empty when nothing waits
    QString file_;
    QDateTime target_;
    PlayRecordRow record_;
    qint64 tickLateMs_ = 0; // how late the tick fired it
    qint64 earlyMs_ = 0;    // < 0: it sounded that early, the clock set back meanwhile
    QString sampleFile_;    // the last first sample the player reported
    qint64 sampleUs_ = -1;  // its wall-clock time, microseconds since the epoch
    int sampleLostMs_ = 0;  // how much of its start never sounded
    QString lastError_;     // the player's last error, and the file it concerned
    QString lastErrorFile_;
};
