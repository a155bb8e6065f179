#pragma once

#include <QDate>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVector>

#include "schedule/break_music.h"
#include "schedule/shutdown_check.h"
#include "store/conn.h"

struct ProgramVars;
class Clock;
class Conn;
class Player;

// Plays today's timetable: reads the remaining events, arms the next, and on every tick of
// MainTimer updates the time label, fires the armed event when its second has come, and
// ends with the daily shutdown check.
class ScheduleEngine : public QObject {
    Q_OBJECT
public:
    ScheduleEngine(ProgramVars& vars, Conn& conn, Clock& clock, Player& player,
                   ShutdownPrompt* prompt, QObject* parent = nullptr);

    // Reads today's events later than now, arms the first and starts the timer.
    void LoadTodayEvents();
    // Stops the timer; the label reads "播放已结束".
    void StopSchedule();
    // One tick. MainTimer calls it just after each wall-clock second; tests call it directly.
    void Tick();
    // The time-label click: toggles clock and countdown and stores the choice.
    void ToggleShowClock();
    // The mode menu: normal (false) or rain (true) mode, stored in the config row.
    void SetRainMode(bool rain);
    // The music file of the replacement name; the last matching entry wins; "" for none.
    QString GetReplaceMusic(const QString& name) const;

    // Tests drive Tick by hand: with false the real timer is never armed.
    void SetTimerDriven(bool on) { timerDriven_ = on; }

    bool Running() const { return running_; }
    bool Armed() const { return armed_; }
    const QString& NowTime() const { return nowTime_; }
    const QString& NextTime() const { return nextTime_; }
    const QString& NextEvent() const { return nextEvent_; }
    const QString& NextMusic() const { return nextMusic_; }
    const QString& NextReplace() const { return nextReplace_; }
    int SecToNext() const { return secToNext_; }
    const QString& LabelText() const { return labelText_; }
    bool BreakPlaying() const { return breakMusic_.BreakPlaying(); }
    BreakMusic& Break() { return breakMusic_; }
    ShutdownCheck& Shutdown() { return shutdown_; }
    QTimer* MainTimer() { return &mainTimer_; }

signals:
    void LabelChanged(const QString& text);

private:
    void LoadEvents(QString after); // by value: callers pass failedLoadAfter_
    // Drops the rows the schedule cannot play, logging each once a day.
    void DropBadRows();
    void ArmNextEvent();
    // The old day's armed event when midnight passes: fired within the grace, else missed.
    void FinishOldDay(const QDateTime& now);
    void FireArmed(const QDateTime& now);
    void Fire();
    QString FileToPlay() const;
    void SetLabel(const QString& text);
    void ArmTimer();

    ProgramVars& vars_;
    Conn& conn_;
    Clock& clock_;
    Player& player_;
    BreakMusic breakMusic_;
    ShutdownCheck shutdown_;
    QTimer mainTimer_;
    bool timerDriven_ = true;

    bool running_ = false;
    bool armed_ = false;
    QDate loadedDate_;
    QVector<EventRow> todayEvents_;
    int nextIndex_ = 0; // the row after the armed one
    qint64 nextId_ = 0;
    QSet<qint64> firedToday_;    // events fired on loadedDate_: never twice a day
    QSet<qint64> loggedBadRows_; // rows already logged as unplayable on loadedDate_
    QString nowTime_;
    QString nextTime_ = QStringLiteral("00:00:00");
    QString nextEvent_;
    QString nextMusic_;
    QString nextReplace_;
    int secToNext_ = 0;
    QString labelText_;
    QString preparedFile_;
    QString failedLoadAfter_; // null unless the last read of today's events failed
};
