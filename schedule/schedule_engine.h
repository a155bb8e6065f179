// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>

#include "schedule/break_music.h"
#include "schedule/day_rule.h"
#include "schedule/event_sound.h"
#include "schedule/fire_report.h"
#include "schedule/local_day.h"
#include "schedule/shared_second.h"
#include "schedule/shutdown_check.h"
#include "schedule/today_events.h"
#include "schedule/today_files.h"
#include "schedule/zones.h"
#include "store/conn.h"

struct ProgramVars;
class Clock;
class Conn;
class Player;

// Plays today's timetable: reads the remaining events, arms the next, and on every tick of
// MainTimer updates the time label, fires the armed event when its second has come, and
// ends with the daily shutdown check.
//
// The sound of an event does not wait for the tick of its second: two seconds ahead its file
// (or its break-music library's first song) is prepared, and a second ahead its start is
// armed in the player on the audio clock. The tick of the second only records the event as
// fired and logs it; the log line carries the time its first sample reached the sink.
class ScheduleEngine : public QObject {
    Q_OBJECT
public:
    // One of today's events whose sound cannot be played, as found when the day was read.
    using FileProblem = ::FileProblem;

    ScheduleEngine(ProgramVars& vars, Conn& conn, Clock& clock, Player& player,
                   ShutdownPrompt* prompt, QObject* parent = nullptr);
    ~ScheduleEngine() override;

    // Reads today's events later than now, arms the first and starts the timer.
    void LoadTodayEvents();
    // Stops the timer; the label reads "播放已结束". why says what paused the schedule: the
    // events that pass before the next LoadTodayEvents are logged as missed with it.
    void StopSchedule(const QString& why = QString());
    // One tick. MainTimer calls it just after each wall-clock second; tests call it directly.
    void Tick();
    // The time-label click: toggles clock and countdown and stores the choice.
    void ToggleShowClock();
    // The mode menu: normal (false) or rain (true) mode, stored in the config row.
    void SetRainMode(bool rain);
    // The music file of the replacement name; the last matching entry wins; "" for none.
    QString GetReplaceMusic(const QString& name) const { return ReplaceMusic(vars_, name); }

    // The tray menu's "停止播放": halts whatever plays, break music too; the timetable and
    // what fires next are untouched.
    void StopPlaying();
    // The tray menu's "立即播放…": plays the event eventId now, through the same path as its
    // scheduled fire (break music, rain replacement, missing files), logged as manual. What
    // is armed next, and whether eventId still fires at its own second today, is unchanged.
    // zones, when given, replaces the event's own zone code for this play.
    bool PlayNow(qint64 eventId, QString* error = nullptr, const QString& zones = QString());
    // The zones as read with today's events (names, outputs, commands).
    const QVector<ZoneRow>& Zones() const { return zones_; }
    ZoneSwitch& Switch() { return zoneSwitch_; }
    // The sink of the device the default output plays to, as last found (see PlanZones).
    void SetDefaultOutputSink(const QString& sink) { defaultSink_ = sink; }
    // The events the play-now list offers: today's timetable, whole day, in start-time order
    // (on a no-bell day, the date's own weekday's).
    bool TodayTimetable(QVector<EventRow>* rows, QString* error = nullptr);
    // The first and last start time ("hh:mm:ss") of today's events that play, as the day
    // was read; both null when none does.
    void TodayBellHours(QString* first, QString* last) const { events_.BellHours(first, last); }
    // The rule of the day the schedule runs on, as read at the last activation or midnight.
    const DayRule& TodayRule() const { return events_.Rule(); }
    bool NoBellsToday() const { return !events_.Rule().bells; }

    // Makes the players of events that share a second with another on other zones; without
    // one the last row of a second alone plays.
    void SetPlayerFactory(std::function<std::unique_ptr<Player>()> make) {
        shared_.SetPlayerFactory(std::move(make));
    }
    // Tests drive Tick by hand: with false the real timer is never armed.
    void SetTimerDriven(bool on) { timerDriven_ = on; }
    // The next instant at which a tick can do more than refresh the label: two seconds
    // before the armed event, or the end of the day. A simulation may jump there.
    qint64 NextWakeMs() const;

    bool Running() const { return running_; }
    bool Armed() const { return armed_; }
    const QString& NowTime() const { return nowTime_; }
    const QString& NextTime() const { return next_.time; }
    const QString& NextEvent() const { return next_.event; }
    const QString& NextMusic() const { return next_.music; }
    const QString& NextReplace() const { return next_.replace; }
    int SecToNext() const { return secToNext_; }
    const QString& LabelText() const { return labelText_; }
    // The line under the label: rain mode, a pause, break music, and the next event the
    // time or countdown belongs to ("下一个：08:00:00 上课", "距 08:00:00 上课 还有").
    const QString& CaptionText() const { return captionText_; }
    bool BreakPlaying() const { return breakMusic_.BreakPlaying(); }
    BreakMusic& Break() { return breakMusic_; }
    ShutdownCheck& Shutdown() { return shutdown_; }
    QTimer* MainTimer() { return &mainTimer_; }

    // Today's events, as the store holds them now, that are due within the next seconds:
    // what will not ring while the schedule is paused (the settings window is open).
    bool DueWithin(int seconds, QVector<EventRow>* rows, QString* error = nullptr);
    // Today's events that cannot be played, from the last check (when the day was read,
    // and every few minutes after); empty when all is well.
    const QVector<FileProblem>& TodayProblems() const { return files_.Problems(); }
    // Today's bells that were due and did not sound (missed or failed), as recorded.
    const QVector<PlayRecordRow>& NotRungToday() const { return notRung_; }

signals:
    void LabelChanged(const QString& text);
    void CaptionChanged(const QString& text);
    // One outcome of the timetable: an event fired (with its first sample's lateness once
    // known), skipped, missed or failed. Emitted after the fire, never before it.
    void Recorded(const PlayRecordRow& record);
    // TodayProblems() changed.
    void TodayProblemsChanged();
    // NotRungToday() changed.
    void NotRungChanged();
    // A zone's output or switch command failed (the sound went on where it could).
    void ZoneProblem(const QString& text);
    // A tick of the running schedule has run to its end: a hung or stopped tick stops these.
    void Ticked();

private:
    // A new date on the clock (or the zone changed the day's shape): the day's instants.
    void EnterDay(qint64 now);
    void LoadEvents();
    // The store could not be read: tried again every few seconds, and once it answers the
    // bells due meanwhile are said to be missed.
    void RetryRead(qint64 now);
    // Arms the first event due later than now.
    void ArmFrom(qint64 now);
    // Arms the next row; rows sharing its second are armed together, the last one sounding.
    void ArmNextEvent();
    // The rows of the armed second.
    QVector<EventRow> ArmedGroup() const;
    void CheckZone(qint64 now);
    // The wall clock was set: a bell armed for the old instant that sounded counts as rung,
    // and bells it passed over while wrong are armed again.
    void CheckClockStep(qint64 now);
    // Near the day's end with nothing left: the next day's bells of its first seconds, read
    // ahead so they are prepared and armed as any other.
    void ReadNextDayHead();
    // Rows due in (fromMs, toMs] that have not fired today are reported missed for reason.
    void ReportMissedBetween(qint64 fromMs, qint64 toMs, const QString& reason,
                             const QSet<QString>& handled);
    // The old day's armed event when midnight passes: fired within the grace, else missed.
    void FinishOldDay(qint64 now);
    // Every row of the armed second is past for good.
    void MissArmed(const QString& reason);
    void FireArmed(qint64 now);
    // Fires the armed event (or the one played by hand): its sound starts, or has started
    // on the audio clock.
    void Fire();
    // Two seconds ahead of the armed event's second its sound is got ready (EventSound);
    // a start armed earlier that no longer fits is cancelled.
    void Ahead(qint64 now);
    // Rows of the armed second before the last keep the zones later rows leave them: they
    // play too, each on a player of its own.
    void FireSharedSecond(qint64 now);
    void OnZoneProblem(const QString& text);
    // The day is read and armed and its files checked: one line says so (technicians and
    // benchmarks wait for it).
    void LogReady();
    void OnSoundStopped();
    // A play that fails before its first sample fails its event.
    void OnPlayError(const QString& message);
    // One outcome of the day's timetable: its log line and its record.
    // bellLost: the bell did not sound anywhere (not so for one failed zone of several).
    void Report(PlayOutcome outcome, qint64 at, const QString& time, const QString& event,
                const QString& file, const QString& reason, int lateMs = -1, bool bellLost = true);
    void Record(const PlayRecordRow& row, bool bellLost = true);
    // What the armed event plays now.
    QString FileToPlay() const;
    void SetLabel(const QString& text);
    void UpdateCaption();
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
    LocalDay day_;
    TodayEvents events_;
    ArmedEvent next_;
    int nextIndex_ = 0;        // the row after the armed one
    int groupStart_ = 0;       // the first row sharing the armed second
    QSet<QString> firedToday_; // events (id and start time) fired on the day: never twice
    bool nextDayRead_ = false; // the next day's first bells are read (ReadNextDayHead)
    qint64 clockOffsetMs_ = 0; // wall clock minus steady clock at the last look
    qint64 earlyMs_ = 0;       // the fire in progress sounded this early (a step back)
    qint64 zoneCheckedMs_ = 0;
    qint64 pausedAtMs_ = -1; // when StopSchedule paused the schedule, -1 while it runs
    QString pauseReason_;
    QString nowTime_;
    QVector<ZoneRow> zones_;
    QString defaultSink_;
    ZoneSwitch zoneSwitch_;
    QSet<QString> zoneProblemsSaid_; // zone failures recorded on the day
    SharedSecond shared_;
    int secToNext_ = 0;
    QString labelText_;
    QString captionText_;
    bool manual_ = false;     // the fire in progress is a play by hand
    bool readyToSay_ = false; // the day was read: the end of its file check says "ready"
    QVector<PlayRecordRow> notRung_;
    TodayFiles files_;
    FireReport fire_; // the line and record of the last fire, waiting for its first sample
    EventSound sound_;
};
