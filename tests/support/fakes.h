#pragma once

#include "audio/player.h"
#include "core/clock.h"
#include "schedule/shutdown_check.h"
#include "system/power_off.h"

#include <QDateTime>
#include <QStringList>
#include <functional>
#include <utility>

// A clock the test moves by hand.
class FakeClock : public Clock {
public:
    explicit FakeClock(QDateTime t = QDateTime(QDate(2026, 12, 7), QTime(7, 0))) : now_(t) {}
    QDateTime Now() const override { return now_; }
    void Set(const QDateTime& t) { now_ = t; }
    void Set(const QTime& t) { now_ = QDateTime(now_.date(), t); }
    void Advance(int seconds) { now_ = now_.addSecs(seconds); }

private:
    QDateTime now_;
};

// A player that records what it is asked to do; the test ends songs with Finish().
class FakePlayer : public Player {
public:
    struct Call {
        QString what; // "play", "halt", "set", "prepare"
        QString file;
        QDateTime when;
    };

    explicit FakePlayer(const Clock* clock = nullptr) : clock_(clock) {}

    void SetFileName(const QString& file) override {
        file_ = file;
        playing_ = false;
        Record(QStringLiteral("set"), file);
    }
    QString FileName() const override { return file_; }
    void Play() override {
        playing_ = !file_.isEmpty();
        Record(QStringLiteral("play"), file_);
        if (playing_) {
            plays << file_;
            emit PlayStateChange(Stopped, Playing);
        }
    }
    void Halt() override {
        playing_ = false;
        Record(QStringLiteral("halt"), file_);
        emit Halted();
    }
    double Duration() override { return MeasureDuration(file_); }
    double MeasureDuration(const QString& file) override { return durations.value(file, -1.0); }
    void Prepare(const QString& file) override { Record(QStringLiteral("prepare"), file); }

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
    void Record(const QString& what, const QString& file) {
        calls.push_back({what, file, clock_ ? clock_->Now() : QDateTime()});
    }
    const Clock* clock_;
    QString file_;
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
