#include "schedule/schedule_engine.h"

#include "audio/player.h"
#include "core/clock.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/time_text.h"

#include <QFileInfo>

namespace {

const QString kFinished = QStringLiteral("播放已结束");
const QString kNoBells = QStringLiteral("今日无铃声");
// How far ahead of its second an event's sound is prepared, and its start armed.
constexpr qint64 kPrepareAheadMs = 2000;
constexpr qint64 kArmAheadMs = 1000;

} // namespace

ScheduleEngine::ScheduleEngine(ProgramVars& vars, Conn& conn, Clock& clock, Player& player,
                               ShutdownPrompt* prompt, QObject* parent)
    : QObject(parent), vars_(vars), conn_(conn), clock_(clock), player_(player),
      breakMusic_(vars, conn, player), shutdown_(vars, prompt) {
    mainTimer_.setParent(this); // findable by name from the window that owns the engine
    mainTimer_.setObjectName(QStringLiteral("MainTimer"));
    mainTimer_.setSingleShot(true);
    mainTimer_.setTimerType(Qt::PreciseTimer);
    connect(&mainTimer_, &QTimer::timeout, this, &ScheduleEngine::Tick);
    connect(&player_, &Player::FirstSample, this, &ScheduleEngine::OnFirstSample);
}

void ScheduleEngine::LoadTodayEvents() {
    const QDateTime now = clock_.Now();
    nowTime_ = TimeText(now.time());
    if (now.date() != loadedDate_) {
        firedToday_.clear();
        loggedBadRows_.clear();
    }
    loadedDate_ = now.date();
    shutdown_.NoteStart(loadedDate_, nowTime_);
    LoadEvents(nowTime_);
    running_ = true;
    Ahead(now);
    ArmTimer();
}

void ScheduleEngine::LoadEvents(QString after) {
    // The schedule always follows the weekday of the date it runs on.
    vars_.CurWeekName = WeekdayName(loadedDate_);
    // A store that cannot be read now (locked by another program) is tried again from the
    // next ticks on, rather than leaving the day silent.
    failedLoadAfter_.clear();
    QString error;
    if (!ReadDay(after, &error)) {
        todayEvents_.clear();
        failedLoadAfter_ = after;
        PlayLog(clock_.Now(),
                QStringLiteral("error cannot read today's events (trying again): %1").arg(error));
    }
    DropBadRows();
    nextIndex_ = 0;
    armed_ = false;
    nextTime_ = QStringLiteral("00:00:00");
    // What was prepared may have changed in the store: prepared again, and a start armed
    // for another event or file is replaced at the next Ahead.
    preparedFile_.clear();
    preparedId_ = -1;
    breakMusic_.ForgetPrepared();
    ArmNextEvent();
}

bool ScheduleEngine::ReadDay(const QString& after, QString* error) {
    // A special day runs another weekday's events, or none; any other date its own.
    dayRule_ = RuleForDate(loadedDate_, {}); // until the store answers
    QVector<SpecialDayRow> special;
    if (!conn_.SpecialDaysOn(loadedDate_.toString(QStringLiteral("yyyy-MM-dd")), &special, error)) {
        return false;
    }
    dayRule_ = RuleForDate(loadedDate_, special);
    if (dayRule_.special && ruleLoggedDate_ != loadedDate_) {
        ruleLoggedDate_ = loadedDate_;
        PlayLog(clock_.Now(), DayRuleLogLine(loadedDate_, dayRule_));
    }
    todayEvents_.clear();
    return !dayRule_.bells || conn_.TodayEvents(dayRule_.weekName, after, &todayEvents_, error);
}

void ScheduleEngine::DropBadRows() {
    // Said when the day is read, not hours later when the schedule reaches the row.
    todayEvents_.removeIf([this](const EventRow& r) {
        QString problem;
        if (!IsTimeText(r.startTime)) {
            problem = QStringLiteral("the start time \"%1\" is not hh:mm:ss").arg(r.startTime);
        } else if (r.musicFile.isNull()) {
            problem = QStringLiteral("it has no music file");
        } else if (r.musicFile == kBreakMusicFile && r.event.isEmpty()) {
            problem = QStringLiteral("its break-music library has no name");
        }
        if (problem.isEmpty()) {
            return false;
        }
        if (!loggedBadRows_.contains(r.id)) {
            loggedBadRows_.insert(r.id);
            PlayLog(clock_.Now(),
                    QStringLiteral("skip  event id %1 \"%2\": %3").arg(r.id).arg(r.event, problem));
        }
        return true;
    });
}

void ScheduleEngine::ArmNextEvent() {
    armed_ = false;
    if (nextIndex_ < todayEvents_.size()) {
        const EventRow& r = todayEvents_[nextIndex_++];
        nextId_ = r.id;
        nextTime_ = r.startTime;
        nextEvent_ = r.event;
        nextMusic_ = r.musicFile;
        nextReplace_ = r.replace; // Null reads as no replacement
        armed_ = true;
        return;
    }
    nextTime_ = QStringLiteral("00:00:00");
}

void ScheduleEngine::FinishOldDay(const QDateTime& now) {
    if (!armed_) {
        return;
    }
    const int late =
        24 * 3600 - TimeTextSeconds(nextTime_) + now.time().msecsSinceStartOfDay() / 1000;
    if (late <= kLateGraceSeconds) {
        FireArmed(now);
    }
    // Whatever else the old day still held is past for good.
    while (armed_) {
        PlayLog(
            now,
            QStringLiteral("skip  %1 \"%2\": missed (the day ended)").arg(nextTime_, nextEvent_));
        ArmNextEvent();
    }
}

void ScheduleEngine::FireArmed(const QDateTime& now) {
    if (firedToday_.contains(nextId_)) {
        // The clock was set back: what already rang today does not ring again.
        PlayLog(now,
                QStringLiteral("skip  %1 \"%2\": already played today").arg(nextTime_, nextEvent_));
    } else {
        firedToday_.insert(nextId_);
        Fire();
    }
    startArmed_ = false; // what was armed is now this event's playback
    ArmNextEvent();
}

void ScheduleEngine::StopSchedule() {
    running_ = false;
    CancelArmedStart();
    mainTimer_.stop();
    SetLabel(kFinished);
}

void ScheduleEngine::Tick() {
    if (!running_) {
        return;
    }
    const QDateTime now = clock_.Now();
    if (now.date() != loadedDate_) {
        FinishOldDay(now);
        // A new day: its own weekday's timetable, from midnight on.
        loadedDate_ = now.date();
        firedToday_.clear();
        loggedBadRows_.clear();
        LoadEvents(QStringLiteral(""));
        PlayLog(now, QStringLiteral("new day %1 (%2): %3 events")
                         .arg(loadedDate_.toString(Qt::ISODate), vars_.CurWeekName)
                         .arg(todayEvents_.size()));
    }
    nowTime_ = TimeText(now.time());
    if (!failedLoadAfter_.isNull() && now.time().second() % 5 == 0) {
        LoadEvents(failedLoadAfter_);
        if (failedLoadAfter_.isNull()) {
            PlayLog(now, QStringLiteral("today's events read: %1").arg(todayEvents_.size()));
        }
    }

    // Events long overdue are not played late, one after another.
    while (armed_ && TimeTextSeconds(nowTime_) - TimeTextSeconds(nextTime_) > kLateGraceSeconds) {
        PlayLog(now, QStringLiteral("skip  %1 \"%2\": missed (the clock reached %3)")
                         .arg(nextTime_, nextEvent_, nowTime_));
        ArmNextEvent();
    }

    if (armed_) {
        secToNext_ = TimeTextSeconds(nextTime_) - TimeTextSeconds(nowTime_);
        SetLabel(vars_.ShowClock ? nowTime_ : SecondsToTime(secToNext_));
        if (nowTime_ >= nextTime_) {
            FireArmed(now);
            if (!armed_) {
                SetLabel(kFinished);
            }
        }
    } else {
        SetLabel(kFinished);
    }
    Ahead(now);
    if (!fireLine_.isEmpty() && fireTarget_.secsTo(now) > 5) {
        LogFire(true);
    }

    shutdown_.Check(now.date(), nowTime_);
    if (running_) {
        ArmTimer();
    }
}

QString ScheduleEngine::FileToPlay() const {
    if (!nextReplace_.isEmpty() && vars_.RainMode) {
        return GetReplaceMusic(nextReplace_);
    }
    return nextMusic_;
}

QDateTime ScheduleEngine::NextTarget() const {
    return QDateTime(loadedDate_, QTime(0, 0)).addSecs(TimeTextSeconds(nextTime_));
}

void ScheduleEngine::Ahead(const QDateTime& now) {
    if (!running_ || !armed_ || firedToday_.contains(nextId_)) {
        CancelArmedStart();
        return;
    }
    const QDateTime target = NextTarget();
    const qint64 ms = now.msecsTo(target);
    if (ms <= 0) {
        return; // due: the tick fires it
    }
    if (ms > kPrepareAheadMs) {
        CancelArmedStart();
        return;
    }
    const bool library = nextMusic_ == kBreakMusicFile;
    // Every event is prepared, also when the event before played the same file: that
    // playback used its prepared pipeline up.
    if (preparedId_ != nextId_ || (!library && preparedFile_ != FileToPlay())) {
        preparedId_ = nextId_;
        preparedFile_.clear();
        if (library) {
            breakMusic_.PrepareBreakMusic(nextEvent_);
        } else if (!FileToPlay().isEmpty()) {
            preparedFile_ = FileToPlay();
            player_.Prepare(preparedFile_);
        }
    }
    if (ms > kArmAheadMs) {
        CancelArmedStart();
        return;
    }
    if (library) {
        breakMusic_.ArmBreakMusic(nextEvent_, target);
    } else {
        const QString file = FileToPlay();
        if (file.isEmpty() || !player_.WhyUnplayable(file).isEmpty()) {
            CancelArmedStart(); // the tick of the second says why nothing plays
            return;
        }
        if (!player_.StartArmed(file, target)) {
            breakMusic_.End(); // its song plays on until the second, and no song after it
        }
        player_.PlayAt(file, target);
    }
    startArmed_ = true;
}

void ScheduleEngine::CancelArmedStart() {
    if (startArmed_) {
        startArmed_ = false;
        player_.CancelStart();
    }
}

void ScheduleEngine::OnFirstSample(const QString& file, const QDateTime& when) {
    sampleFile_ = file;
    sampleWhen_ = when;
    LogFire(false);
}

void ScheduleEngine::LogFire(bool force) {
    if (fireLine_.isEmpty()) {
        return;
    }
    if (sampleFile_ == fireFile_ && sampleWhen_.isValid() &&
        sampleWhen_ >= fireTarget_.addMSecs(-500)) {
        const qint64 late = fireTarget_.msecsTo(sampleWhen_);
        PlayLog(sampleWhen_, fireLine_ + QStringLiteral(" (first sample at the sink %1%2 ms)")
                                             .arg(late >= 0 ? QStringLiteral("+") : QString())
                                             .arg(late));
    } else if (force) {
        PlayLog(fireTarget_, fireLine_ + QStringLiteral(" (no sample reached the sink)"));
    } else {
        return;
    }
    fireLine_.clear();
}

void ScheduleEngine::Fire() {
    const QDateTime now = clock_.Now();
    // A play by hand starts now; a timetable event at its own second.
    const QDateTime target = manual_ ? now : NextTarget();
    LogFire(true); // the last event's line, if its sample never came
    if (nextMusic_ == kBreakMusicFile) {
        const QString line =
            QStringLiteral("fire  %1 \"%2\": break music").arg(nextTime_, nextEvent_);
        fireFile_ = breakMusic_.PreparedFirstSong(nextEvent_);
        if (fireFile_.isEmpty()) {
            PlayLog(now, line); // nothing prepared: no song, or no tick ahead of the second
        } else {
            fireLine_ = line;
            fireTarget_ = target;
            LogFire(false); // before the break's own lines, when its sample has come
        }
        breakMusic_.StartBreakMusic(nextEvent_);
        if (!fireLine_.isEmpty() &&
            (!breakMusic_.BreakPlaying() || breakMusic_.CurrentFile() != fireFile_)) {
            PlayLog(now, fireLine_); // it started something else, or nothing
            fireLine_.clear();
        }
        LogFire(false);
        return;
    }
    const bool rain = !nextReplace_.isEmpty() && vars_.RainMode;
    const QString file = FileToPlay();
    // An ordinary event ends break music before it takes the player.
    breakMusic_.End();
    // Started by the audio clock at the second: the player already has it.
    const bool started = !file.isEmpty() && player_.StartArmed(file, target);
    if (!started) {
        player_.SetFileName(file);
    }
    if (file.isEmpty()) {
        PlayLog(now,
                rain ? QStringLiteral("skip  %1 \"%2\": rain mode, no replacement named "
                                      "\"%3\"")
                           .arg(nextTime_, nextEvent_, nextReplace_)
                     : QStringLiteral("skip  %1 \"%2\": no music file").arg(nextTime_, nextEvent_));
        return;
    }
    // One line that says why, instead of a fire line and then the player's error.
    if (const QString problem = started ? QString() : player_.WhyUnplayable(file);
        !problem.isEmpty()) {
        PlayLog(now,
                QStringLiteral("error %1 \"%2\": %3 %4").arg(nextTime_, nextEvent_, file, problem));
        return;
    }
    fireLine_ =
        QStringLiteral("fire  %1 \"%2\"%3: %4")
            .arg(nextTime_, nextEvent_,
                 rain ? QStringLiteral(" (rain replacement \"%1\")").arg(nextReplace_) : QString(),
                 file);
    fireFile_ = file;
    fireTarget_ = target;
    if (!started) {
        player_.Play();
    }
    LogFire(false);
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
    // An event about to start plays the file of the new mode.
    Ahead(clock_.Now());
}

void ScheduleEngine::SetLabel(const QString& text) {
    // A day with no bells has nothing to finish: the label says why it is quiet.
    const QString& shown = (text == kFinished && !dayRule_.bells) ? kNoBells : text;
    if (shown != labelText_) {
        labelText_ = shown;
        emit LabelChanged(labelText_);
    }
}

void ScheduleEngine::ArmTimer() {
    if (!timerDriven_) {
        return;
    }
    // Wake a few milliseconds after the next wall-clock second, so a due event starts
    // within milliseconds of its second rather than up to a second late.
    const int ms = 1000 - clock_.Now().time().msec() + 3;
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

bool ScheduleEngine::PlayNow(qint64 eventId, QString* error) {
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
    const QString time = nextTime_, event = nextEvent_, music = nextMusic_, replace = nextReplace_;
    const bool armed = armed_;
    nextId_ = row.id;
    nextTime_ = row.startTime;
    nextEvent_ = row.event;
    nextMusic_ = row.musicFile;
    nextReplace_ = row.replace;
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
    QVector<SpecialDayRow> special;
    if (!conn_.SpecialDaysOn(now.date().toString(QStringLiteral("yyyy-MM-dd")), &special, error)) {
        return false;
    }
    const DayRule rule = RuleForDate(now.date(), special);
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
