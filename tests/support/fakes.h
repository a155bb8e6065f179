// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/playable_file.h"
#include "audio/player.h"
#include "core/clock.h"
#include "core/time_text.h"
#include "schedule/shutdown_check.h"
#include "system/power_off.h"

#include <QDateTime>
#include <QFileInfo>
#include <QStringList>
#include <functional>
#include <utility>

// A clock the test moves by hand. Whatever follows it (a fake player's armed start) is told
// of every move through moved. It keeps the instant as a number, so moving it converts
// nothing through the time zone. Set and Advance are time passing; Step sets the wall clock
// alone, as an administrator or time sync does, so the steady clock does not follow.
class FakeClock : public Clock {
public:
    explicit FakeClock(QDateTime t = QDateTime(QDate(2026, 12, 7), QTime(7, 0)))
        : ms_(t.toMSecsSinceEpoch()) {}
    QDateTime Now() const override { return QDateTime::fromMSecsSinceEpoch(ms_); }
    qint64 NowMs() const override { return ms_; }
    qint64 SteadyMs() const override { return ms_ - stepMs_; }
    void Set(const QDateTime& t) { Move(t.toMSecsSinceEpoch()); }
    void Set(const QTime& t) { Set(QDateTime(Now().date(), t)); }
    void SetMs(qint64 ms) { Move(ms); }
    void Advance(int seconds) { Move(ms_ + qint64(seconds) * 1000); }
    void AdvanceMs(qint64 ms) { Move(ms_ + ms); }
    void Step(qint64 ms) {
        stepMs_ += ms;
        ms_ += ms;
        if (stepped) {
            stepped();
        }
    }

    std::function<void()> moved;
    std::function<void()> stepped; // as the kernel tells a program of a step

private:
    void Move(qint64 ms) {
        ms_ = ms;
        if (moved) {
            moved();
        }
    }
    qint64 ms_;
    qint64 stepMs_ = 0; // how far the wall clock has been stepped
};

// A player that records what it is asked to do; the test ends songs with Finish(). A start
// armed by PlayAt plays (recorded as "play") when the fake clock reaches its target, as the
// audio clock would start it, whatever the engine's ticks do.
class FakePlayer : public Player {
public:
    struct Call {
        QString what; // "play", "halt", "set", "prepare", "playat", "cancel"
        QString file;
        QDateTime when;
        AudioRoute route; // the route it was given; for the others the current media's
    };

    explicit FakePlayer(FakeClock* clock = nullptr) : clock_(clock) {
        if (clock_) {
            clock_->moved = [this] { StartIfDue(); };
            clock_->stepped = [this] {
                if (pending_ && followsSteps) {
                    armedSteadyMs_ = SteadyTarget(armedTargetMs_);
                }
                StartIfDue();
            };
        }
    }
    ~FakePlayer() override {
        if (clock_) {
            clock_->moved = nullptr;
            clock_->stepped = nullptr;
        }
    }
    // Whether a waiting start follows a step of the wall clock (the real one is told of each);
    // without, it sounds at the instant it was armed for, as the audio clock counts.
    bool followsSteps = true;

    void SetFileName(const QString& file, const AudioRoute& route) override {
        Disarm();
        file_ = file;
        fileRoute_ = route;
        playing_ = false;
        Record(QStringLiteral("set"), file, route);
    }
    QString FileName() const override { return file_; }
    void Play() override {
        Disarm();
        Start();
    }
    void Halt() override {
        Disarm();
        playing_ = false;
        Record(QStringLiteral("halt"), file_, fileRoute_);
        emit Halted();
    }
    void PlayAt(const QString& file, const QDateTime& target, const AudioRoute& route) override {
        if (StartArmed(file, target, route)) {
            return;
        }
        Disarm();
        Record(QStringLiteral("playat"), file, route);
        armed_ = true;
        pending_ = true;
        armedFile_ = file;
        armedTarget_ = target;
        armedRoute_ = route;
        armedTargetMs_ = target.toMSecsSinceEpoch();
        armedSteadyMs_ = SteadyTarget(armedTargetMs_);
        StartIfDue();
    }
    void CancelStart() override {
        if (pending_) {
            Record(QStringLiteral("cancel"), armedFile_, armedRoute_);
        }
        Disarm();
    }
    // Test files are empty stand-ins: only a missing one is refused, unless a test asks for
    // the real check.
    QString WhyUnplayable(const QString& file) const override {
        if (realFileCheck) {
            return CheckPlayableFile(file);
        }
        return QFileInfo::exists(file) ? QString() : QStringLiteral("does not exist");
    }
    bool realFileCheck = false;
    bool StartArmed(const QString& file, const QDateTime& target,
                    const AudioRoute& route) const override {
        return armed_ && armedFile_ == file && armedTarget_ == target && armedRoute_ == route;
    }
    bool StartBegun(const QString& file, const QDateTime& target) const override {
        return armed_ && armedFile_ == file && armedTarget_ == target && !pending_;
    }
    // Whether a start armed by PlayAt is waiting for its target.
    bool StartPending() const { return pending_; }
    double Duration() override { return MeasureDuration(file_); }
    double MeasureDuration(const QString& file) override { return durations.value(file, -1.0); }
    void Prepare(const QString& file, const AudioRoute& route) override {
        Record(QStringLiteral("prepare"), file, route);
    }

    // The current song ends by itself.
    void Finish() {
        if (playing_) {
            playing_ = false;
            emit PlayStateChange(Playing, Stopped);
        }
    }
    // The current song fails to play.
    void Fail() {
        playing_ = false;
        emit Error(file_ + QStringLiteral(": cannot play"));
        emit PlayStateChange(Playing, Stopped);
    }
    bool IsPlaying() const { return playing_; }
    // A check or a play has found out whether sound can be heard.
    void SetOutput(bool usable) { SetOutputUsable(usable); }

    QStringList plays;
    QVector<Call> calls;
    QHash<QString, double> durations;

private:
    void Record(const QString& what, const QString& file, const AudioRoute& route) {
        calls.push_back({what, file, clock_ ? clock_->Now() : QDateTime(), route});
    }
    void Start() {
        playing_ = !file_.isEmpty();
        Record(QStringLiteral("play"), file_, fileRoute_);
        if (playing_) {
            plays << file_;
            emit PlayStateChange(Stopped, Playing);
            emit FirstSample(
                file_,
                (clock_ ? clock_->Now() : QDateTime::currentDateTime()).toMSecsSinceEpoch() * 1000,
                0);
        }
    }
    void StartIfDue() {
        if (pending_ && (!clock_ || clock_->SteadyMs() >= armedSteadyMs_)) {
            pending_ = false;
            if (clock_ && clock_->NowMs() - armedTargetMs_ > kLateGraceSeconds * 1000) {
                armed_ = false; // due long ago: dropped
                return;
            }
            file_ = armedFile_;
            fileRoute_ = armedRoute_;
            Start();
        }
    }
    qint64 SteadyTarget(qint64 wallMs) const {
        return clock_ ? wallMs - (clock_->NowMs() - clock_->SteadyMs()) : wallMs;
    }
    void Disarm() {
        armed_ = false;
        pending_ = false;
    }
    FakeClock* clock_;
    bool armed_ = false;   // the last PlayAt, not cancelled or replaced since
    bool pending_ = false; // ... and waiting for its target
    QString armedFile_;
    QDateTime armedTarget_;
    AudioRoute armedRoute_;
    qint64 armedTargetMs_ = 0;
    qint64 armedSteadyMs_ = 0; // the target on the steady clock
    QString file_;
    AudioRoute fileRoute_; // where file_ plays
    bool playing_ = false;
};

// A shutdown prompt that counts how often it was opened. By default it closes at once with
// answer; with holdOpen it stays open until the test calls Close.
class FakePrompt : public ShutdownPrompt {
public:
    void OpenShutdownCountdown(std::function<void(bool)> closed) override {
        ++opened;
        closed_ = std::move(closed);
        if (during) {
            during();
        }
        if (!holdOpen) {
            Close(answer);
        }
    }
    void Close(bool poweringOff) {
        if (auto closed = std::exchange(closed_, nullptr)) {
            closed(poweringOff);
        }
    }
    bool IsOpen() const { return bool(closed_); }
    int opened = 0;
    bool answer = false;
    bool holdOpen = false;
    std::function<void()> during;

private:
    std::function<void(bool)> closed_;
};

// A power-off that counts its calls and accepts or refuses as told; never the real one.
class FakePowerOff : public PowerOff {
public:
    bool PowerOffNow(QString* reason) override {
        ++calls;
        if (!accept) {
            *reason = "refused by the test";
        }
        return accept;
    }
    int calls = 0;
    bool accept = true;
};
