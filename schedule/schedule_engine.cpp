// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/schedule_engine.h"

#include "audio/player.h"
#include "core/clock.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "schedule/clock_caption.h"

#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {

const QString kFinished = QStringLiteral("播放已结束");
const QString kNoBells = QStringLiteral("今日无铃声");
// How far ahead of its second an event's sound is prepared.
constexpr qint64 kPrepareAheadMs = 2000;
// A change of the wall clock against the steady clock by more than this is a step, not drift.
constexpr qint64 kClockStepMs = 1000;

// An instant as the log and the windows show it: local time.
QDateTime Stamp(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms);
}

} // namespace

ScheduleEngine::ScheduleEngine(ProgramVars& vars, Conn& conn, Clock& clock, Player& player,
                               ShutdownPrompt* prompt, QObject* parent)
    : QObject(parent), vars_(vars), conn_(conn), clock_(clock), player_(player),
      breakMusic_(vars, conn, player), shutdown_(vars, prompt), events_(conn, vars),
      shared_(player, zoneSwitch_, zones_, defaultSink_,
              [this](const EventRow& row) { return ::FileToPlay(row, vars_); }),
      files_(
          player, clock, [this] { return events_.FilesToCheck(clock_.NowMs(), day_.EndMs()); },
          [this] { return day_.SecondsAt(clock_.NowMs()); }),
      fire_(player, [this](const PlayRecordRow& row) { Record(row); }),
      sound_(
          player, breakMusic_, zoneSwitch_, shared_, fire_, vars, zones_, defaultSink_,
          [this](PlayOutcome outcome, qint64 at, const QString& time, const QString& event,
                 const QString& file,
                 const QString& reason) { Report(outcome, at, time, event, file, reason); },
          [this](const QString& text) { OnZoneProblem(text); }) {
    mainTimer_.setParent(this); // findable by name from the window that owns the engine
    mainTimer_.setObjectName(QStringLiteral("MainTimer"));
    mainTimer_.setSingleShot(true);
    mainTimer_.setTimerType(Qt::PreciseTimer);
    connect(&mainTimer_, &QTimer::timeout, this, &ScheduleEngine::Tick);
    connect(&player_, &Player::FirstSample, this,
            [this](const QString& file, qint64 wallUs, int lostMs) {
                fire_.OnFirstSample(file, wallUs, lostMs);
            });
    connect(&player_, &Player::Error, this, &ScheduleEngine::OnPlayError);
    connect(&files_, &TodayFiles::Changed, this, &ScheduleEngine::TodayProblemsChanged);
    connect(&files_, &TodayFiles::Checked, this, &ScheduleEngine::LogReady);
    const auto outputFailed = [this](const QString& out, const QString& why) {
        OnZoneProblem(QStringLiteral("output %1 fails: %2").arg(out, why));
    };
    connect(&player_, &Player::OutputFailed, this, outputFailed);
    connect(&shared_, &SharedSecond::OutputFailed, this, outputFailed);
    connect(&zoneSwitch_, &ZoneSwitch::Failed, this, &ScheduleEngine::OnZoneProblem);
    // After break music's own handler: a break goes on with its next song.
    connect(&player_, &Player::PlayStateChange, this, [this](int, int state) {
        if (state == Player::Stopped) {
            OnSoundStopped();
        }
    });
    connect(&player_, &Player::Halted, this, [this] {
        // Whatever halts the player (stop by hand, the settings window, the end) halts the
        // events sharing its second too.
        shared_.Halt();
        OnSoundStopped();
    });
}

ScheduleEngine::~ScheduleEngine() = default;

void ScheduleEngine::LoadTodayEvents() {
    const qint64 now = clock_.NowMs();
    clockOffsetMs_ = now - clock_.SteadyMs();
    const bool newDay = !day_.Contains(now);
    const QString pauseReason =
        pauseReason_.isEmpty() ? QStringLiteral("the schedule was paused") : pauseReason_;
    if (newDay && pausedAtMs_ >= 0) {
        ReportMissedBetween(pausedAtMs_, now, pauseReason, {}); // what the old day still held
    }
    if (newDay) {
        EnterDay(now);
    }
    nowTime_ = SecondsToTime(day_.SecondsAt(now));
    shutdown_.NoteStart(day_.Date(), nowTime_);
    if (pausedAtMs_ >= 0 && day_.Contains(pausedAtMs_)) {
        shutdown_.NoteResume(day_.Date(), SecondsToTime(day_.SecondsAt(pausedAtMs_)), nowTime_);
    }
    LoadEvents();
    if (pausedAtMs_ >= 0) {
        ReportMissedBetween(pausedAtMs_, now, pauseReason, {});
        pausedAtMs_ = -1;
    }
    ArmFrom(now);
    running_ = true;
    readyToSay_ = true;
    files_.Check();
    Ahead(now);
    ArmTimer();
}

void ScheduleEngine::EnterDay(qint64 now) {
    day_ = LocalDay(QDateTime::fromMSecsSinceEpoch(now).date());
    firedToday_.clear();
    events_.NewDay();
    zoneProblemsSaid_.clear();
    files_.NewDay();
    zoneCheckedMs_ = now;
    if (!notRung_.isEmpty()) {
        notRung_.clear();
        emit NotRungChanged();
    }
}

void ScheduleEngine::LoadEvents() {
    // The schedule always follows the weekday of the date it runs on.
    vars_.CurWeekName = WeekdayName(day_.Date());
    // A store that cannot be read now (locked by another program) is tried again from the
    // next ticks on, rather than leaving the day silent.
    events_.Read(day_, clock_.NowMs());
    QString zonesError;
    if (!conn_.Zones(&zones_, &zonesError)) {
        zones_.clear(); // every event to the default output, as with no zones configured
        PlayLog(Stamp(clock_.NowMs()),
                QStringLiteral("error cannot read the play zones: %1").arg(zonesError));
    }
    nextIndex_ = 0;
    armed_ = false;
    nextDayRead_ = false;
    next_.time = QStringLiteral("00:00:00");
    // What was prepared may have changed in the store: prepared again, and a start armed
    // for another event or file is replaced at the next Ahead.
    sound_.ForgetPrepared();
}

void ScheduleEngine::RetryRead(qint64 now) {
    LoadEvents();
    ArmFrom(now - 1000); // what fell due this second still plays
    if (events_.Failing()) {
        return;
    }
    PlayLog(Stamp(now), QStringLiteral("today's events read: %1").arg(events_.Size()));
    // Bells due while nothing could be read did not ring: said now they are known.
    ReportMissedBetween(events_.FailingSinceMs(), now - 1000,
                        QStringLiteral("the database could not be read"), {});
    readyToSay_ = true;
    files_.Check();
}

void ScheduleEngine::ArmFrom(qint64 now) {
    nextIndex_ = 0;
    while (nextIndex_ < events_.Size() && events_.Target(nextIndex_) <= now) {
        ++nextIndex_; // only events strictly later than now
    }
    ArmNextEvent();
}

void ScheduleEngine::ArmNextEvent() {
    armed_ = false;
    sound_.NewEvent();
    if (nextIndex_ >= events_.Size()) {
        next_.time = QStringLiteral("00:00:00");
        return;
    }
    // Rows due at one second all belong to it: the last row takes the player, at the
    // second, and the others play on the zones left to them or are logged as replaced.
    groupStart_ = nextIndex_;
    const qint64 target = events_.Target(nextIndex_);
    while (nextIndex_ + 1 < events_.Size() && events_.Target(nextIndex_ + 1) == target) {
        ++nextIndex_;
    }
    const EventRow& r = events_.Row(nextIndex_++);
    next_ = {r.id, r.startTime, r.event, r.musicFile, r.replace, r.zones, target};
    armed_ = true;
}

QVector<EventRow> ScheduleEngine::ArmedGroup() const {
    QVector<EventRow> group;
    for (int i = groupStart_; i < nextIndex_; ++i) {
        group.push_back(events_.Row(i));
    }
    return group;
}

void ScheduleEngine::CheckZone(qint64 now) {
    if (qAbs(now - zoneCheckedMs_) < 60000) {
        return;
    }
    zoneCheckedMs_ = now;
    if (day_.StillAgreesAt(now)) {
        return;
    }
    // The administrator changed the time zone: the same times of day are other instants.
    // What the old offsets had already brought to its second was handled then.
    QSet<QString> handled;
    for (int i = 0; i < events_.Size() && events_.Target(i) <= now; ++i) {
        handled.insert(FiredKey(events_.Row(i).id, events_.Row(i).startTime));
    }
    day_ = LocalDay(day_.Date());
    PlayLog(Stamp(now), QStringLiteral("the time zone changed: today's events are read again"));
    LoadEvents();
    ArmFrom(now);
    // The bells the new offset has put behind the clock did not ring.
    ReportMissedBetween(day_.StartMs() - 1, now, QStringLiteral("the time zone changed"), handled);
}

void ScheduleEngine::ReportMissedBetween(qint64 fromMs, qint64 toMs, const QString& reason,
                                         const QSet<QString>& handled) {
    for (int i = 0; i < events_.Size() && events_.Target(i) <= toMs; ++i) {
        const EventRow& r = events_.Row(i);
        const QString key = FiredKey(r.id, r.startTime);
        if (events_.Target(i) > fromMs && !firedToday_.contains(key) && !handled.contains(key)) {
            Report(PlayOutcome::Missed, clock_.NowMs(), r.startTime, r.event,
                   ::FileToPlay(r, vars_), reason);
        }
    }
}

void ScheduleEngine::CheckClockStep(qint64 now) {
    const qint64 offset = now - clock_.SteadyMs();
    const qint64 step = offset - clockOffsetMs_;
    clockOffsetMs_ = offset;
    if (std::llabs(step) <= kClockStepMs) {
        return;
    }
    PlayLog(Stamp(now), QStringLiteral("the clock was set %1 by %2 s")
                            .arg(step < 0 ? QStringLiteral("back") : QStringLiteral("forward"))
                            .arg(std::llabs(step) / 1000.0, 0, 'f', 1));
    if (step > 0) {
        return; // what it jumped over is missed, as when the computer slept
    }
    // A start armed for the old instant that had begun before the step was seen sounded at
    // that instant: the bell has rung, early by the step, and does not ring again.
    if (armed_ && now < next_.targetMs && sound_.Begun(next_)) {
        earlyMs_ = step;
        FireArmed(now);
        earlyMs_ = 0;
    }
    // Bells the clock passed over while it was wrong come again; those that rang do not.
    ArmFrom(now);
    while (armed_ && firedToday_.contains(FiredKey(next_.id, next_.time))) {
        ArmNextEvent();
    }
}

void ScheduleEngine::ReadNextDayHead() {
    nextDayRead_ = true;
    if (events_.ReadNextDayHead(day_, kPrepareAheadMs) && nextIndex_ < events_.Size()) {
        ArmNextEvent();
    }
}

void ScheduleEngine::FinishOldDay(qint64 now) {
    if (armed_ && next_.targetMs >= day_.EndMs()) {
        armed_ = false; // the new day's first bell, armed ahead: the new day fires it
        return;
    }
    if (armed_ && (now - next_.targetMs) / 1000 <= kLateGraceSeconds) {
        FireArmed(now);
    }
    // Whatever else the old day still held is past for good.
    while (armed_) {
        MissArmed(QStringLiteral("the day ended"));
    }
}

void ScheduleEngine::MissArmed(const QString& reason) {
    for (const EventRow& r : ArmedGroup()) {
        Report(PlayOutcome::Missed, clock_.NowMs(), r.startTime, r.event, ::FileToPlay(r, vars_),
               reason);
    }
    ArmNextEvent();
}

void ScheduleEngine::FireArmed(qint64 now) {
    FireSharedSecond(now);
    const QString key = FiredKey(next_.id, next_.time);
    if (firedToday_.contains(key)) {
        // The clock was set back: what already rang today does not ring again.
        Report(PlayOutcome::Skipped, now, next_.time, next_.event, FileToPlay(),
               QStringLiteral("already played today"));
    } else {
        firedToday_.insert(key);
        Fire();
    }
    sound_.StartTaken(); // what was armed is now this event's playback
    ArmNextEvent();
}

void ScheduleEngine::StopSchedule(const QString& why) {
    if (running_) {
        pausedAtMs_ = clock_.NowMs();
        pauseReason_ = why;
    }
    running_ = false;
    sound_.CancelStart();
    mainTimer_.stop();
    SetLabel(kFinished);
}

void ScheduleEngine::Tick() {
    if (!running_) {
        return;
    }
    const qint64 now = clock_.NowMs();
    if (!day_.Contains(now)) {
        FinishOldDay(now);
        // A new day: its own weekday's timetable, from midnight on.
        EnterDay(now);
        LoadEvents();
        ArmNextEvent();
        readyToSay_ = true;
        files_.Check();
        PlayLog(Stamp(now), QStringLiteral("new day %1 (%2): %3 events")
                                .arg(day_.Date().toString(Qt::ISODate), vars_.CurWeekName)
                                .arg(events_.Size()));
    } else {
        CheckZone(now);
    }
    CheckClockStep(now);
    const int nowSeconds = day_.SecondsAt(now);
    nowTime_ = SecondsToTime(nowSeconds);
    if (events_.Failing() && nowSeconds % 5 == 0) {
        RetryRead(now);
    }
    files_.CheckAgainIfDue(now); // a file put back is noticed within minutes
    if (!armed_ && !nextDayRead_ && now >= day_.EndMs() - kPrepareAheadMs - 1000) {
        ReadNextDayHead();
    }
    // Events long overdue are not played late, one after another.
    while (armed_ && (now - next_.targetMs) / 1000 > kLateGraceSeconds) {
        MissArmed(QStringLiteral("the clock reached %1").arg(nowTime_));
    }
    if (armed_) {
        secToNext_ = int(next_.targetMs / 1000 - (now >= 0 ? now / 1000 : (now - 999) / 1000));
        SetLabel(vars_.ShowClock ? nowTime_ : SecondsToTime(secToNext_));
        if (now >= next_.targetMs) {
            FireArmed(now);
        }
    }
    if (!armed_) {
        SetLabel(kFinished);
    }
    Ahead(now);
    files_.DropPast(nowSeconds);
    if (fire_.Waiting() && now - fire_.Target().toMSecsSinceEpoch() > 5000) {
        fire_.Log(true);
    }
    shutdown_.Check(day_.Date(), nowTime_);
    if (running_) {
        ArmTimer();
    }
    emit Ticked();
}

qint64 ScheduleEngine::NextWakeMs() const {
    qint64 wake = day_.EndMs();
    if (!armed_ && !nextDayRead_) {
        wake -= kPrepareAheadMs + 1000; // a bell at midnight is prepared as any other
    }
    if (armed_) {
        wake = qMin(wake, next_.targetMs - kPrepareAheadMs);
    }
    if (fire_.Waiting()) {
        wake = qMin(wake, fire_.Target().toMSecsSinceEpoch() + 5001);
    }
    return wake;
}

QString ScheduleEngine::FileToPlay() const {
    return sound_.FileOf(next_);
}

void ScheduleEngine::Ahead(qint64 now) {
    const qint64 ms = next_.targetMs - now;
    if (!running_ || !armed_ || firedToday_.contains(FiredKey(next_.id, next_.time)) ||
        ms > kPrepareAheadMs) {
        sound_.CancelStart();
        return;
    }
    if (ms > 0) { // when due, the tick fires it
        sound_.Ahead(next_, ArmedGroup(), ms);
    }
}

void ScheduleEngine::FireSharedSecond(qint64 now) {
    const QVector<EventRow> group = ArmedGroup();
    const QVector<SharedSecond::Side> sides = shared_.Sides(group);
    shared_.Fire(sides, next_.Target());
    for (int i = 0, k = 0; i + 1 < group.size(); ++i) {
        const EventRow& r = group[i];
        firedToday_.insert(FiredKey(r.id, r.startTime));
        if (k >= sides.size() || sides[k].row != i) {
            Report(PlayOutcome::Skipped, now, r.startTime, r.event, ::FileToPlay(r, vars_),
                   QStringLiteral("replaced by \"%1\" at the same second").arg(next_.event));
            continue;
        }
        const SharedSecond::Side& side = sides[k++];
        if (side.zones != PlayedZoneCode(r.zones)) {
            PlayLog(Stamp(now), QStringLiteral("zones %1 \"%2\" takes the zones it shares with "
                                               "\"%3\", which plays on %4")
                                    .arg(r.startTime, next_.event, r.event, side.zones));
        }
        Report(PlayOutcome::Fired, now, r.startTime, r.event, side.file,
               QStringLiteral("zones %1").arg(side.zones));
    }
}

void ScheduleEngine::OnZoneProblem(const QString& text) {
    // Said against the event it concerns: the one about to start, or the one that sounds.
    const bool ahead = armed_ && sound_.Concerns(next_.id);
    const PlayRecordRow& fired = fire_.Record();
    // Said once per event: break music meets a dead output at every song.
    const QString key = (ahead ? next_.time + next_.event : fired.time + fired.event) + text;
    if (zoneProblemsSaid_.contains(key)) {
        return;
    }
    zoneProblemsSaid_.insert(key);
    Report(PlayOutcome::Failed, clock_.NowMs(), ahead ? next_.time : fired.time,
           ahead ? next_.event : fired.event, ahead ? FileToPlay() : fired.file, text, -1,
           false); // the other zones sounded: the zone line says it
    emit ZoneProblem(text);
}

void ScheduleEngine::LogReady() {
    if (!std::exchange(readyToSay_, false)) {
        return;
    }
    int today = 0;
    while (today < events_.Size() && events_.Target(today) < day_.EndMs()) {
        ++today;
    }
    QString line = !events_.Rule().bells ? QStringLiteral("ready: no bells today")
                                         : QStringLiteral("ready: %1 events today").arg(today);
    line += armed_ ? QStringLiteral(", next %1 \"%2\"").arg(next_.time, next_.event)
                   : QStringLiteral(", none still to come");
    if (const qsizetype bad = files_.Problems().size(); bad > 0) {
        line += QStringLiteral("; %1 cannot be played (see the warnings)").arg(bad);
    }
    PlayLog(clock_.Now(), line);
}

void ScheduleEngine::OnSoundStopped() {
    if (armed_ && sound_.EndedBeforeSecond(next_)) {
        return; // the armed event's own play: its fire switches its relays off
    }
    if (!breakMusic_.BreakPlaying()) {
        zoneSwitch_.OffExcept(sound_.AheadSwitches() + shared_.Switches());
    }
}

void ScheduleEngine::Report(PlayOutcome outcome, qint64 at, const QString& time,
                            const QString& event, const QString& file, const QString& reason,
                            int lateMs, bool bellLost) {
    PlayLog(Stamp(at), OutcomeLine(outcome, time, event, file, reason));
    Record({0, day_.Date().toString(Qt::ISODate), time, event, file, outcome, lateMs, reason},
           bellLost);
}

void ScheduleEngine::Record(const PlayRecordRow& row, bool bellLost) {
    // A bell that was due and did not sound stays on the main window for the day.
    if (bellLost && (row.outcome == PlayOutcome::Missed || row.outcome == PlayOutcome::Failed)) {
        notRung_.push_back(row);
        emit NotRungChanged();
    }
    emit Recorded(row);
}

void ScheduleEngine::Fire() {
    const qint64 nowMs = clock_.NowMs();
    const QString when = manual_ ? SecondsToTime(day_.SecondsAt(nowMs)) : next_.time;
    sound_.Fire(next_, {day_.Date(), nowMs, when, manual_, earlyMs_});
}

void ScheduleEngine::OnPlayError(const QString& message) {
    if (fire_.FailedBy(message, breakMusic_.BreakPlaying())) {
        Report(PlayOutcome::Failed, clock_.NowMs(), fire_.Record().time, fire_.Record().event,
               fire_.File(), message, int(fire_.TickLateMs()));
    }
}

void ScheduleEngine::ToggleShowClock() {
    vars_.ShowClock = !vars_.ShowClock;
    UpdateCaption();
    QString error;
    if (!conn_.SetShowClock(vars_.ShowClock, &error)) {
        PlayLog(QStringLiteral("error cannot store the clock/countdown choice: %1").arg(error));
    }
}

void ScheduleEngine::SetRainMode(bool rain) {
    vars_.RainMode = rain;
    QString error;
    if (!conn_.SetRainMode(rain, &error)) {
        PlayLog(QStringLiteral("error cannot store the rain mode: %1").arg(error));
    }
    PlayLog(rain ? QStringLiteral("rain mode on") : QStringLiteral("normal mode on"));
    UpdateCaption();
    // An event about to start plays the file of the new mode.
    Ahead(clock_.NowMs());
}

void ScheduleEngine::SetLabel(const QString& text) {
    // A day with no bells has nothing to finish: the label says why it is quiet.
    const QString& shown = (text == kFinished && !events_.Rule().bells) ? kNoBells : text;
    if (shown != labelText_) {
        labelText_ = shown;
        emit LabelChanged(labelText_);
    }
    UpdateCaption();
}

void ScheduleEngine::UpdateCaption() {
    const QString caption = ClockCaption(
        {vars_.RainMode, running_, breakMusic_.BreakPlaying(), armed_, vars_.ShowClock,
         events_.Rule().bells && events_.IsEmpty() && !events_.Failing(), next_.time, next_.event});
    if (caption != captionText_) {
        captionText_ = caption;
        emit CaptionChanged(captionText_);
    }
}

void ScheduleEngine::ArmTimer() {
    if (!timerDriven_) {
        return;
    }
    // Wake a few milliseconds after the next wall-clock second, so a due event starts
    // within milliseconds of its second rather than up to a second late.
    const int ms = 1000 - int(clock_.NowMs() % 1000) + 3;
    mainTimer_.start(ms);
}

void ScheduleEngine::StopPlaying() {
    PlayLog(
        clock_.Now(),
        QStringLiteral("stop  playback halted by hand%1")
            .arg(breakMusic_.BreakPlaying() ? QStringLiteral(" (break music ends)") : QString()));
    breakMusic_.End();
    player_.Halt();
}

bool ScheduleEngine::PlayNow(qint64 eventId, QString* error, const QString& zones) {
    EventRow row;
    QString reason;
    if (!conn_.EventById(eventId, &row, &reason)) {
        PlayLog(clock_.Now(),
                QStringLiteral("error manual play of event id %1: %2").arg(eventId).arg(reason));
        return Failed(error, reason);
    }
    PlayLog(clock_.Now(), QStringLiteral("manual event id %1 \"%2\" (%3) played now by hand")
                              .arg(row.id)
                              .arg(row.event, row.startTime));
    // The chosen event takes the armed event's place for the one fire, so it plays exactly
    // as it would at its second; then the armed event is put back as it was.
    const ArmedEvent armedEvent = next_;
    const bool armed = armed_;
    next_ = {row.id,        row.startTime, row.event,
             row.musicFile, row.replace,   zones.isNull() ? row.zones : zones,
             next_.targetMs};
    sound_.CancelStart(); // the hand takes the player; the armed event is armed afresh
    manual_ = true;
    Fire();
    manual_ = false;
    sound_.PrepareAgain();
    next_ = armedEvent;
    armed_ = armed;
    return true;
}

bool ScheduleEngine::TodayTimetable(QVector<EventRow>* rows, QString* error) {
    return events_.Timetable(clock_.Now().date(), rows, error);
}

bool ScheduleEngine::DueWithin(int seconds, QVector<EventRow>* rows, QString* error) {
    return events_.DueWithin(clock_.Now(), seconds, rows, error);
}
