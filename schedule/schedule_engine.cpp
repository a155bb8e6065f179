#include "schedule/schedule_engine.h"

#include "audio/player.h"
#include "core/clock.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/time_text.h"

#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {

const QString kFinished = QStringLiteral("播放已结束");
const QString kNoBells = QStringLiteral("今日无铃声");
// How far ahead of its second an event's sound is prepared, and its start armed.
constexpr qint64 kPrepareAheadMs = 2000;
constexpr qint64 kArmAheadMs = 1000;
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
      breakMusic_(vars, conn, player), shutdown_(vars, prompt),
      files_(
          player, clock, [this] { return FilesToCheck(); },
          [this] { return day_.SecondsAt(clock_.NowMs()); }),
      fire_(player, [this](const PlayRecordRow& row) { Record(row); }) {
    mainTimer_.setParent(this); // findable by name from the window that owns the engine
    mainTimer_.setObjectName(QStringLiteral("MainTimer"));
    mainTimer_.setSingleShot(true);
    mainTimer_.setTimerType(Qt::PreciseTimer);
    connect(&mainTimer_, &QTimer::timeout, this, &ScheduleEngine::Tick);
    connect(&player_, &Player::FirstSample, this,
            [this](const QString& file, const QDateTime& when, int lostMs) {
                fire_.OnFirstSample(file, when, lostMs);
            });
    connect(&player_, &Player::Error, this, &ScheduleEngine::OnPlayError);
    connect(&files_, &TodayFiles::Changed, this, &ScheduleEngine::TodayProblemsChanged);
    connect(&player_, &Player::OutputFailed, this, [this](const QString& out, const QString& why) {
        OnZoneProblem(QStringLiteral("output %1 fails: %2").arg(out, why));
    });
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
        for (auto& side : sidePlayers_) {
            side->Halt();
        }
        OnSoundStopped();
    });
}

ScheduleEngine::~ScheduleEngine() = default;

void ScheduleEngine::LoadTodayEvents() {
    const qint64 now = clock_.NowMs();
    clockOffsetMs_ = now - clock_.SteadyMs();
    const bool newDay = !day_.Contains(now);
    if (newDay && pausedAtMs_ >= 0) {
        ReportMissedWhilePaused(now); // what the old day still held
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
        ReportMissedWhilePaused(now);
        pausedAtMs_ = -1;
    }
    ArmFrom(now);
    running_ = true;
    files_.Check();
    Ahead(now);
    ArmTimer();
}

void ScheduleEngine::EnterDay(qint64 now) {
    day_ = LocalDay(QDateTime::fromMSecsSinceEpoch(now).date());
    firedToday_.clear();
    loggedBadRows_.clear();
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
    QString error;
    const QVector<EventRow> known = eventsDate_ == day_.Date() ? todayEvents_ : QVector<EventRow>();
    const bool wasFailing = failedLoad_;
    failedLoad_ = !ReadDay(&error);
    if (failedLoad_) {
        // The day's rows as last read ring on; tried again every few seconds, said once.
        todayEvents_ = known;
        if (!wasFailing) {
            failingSinceMs_ = clock_.NowMs();
            PlayLog(Stamp(clock_.NowMs()),
                    QStringLiteral("error cannot read today's events (trying again%1): %2")
                        .arg(known.isEmpty() ? QString()
                                             : QStringLiteral("; the events read before ring"),
                             error));
        }
    } else {
        eventsDate_ = day_.Date();
    }
    DropBadRows();
    ComputeTargets();
    QString zonesError;
    if (!conn_.Zones(&zones_, &zonesError)) {
        zones_.clear(); // every event to the default output, as with no zones configured
        PlayLog(Stamp(clock_.NowMs()),
                QStringLiteral("error cannot read the play zones: %1").arg(zonesError));
    }
    nextIndex_ = 0;
    armed_ = false;
    nextDayRead_ = false;
    nextTime_ = QStringLiteral("00:00:00");
    // What was prepared may have changed in the store: prepared again, and a start armed
    // for another event or file is replaced at the next Ahead.
    preparedFile_.clear();
    preparedId_ = -1;
    breakMusic_.ForgetPrepared();
}

bool ScheduleEngine::ReadRule(const QDate& date, DayRule* rule, QString* error) {
    QVector<SpecialDayRow> special;
    if (!conn_.SpecialDaysOn(date.toString(QStringLiteral("yyyy-MM-dd")), &special, error)) {
        return false;
    }
    *rule = RuleForDate(date, special);
    return true;
}

bool ScheduleEngine::ReadDay(QString* error) {
    // A special day runs another weekday's events, or none; any other date its own.
    const QDate date = day_.Date();
    dayRule_ = RuleForDate(date, {}); // until the store answers
    if (!ReadRule(date, &dayRule_, error)) {
        return false;
    }
    LogBadSpecialDays();
    if (dayRule_.special && ruleLoggedDate_ != date) {
        ruleLoggedDate_ = date;
        PlayLog(Stamp(clock_.NowMs()), DayRuleLogLine(date, dayRule_));
    }
    todayEvents_.clear();
    return !dayRule_.bells || conn_.DayEvents(dayRule_.weekName, &todayEvents_, error);
}

void ScheduleEngine::LogBadSpecialDays() {
    // A special day the schedule cannot use is ignored: said once a day, since the page
    // lists it and the administrator would otherwise trust it.
    QVector<SpecialDayRow> all;
    if (!conn_.SpecialDays(&all)) {
        return; // the day's own read reports a store that cannot be read
    }
    for (const SpecialDayRow& row : all) {
        const QString problem = SpecialDayProblem(row);
        const QString key = QStringLiteral("special %1").arg(row.id);
        if (!problem.isEmpty() && !loggedBadRows_.contains(key)) {
            loggedBadRows_.insert(key);
            PlayLog(Stamp(clock_.NowMs()), QStringLiteral("skip  special day id %1 \"%2\": %3")
                                               .arg(row.id)
                                               .arg(row.date, problem));
        }
    }
}

void ScheduleEngine::DropBadRows() {
    // Said when the day is read, not hours later when the schedule reaches the row.
    todayEvents_.removeIf([this](const EventRow& r) {
        QString problem;
        if (r.startTime.isNull()) {
            problem = QStringLiteral("it has no start time");
        } else if (!IsTimeText(r.startTime)) {
            problem = QStringLiteral("the start time \"%1\" is not hh:mm:ss").arg(r.startTime);
        } else if (r.musicFile.isNull()) {
            problem = QStringLiteral("it has no music file");
        } else if (r.musicFile == kBreakMusicFile && r.event.isEmpty()) {
            problem = QStringLiteral("its break-music library has no name");
        }
        if (problem.isEmpty()) {
            return false;
        }
        const QString key = FiredKey(r.id, r.startTime);
        if (!loggedBadRows_.contains(key)) {
            loggedBadRows_.insert(key);
            PlayLog(Stamp(clock_.NowMs()),
                    QStringLiteral("skip  event id %1 \"%2\": %3").arg(r.id).arg(r.event, problem));
        }
        return true;
    });
    // Null start times sort first in the store; the rest are in time order already.
}

void ScheduleEngine::ComputeTargets() {
    targets_.resize(todayEvents_.size());
    for (int i = 0; i < todayEvents_.size(); ++i) {
        const int seconds = TimeTextSeconds(todayEvents_[i].startTime);
        targets_[i] = day_.InstantOf(seconds);
        if (day_.InGap(seconds) && !loggedBadRows_.contains(QStringLiteral("gap%1").arg(i))) {
            loggedBadRows_.insert(QStringLiteral("gap%1").arg(i));
            PlayLog(Stamp(clock_.NowMs()),
                    QStringLiteral("event %1 \"%2\": the clock skips %1 today (daylight saving); "
                                   "it rings when the clock resumes, at %3")
                        .arg(todayEvents_[i].startTime, todayEvents_[i].event,
                             SecondsToTime(day_.SecondsAt(targets_[i]))));
        }
    }
}

void ScheduleEngine::ArmFrom(qint64 now) {
    nextIndex_ = 0;
    while (nextIndex_ < targets_.size() && targets_[nextIndex_] <= now) {
        ++nextIndex_; // only events strictly later than now
    }
    ArmNextEvent();
}

void ScheduleEngine::ArmNextEvent() {
    armed_ = false;
    armedEnded_ = false;
    if (nextIndex_ >= todayEvents_.size()) {
        nextTime_ = QStringLiteral("00:00:00");
        return;
    }
    // Rows due at one second all belong to it: the last row takes the player, at the
    // second, and the others are logged as replaced by it.
    groupStart_ = nextIndex_;
    nextTargetMs_ = targets_[nextIndex_];
    while (nextIndex_ + 1 < targets_.size() && targets_[nextIndex_ + 1] == nextTargetMs_) {
        ++nextIndex_;
    }
    const EventRow& r = todayEvents_[nextIndex_++];
    nextId_ = r.id;
    nextTime_ = r.startTime;
    nextEvent_ = r.event;
    nextMusic_ = r.musicFile;
    nextReplace_ = r.replace; // Null reads as no replacement
    nextZones_ = r.zones;
    armed_ = true;
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
    const QDate date = day_.Date();
    // What the old offsets had already brought to its second was handled then.
    QSet<QString> handled;
    for (int i = 0; i < todayEvents_.size() && targets_[i] <= now; ++i) {
        handled.insert(FiredKey(todayEvents_[i].id, todayEvents_[i].startTime));
    }
    day_ = LocalDay(date);
    PlayLog(Stamp(now), QStringLiteral("the time zone changed: today's events are read again"));
    LoadEvents();
    ArmFrom(now);
    // The bells the new offset has put behind the clock did not ring.
    for (int i = 0; i < todayEvents_.size() && targets_[i] <= now; ++i) {
        const EventRow& r = todayEvents_[i];
        if (!handled.contains(FiredKey(r.id, r.startTime))) {
            Report(PlayOutcome::Missed, now, r.startTime, r.event, FileToPlay(r),
                   QStringLiteral("the time zone changed"));
        }
    }
}

void ScheduleEngine::ReportMissedWhilePaused(qint64 now) {
    const QString reason =
        pauseReason_.isEmpty() ? QStringLiteral("the schedule was paused") : pauseReason_;
    for (int i = 0; i < todayEvents_.size(); ++i) {
        const EventRow& r = todayEvents_[i];
        if (targets_[i] > pausedAtMs_ && targets_[i] <= now &&
            !firedToday_.contains(FiredKey(r.id, r.startTime))) {
            Report(PlayOutcome::Missed, now, r.startTime, r.event, FileToPlay(r), reason);
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
    if (armed_ && startArmed_ && now < nextTargetMs_) {
        const QString file = nextMusic_ == kBreakMusicFile
                                 ? breakMusic_.PreparedFirstSong(nextEvent_)
                                 : FileToPlay();
        if (!file.isEmpty() && player_.StartBegun(file, Target())) {
            earlyMs_ = step;
            FireArmed(now);
            earlyMs_ = 0;
        }
    }
    // Bells the clock passed over while it was wrong come again; those that rang do not.
    ArmFrom(now);
    while (armed_ && firedToday_.contains(FiredKey(nextId_, nextTime_))) {
        ArmNextEvent();
    }
}

void ScheduleEngine::ReadNextDayHead() {
    nextDayRead_ = true;
    const LocalDay next(day_.Date().addDays(1));
    DayRule rule;
    QVector<EventRow> rows;
    QString error;
    if (!ReadRule(next.Date(), &rule, &error) || !rule.bells ||
        !conn_.DayEvents(rule.weekName, &rows, &error)) {
        return; // the new day reads its rows itself, and says what fails
    }
    // Only the rows of its first second, and only when that second is within the time a
    // sound is prepared ahead: the rest the new day arms as usual.
    qint64 first = -1;
    for (const EventRow& r : rows) {
        if (!IsTimeText(r.startTime) || r.musicFile.isNull() ||
            (r.musicFile == kBreakMusicFile && r.event.isEmpty())) {
            continue;
        }
        const qint64 at = next.InstantOf(TimeTextSeconds(r.startTime));
        if (first < 0 || at == first) {
            first = at;
        } else {
            break;
        }
        if (at - next.StartMs() >= kPrepareAheadMs) {
            return;
        }
        todayEvents_.push_back(r);
        targets_.push_back(at);
    }
    if (nextIndex_ < todayEvents_.size()) {
        ArmNextEvent();
    }
}

void ScheduleEngine::FinishOldDay(qint64 now) {
    if (armed_ && nextTargetMs_ >= day_.EndMs()) {
        armed_ = false; // the new day's first bell, armed ahead: the new day fires it
        return;
    }
    if (armed_ && (now - nextTargetMs_) / 1000 <= kLateGraceSeconds) {
        FireArmed(now);
    }
    // Whatever else the old day still held is past for good.
    while (armed_) {
        MissArmed(QStringLiteral("the day ended"));
    }
}

void ScheduleEngine::MissArmed(const QString& reason) {
    for (int i = groupStart_; i < nextIndex_; ++i) {
        const EventRow& r = todayEvents_[i];
        Report(PlayOutcome::Missed, clock_.NowMs(), r.startTime, r.event, FileToPlay(r), reason);
    }
    ArmNextEvent();
}

void ScheduleEngine::FireArmed(qint64 now) {
    FireSharedSecond(now);
    const QString key = FiredKey(nextId_, nextTime_);
    if (firedToday_.contains(key)) {
        // The clock was set back: what already rang today does not ring again.
        Report(PlayOutcome::Skipped, now, nextTime_, nextEvent_, FileToPlay(),
               QStringLiteral("already played today"));
    } else {
        firedToday_.insert(key);
        Fire();
    }
    startArmed_ = false; // what was armed is now this event's playback
    ArmNextEvent();
}

void ScheduleEngine::StopSchedule(const QString& why) {
    if (running_) {
        pausedAtMs_ = clock_.NowMs();
        pauseReason_ = why;
    }
    running_ = false;
    CancelArmedStart();
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
        files_.Check();
        PlayLog(Stamp(now), QStringLiteral("new day %1 (%2): %3 events")
                                .arg(day_.Date().toString(Qt::ISODate), vars_.CurWeekName)
                                .arg(todayEvents_.size()));
    } else {
        CheckZone(now);
    }
    CheckClockStep(now);
    const int nowSeconds = day_.SecondsAt(now);
    nowTime_ = SecondsToTime(nowSeconds);
    if (failedLoad_ && nowSeconds % 5 == 0) {
        LoadEvents();
        ArmFrom(now - 1000); // what fell due this second still plays
        if (!failedLoad_) {
            PlayLog(Stamp(now), QStringLiteral("today's events read: %1").arg(todayEvents_.size()));
            // Bells due while nothing could be read did not ring: said now they are known.
            for (int i = 0; i < todayEvents_.size() && targets_[i] <= now - 1000; ++i) {
                const EventRow& r = todayEvents_[i];
                if (targets_[i] > failingSinceMs_ &&
                    !firedToday_.contains(FiredKey(r.id, r.startTime))) {
                    Report(PlayOutcome::Missed, now, r.startTime, r.event, FileToPlay(r),
                           QStringLiteral("the database could not be read"));
                }
            }
            files_.Check();
        }
    }
    files_.CheckAgainIfDue(now); // a file put back is noticed within minutes

    if (!armed_ && !nextDayRead_ && now >= day_.EndMs() - kPrepareAheadMs - 1000) {
        ReadNextDayHead();
    }
    // Events long overdue are not played late, one after another.
    while (armed_ && (now - nextTargetMs_) / 1000 > kLateGraceSeconds) {
        MissArmed(QStringLiteral("the clock reached %1").arg(nowTime_));
    }

    if (armed_) {
        secToNext_ = int(nextTargetMs_ / 1000 - (now >= 0 ? now / 1000 : (now - 999) / 1000));
        SetLabel(vars_.ShowClock ? nowTime_ : SecondsToTime(secToNext_));
        if (now >= nextTargetMs_) {
            FireArmed(now);
            if (!armed_) {
                SetLabel(kFinished);
            }
        }
    } else {
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
}

qint64 ScheduleEngine::NextWakeMs() const {
    qint64 wake = day_.EndMs();
    if (!armed_ && !nextDayRead_) {
        wake -= kPrepareAheadMs + 1000; // a bell at midnight is prepared as any other
    }
    if (armed_) {
        wake = qMin(wake, nextTargetMs_ - kPrepareAheadMs);
    }
    if (fire_.Waiting()) {
        wake = qMin(wake, fire_.Target().toMSecsSinceEpoch() + 5001);
    }
    return wake;
}

QString ScheduleEngine::FileToPlay() const {
    EventRow armed;
    armed.musicFile = nextMusic_;
    armed.replace = nextReplace_;
    return FileToPlay(armed);
}

QString ScheduleEngine::FileToPlay(const EventRow& row) const {
    if (!row.replace.isEmpty() && vars_.RainMode) {
        return GetReplaceMusic(row.replace);
    }
    return row.musicFile;
}

QDateTime ScheduleEngine::Target() const {
    return QDateTime::fromMSecsSinceEpoch(nextTargetMs_, Qt::UTC);
}

void ScheduleEngine::Ahead(qint64 now) {
    if (!running_ || !armed_ || firedToday_.contains(FiredKey(nextId_, nextTime_))) {
        CancelArmedStart();
        return;
    }
    const qint64 ms = nextTargetMs_ - now;
    if (ms <= 0) {
        return; // due: the tick fires it
    }
    if (ms > kPrepareAheadMs) {
        CancelArmedStart();
        return;
    }
    const ZonePlan plan = PlanZones(nextZones_, zones_, defaultSink_);
    if (plan.nowhere) {
        CancelArmedStart(); // the tick of the second says why nothing plays
        return;
    }
    const bool library = nextMusic_ == kBreakMusicFile;
    // Every event is prepared, also when the event before played the same file: that
    // playback used its prepared pipeline up.
    if (preparedId_ != nextId_ || (!library && preparedFile_ != FileToPlay())) {
        preparedId_ = nextId_;
        preparedFile_.clear();
        for (const QString& problem : ZoneProblems(nextZones_, zones_)) {
            OnZoneProblem(problem); // against this event, once
        }
        // Relays switch ahead: the first sample does not wait for them.
        aheadSwitches_ = plan.switches;
        zoneSwitch_.On(plan.switches);
        if (library) {
            breakMusic_.PrepareBreakMusic(nextEvent_, plan.route);
        } else if (!FileToPlay().isEmpty()) {
            preparedFile_ = FileToPlay();
            player_.Prepare(preparedFile_, plan.route);
        }
    }
    if (ms > kArmAheadMs) {
        CancelArmedStart();
        return;
    }
    const QDateTime target = Target();
    if (library) {
        breakMusic_.ArmBreakMusic(nextEvent_, target, plan.route);
    } else {
        const QString file = FileToPlay();
        if (file.isEmpty() || !player_.WhyUnplayable(file).isEmpty()) {
            CancelArmedStart(); // the tick of the second says why nothing plays
            return;
        }
        if (!player_.StartArmed(file, target, plan.route)) {
            breakMusic_.End(); // its song plays on until the second, and no song after it
        }
        player_.PlayAt(file, target, plan.route);
    }
    ArmSidePlays(target);
    startArmed_ = true;
}

void ScheduleEngine::CancelArmedStart() {
    if (startArmed_) {
        startArmed_ = false;
        player_.CancelStart();
        for (auto& side : sidePlayers_) {
            side->CancelStart();
        }
    }
}

bool ScheduleEngine::UseZones(const QString& code, ZonePlan* plan) {
    ZonePlan p = PlanZones(code, zones_, defaultSink_);
    const bool somewhere = !p.nowhere;
    if (plan) {
        *plan = std::move(p);
    }
    return somewhere;
}

QVector<ScheduleEngine::SidePlay> ScheduleEngine::SidePlays() const {
    QVector<SidePlay> sides;
    if (!ZonesConfigured(zones_) || !makePlayer_) {
        return sides;
    }
    for (int i = groupStart_; i < nextIndex_ - 1; ++i) {
        const EventRow& r = todayEvents_[i];
        QString left = PlayedZoneCode(r.zones);
        for (int j = i + 1; j < nextIndex_; ++j) {
            left = ZonesLeftBy(left, todayEvents_[j].zones);
        }
        const QString file = FileToPlay(r);
        if (left.contains(QLatin1Char('1')) && r.musicFile != kBreakMusicFile && !file.isEmpty() &&
            player_.WhyUnplayable(file).isEmpty()) {
            sides.push_back({i, left, file});
        }
    }
    return sides;
}

Player& ScheduleEngine::SidePlayer(int k) {
    while (int(sidePlayers_.size()) <= k) {
        sidePlayers_.push_back(makePlayer_());
        connect(sidePlayers_.back().get(), &Player::OutputFailed, this,
                [this](const QString& out, const QString& why) {
                    OnZoneProblem(QStringLiteral("output %1 fails: %2").arg(out, why));
                });
    }
    return *sidePlayers_[k];
}

void ScheduleEngine::ArmSidePlays(const QDateTime& target) {
    const QVector<SidePlay> sides = SidePlays();
    for (int k = 0; k < sides.size(); ++k) {
        Player& side = SidePlayer(k);
        side.PlayAt(sides[k].file, target, PlanZones(sides[k].zones, zones_, defaultSink_).route);
    }
}

void ScheduleEngine::FireSharedSecond(qint64 now) {
    const QVector<SidePlay> sides = SidePlays();
    QVector<ZoneSwitchCall> switches;
    for (int i = groupStart_, k = 0; i < nextIndex_ - 1; ++i) {
        const EventRow& r = todayEvents_[i];
        firedToday_.insert(FiredKey(r.id, r.startTime));
        if (k >= sides.size() || sides[k].row != i) {
            Report(PlayOutcome::Skipped, now, r.startTime, r.event, FileToPlay(r),
                   QStringLiteral("replaced by \"%1\" at the same second").arg(nextEvent_));
            continue;
        }
        const SidePlay& side = sides[k];
        const ZonePlan plan = PlanZones(side.zones, zones_, defaultSink_);
        Player& player = SidePlayer(k++);
        if (!player.StartArmed(side.file, Target(), plan.route)) {
            player.SetFileName(side.file, plan.route);
            player.Play();
        }
        switches += plan.switches;
        if (side.zones != PlayedZoneCode(r.zones)) {
            PlayLog(Stamp(now), QStringLiteral("zones %1 \"%2\" takes the zones it shares with "
                                               "\"%3\", which plays on %4")
                                    .arg(r.startTime, nextEvent_, r.event, side.zones));
        }
        Report(PlayOutcome::Fired, now, r.startTime, r.event, side.file,
               QStringLiteral("zones %1").arg(side.zones));
    }
    sideSwitches_ = switches;
    zoneSwitch_.On(switches);
}

void ScheduleEngine::OnZoneProblem(const QString& text) {
    // Said against the event it concerns: the one about to start, or the one that sounds.
    const bool ahead = armed_ && (startArmed_ || preparedId_ == nextId_);
    // Said once per event: break music meets a dead output at every song.
    const QString key =
        (ahead ? nextTime_ + nextEvent_ : fire_.Record().time + fire_.Record().event) + text;
    if (zoneProblemsSaid_.contains(key)) {
        return;
    }
    zoneProblemsSaid_.insert(key);
    const PlayRecordRow& fired = fire_.Record();
    Report(PlayOutcome::Failed, clock_.NowMs(), ahead ? nextTime_ : fired.time,
           ahead ? nextEvent_ : fired.event, ahead ? FileToPlay() : fired.file, text, -1,
           false); // the other zones sounded: the zone line says it
    emit ZoneProblem(text);
}

void ScheduleEngine::OnSoundStopped() {
    if (armed_ && startArmed_ && player_.StartBegun(FileToPlay(), Target())) {
        // The armed event's own play is over before the tick of its second (outputs that
        // take data as fast as it comes): its fire switches its relays off.
        armedEnded_ = true;
        return;
    }
    if (!breakMusic_.BreakPlaying()) {
        zoneSwitch_.OffExcept(aheadSwitches_ + sideSwitches_);
    }
}

void ScheduleEngine::Report(PlayOutcome outcome, qint64 at, const QString& time,
                            const QString& event, const QString& file, const QString& reason,
                            int lateMs, bool bellLost) {
    QString line;
    switch (outcome) {
    case PlayOutcome::Fired:
        line = QStringLiteral("fire  %1 \"%2\": %3").arg(time, event, file);
        break;
    case PlayOutcome::Skipped:
        line = QStringLiteral("skip  %1 \"%2\": %3").arg(time, event, reason);
        break;
    case PlayOutcome::Missed:
        line = QStringLiteral("missed %1 \"%2\": %3").arg(time, event, reason);
        break;
    case PlayOutcome::Failed:
        line = QStringLiteral("error %1 \"%2\": %3 %4").arg(time, event, file, reason);
        break;
    }
    PlayLog(Stamp(at), line);
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
    // A play by hand starts now; a timetable event at its own second.
    const QDateTime target = manual_ ? QDateTime::fromMSecsSinceEpoch(nowMs, Qt::UTC) : Target();
    // A play by hand is logged and recorded at the time it was played, not at the event's
    // own, where its lateness would read as a bell rung late.
    const QString when = manual_ ? SecondsToTime(day_.SecondsAt(nowMs)) : nextTime_;
    const QString byHand =
        manual_ ? QStringLiteral("played now by hand (its time is %1)").arg(nextTime_) : QString();
    fire_.Begin({0, day_.Date().toString(Qt::ISODate), when, nextEvent_, QString(),
                 PlayOutcome::Fired, -1, byHand},
                nowMs - target.toMSecsSinceEpoch(), earlyMs_);
    const bool ended = std::exchange(armedEnded_, false) && !manual_;
    ZonePlan plan;
    const bool somewhere = UseZones(nextZones_, &plan);
    aheadSwitches_.clear();
    zoneSwitch_.OffExcept(plan.switches + sideSwitches_);
    if (!somewhere) {
        Report(PlayOutcome::Skipped, nowMs, when, nextEvent_, FileToPlay(),
               QStringLiteral("no play zone selected"));
        return;
    }
    zoneSwitch_.On(plan.switches);
    const QString zonesNote =
        ZonesConfigured(zones_) ? QStringLiteral(" zones %1").arg(plan.code) : QString();
    if (nextMusic_ == kBreakMusicFile) {
        const QString line =
            QStringLiteral("fire  %1 \"%2\": break music%3").arg(when, nextEvent_, zonesNote);
        const QString first = breakMusic_.PreparedFirstSong(nextEvent_);
        fire_.Record().file = first;
        if (!first.isEmpty()) {
            fire_.Await(line, first, target);
            fire_.Log(false); // before the break's own lines, when its sample has come
        }
        breakMusic_.StartBreakMusic(nextEvent_, plan.route); // every song on the event's zones
        if (!breakMusic_.BreakPlaying()) {
            fire_.Drop();
            Report(PlayOutcome::Failed, nowMs, when, nextEvent_, first,
                   QStringLiteral("break music: no song of the library could be played"));
            zoneSwitch_.OffExcept(sideSwitches_); // nothing sounds on its zones
            return;
        }
        if (first.isEmpty() || breakMusic_.CurrentFile() != first) {
            // Nothing prepared (no tick ahead of the second), or it started another song.
            fire_.Drop();
            fire_.Record().file = breakMusic_.CurrentFile();
            PlayLog(Stamp(nowMs), line);
            Record(fire_.Record());
        }
        fire_.Log(false);
        return;
    }
    const bool rain = !nextReplace_.isEmpty() && vars_.RainMode;
    const QString file = FileToPlay();
    // An ordinary event ends break music before it takes the player.
    breakMusic_.End();
    // Started by the audio clock at the second: the player already has it.
    const bool started = !file.isEmpty() && player_.StartArmed(file, target, plan.route);
    if (!started) {
        player_.SetFileName(file, plan.route);
    }
    if (file.isEmpty()) {
        Report(PlayOutcome::Skipped, nowMs, when, nextEvent_, file,
               rain ? QStringLiteral("rain mode, no replacement named \"%1\"").arg(nextReplace_)
                    : QStringLiteral("no music file"));
        zoneSwitch_.OffExcept(sideSwitches_); // nothing sounds on its zones
        return;
    }
    // One line that says why, instead of a fire line and then the player's error.
    if (const QString problem = started ? QString() : player_.WhyUnplayable(file);
        !problem.isEmpty()) {
        Report(PlayOutcome::Failed, nowMs, when, nextEvent_, file, problem);
        zoneSwitch_.OffExcept(sideSwitches_);
        return;
    }
    fire_.Await(QStringLiteral("fire  %1 \"%2\"%3: %4")
                        .arg(when, nextEvent_,
                             rain ? QStringLiteral(" (rain replacement \"%1\")").arg(nextReplace_)
                                  : QString(),
                             file) +
                    zonesNote,
                file, target);
    // A failure before its first sample is this event's: said once, on its own line.
    player_.QuietErrorsFor(file);
    if (!started) {
        player_.Play();
    }
    fire_.Log(false);
    if (started && ended) {
        zoneSwitch_.OffExcept(sideSwitches_);
    }
}

void ScheduleEngine::OnPlayError(const QString& message) {
    if (fire_.FailedBy(message, breakMusic_.BreakPlaying())) {
        Report(PlayOutcome::Failed, clock_.NowMs(), fire_.Record().time, fire_.Record().event,
               fire_.File(), message, int(fire_.TickLateMs()));
    }
}

QVector<FileToCheck> ScheduleEngine::FilesToCheck() {
    // What each event would play is gathered here; reading the files happens in the pool.
    const qint64 now = clock_.NowMs();
    QVector<FileToCheck> items;
    for (int i = 0; i < todayEvents_.size(); ++i) {
        const EventRow& r = todayEvents_[i];
        if (targets_.value(i) >= day_.EndMs()) {
            break; // the next day's, read ahead: that day checks them
        }
        if (targets_.value(i) < now) {
            continue; // past: its outcome is in the record
        }
        FileToCheck item{{r.startTime, r.event, FileToPlay(r), QString()}, {}};
        if (r.musicFile == kBreakMusicFile) {
            QVector<SongRow> songs;
            if (!conn_.LibrarySongs(r.event, &songs)) {
                continue; // the store is busy: the next check sees it
            }
            for (const SongRow& s : songs) {
                item.songs << s.file;
            }
            item.problem.file = r.event;
            if (item.songs.isEmpty()) {
                item.problem.reason = QStringLiteral("break-music library has no songs");
            }
        } else if (item.problem.file.isEmpty()) {
            item.problem.reason =
                (!r.replace.isEmpty() && vars_.RainMode)
                    ? QStringLiteral("rain mode, no replacement named \"%1\"").arg(r.replace)
                    : QStringLiteral("no music file");
        }
        items.push_back(item);
    }
    return items;
}

QString ScheduleEngine::FiredKey(qint64 id, const QString& time) {
    // A moved event is a new bell; the same event at the same time never rings twice.
    return QString::number(id) + QLatin1Char('@') + time;
}

QString ScheduleEngine::GetReplaceMusic(const QString& name) const {
    QString file;
    for (const ReplaceEntry& e : vars_.ReplaceMusicArr) {
        if (e.name == name) {
            file = e.file;
        }
    }
    return file;
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
    const QString& shown = (text == kFinished && !dayRule_.bells) ? kNoBells : text;
    if (shown != labelText_) {
        labelText_ = shown;
        emit LabelChanged(labelText_);
    }
    UpdateCaption();
}

void ScheduleEngine::UpdateCaption() {
    // The label shows the time, a countdown or "播放已结束": this line says which, of what,
    // and what the quiet means.
    QStringList parts;
    if (vars_.RainMode) {
        parts << QStringLiteral("雨天模式");
    }
    if (!running_) {
        parts << QStringLiteral("已暂停按时播放，回到主窗口后继续");
    } else {
        if (breakMusic_.BreakPlaying()) {
            parts << QStringLiteral("课间音乐播放中");
        }
        if (armed_) {
            parts << (vars_.ShowClock ? QStringLiteral("下一个：%1 %2")
                                      : QStringLiteral("距 %1 %2 还有"))
                         .arg(nextTime_, nextEvent_);
        } else if (dayRule_.bells && todayEvents_.isEmpty() && !failedLoad_) {
            parts << QStringLiteral("今天的时间表中没有铃声");
        }
    }
    const QString caption = parts.join(QStringLiteral(" · "));
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
    const qint64 id = nextId_;
    const QString time = nextTime_, event = nextEvent_, music = nextMusic_, replace = nextReplace_,
                  ownZones = nextZones_;
    const qint64 target = nextTargetMs_;
    const bool armed = armed_;
    nextId_ = row.id;
    nextTime_ = row.startTime;
    nextEvent_ = row.event;
    nextMusic_ = row.musicFile;
    nextReplace_ = row.replace;
    nextZones_ = zones.isNull() ? row.zones : zones;
    CancelArmedStart(); // the hand takes the player; the armed event is armed afresh
    manual_ = true;
    Fire();
    manual_ = false;
    preparedId_ = -1;
    nextId_ = id;
    nextTime_ = time;
    nextEvent_ = event;
    nextMusic_ = music;
    nextReplace_ = replace;
    nextZones_ = ownZones;
    nextTargetMs_ = target;
    armed_ = armed;
    return true;
}

bool ScheduleEngine::TodayTimetable(QVector<EventRow>* rows, QString* error) {
    const QString week = dayRule_.bells && !dayRule_.weekName.isEmpty()
                             ? dayRule_.weekName
                             : WeekdayName(clock_.Now().date());
    return conn_.TodayEvents(week, QString(""), rows, error);
}

bool ScheduleEngine::DueWithin(int seconds, QVector<EventRow>* rows, QString* error) {
    const QDateTime now = clock_.Now();
    DayRule rule;
    if (!ReadRule(now.date(), &rule, error)) {
        return false;
    }
    rows->clear();
    QVector<EventRow> remaining;
    if (!rule.bells || !conn_.TodayEvents(rule.weekName, TimeText(now.time()), &remaining, error)) {
        return !rule.bells;
    }
    const int limit = now.time().msecsSinceStartOfDay() / 1000 + seconds;
    for (const EventRow& r : remaining) {
        if (IsTimeText(r.startTime) && TimeTextSeconds(r.startTime) <= limit) {
            rows->push_back(r);
        }
    }
    return true;
}
