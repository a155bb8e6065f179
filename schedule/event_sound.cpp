// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/event_sound.h"

#include "audio/player.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "schedule/fire_report.h"
#include "schedule/today_events.h"

#include <utility>

namespace {

// How far ahead of its second an event's start is armed on the audio clock.
constexpr qint64 kArmAheadMs = 1000;

} // namespace

EventSound::EventSound(Player& player, BreakMusic& breakMusic, ZoneSwitch& zoneSwitch,
                       SharedSecond& shared, FireReport& fire, const ProgramVars& vars,
                       const QVector<ZoneRow>& zones, const QString& defaultSink, Reporter report,
                       std::function<void(const QString&)> zoneProblem)
    : player_(player), breakMusic_(breakMusic), zoneSwitch_(zoneSwitch), shared_(shared),
      fire_(fire), vars_(vars), zones_(zones), defaultSink_(defaultSink),
      report_(std::move(report)), zoneProblem_(std::move(zoneProblem)) {}

QString EventSound::FileOf(const ArmedEvent& e) const {
    EventRow row;
    row.musicFile = e.music;
    row.replace = e.replace;
    return FileToPlay(row, vars_);
}

void EventSound::Ahead(const ArmedEvent& e, const QVector<EventRow>& group, qint64 msToGo) {
    const ZonePlan plan = PlanZones(e.zones, zones_, defaultSink_);
    if (plan.nowhere) {
        CancelStart(); // the tick of the second says why nothing plays
        return;
    }
    // What is prepared and armed here plays on the event's zones; what plays until its
    // second (break music's next song) keeps to the zones it has.
    Prepare(e, plan);
    if (msToGo > kArmAheadMs || !ArmStart(e, plan.route, group)) {
        CancelStart();
    }
}

void EventSound::Prepare(const ArmedEvent& e, const ZonePlan& plan) {
    // Every event is prepared, also when the event before played the same file: that
    // playback used its prepared pipeline up.
    if (preparedId_ == e.id && (e.Library() || preparedFile_ == FileOf(e))) {
        return;
    }
    preparedId_ = e.id;
    preparedFile_.clear();
    for (const QString& problem : ZoneProblems(e.zones, zones_)) {
        zoneProblem_(problem); // against this event, once
    }
    // Relays switch ahead: the first sample does not wait for them.
    aheadSwitches_ = plan.switches;
    zoneSwitch_.On(plan.switches);
    if (e.Library()) {
        breakMusic_.PrepareBreakMusic(e.event, plan.route);
    } else if (!FileOf(e).isEmpty()) {
        preparedFile_ = FileOf(e);
        player_.Prepare(preparedFile_, plan.route);
    }
}

bool EventSound::ArmStart(const ArmedEvent& e, const AudioRoute& route,
                          const QVector<EventRow>& group) {
    const QDateTime target = e.Target();
    if (e.Library()) {
        breakMusic_.ArmBreakMusic(e.event, target, route);
    } else {
        const QString file = FileOf(e);
        if (file.isEmpty() || !player_.WhyUnplayable(file).isEmpty()) {
            return false; // the tick of the second says why nothing plays
        }
        if (!player_.StartArmed(file, target, route)) {
            breakMusic_.End(); // its song plays on until the second, and no song after it
        }
        player_.PlayAt(file, target, route);
    }
    shared_.Arm(shared_.Sides(group), target);
    startArmed_ = true;
    return true;
}

void EventSound::CancelStart() {
    if (startArmed_) {
        startArmed_ = false;
        player_.CancelStart();
        shared_.CancelStart();
    }
}

void EventSound::ForgetPrepared() {
    preparedFile_.clear();
    preparedId_ = -1;
    breakMusic_.ForgetPrepared();
}

bool EventSound::Begun(const ArmedEvent& e) const {
    const QString file = e.Library() ? breakMusic_.PreparedFirstSong(e.event) : FileOf(e);
    return startArmed_ && !file.isEmpty() && player_.StartBegun(file, e.Target());
}

bool EventSound::EndedBeforeSecond(const ArmedEvent& e) {
    if (startArmed_ && player_.StartBegun(FileOf(e), e.Target())) {
        endedEarly_ = true;
        return true;
    }
    return false;
}

void EventSound::Fire(const ArmedEvent& e, const FireMoment& m) {
    // A play by hand starts now; a timetable event at its own second.
    const QDateTime target =
        m.manual ? QDateTime::fromMSecsSinceEpoch(m.nowMs, Qt::UTC) : e.Target();
    // A play by hand is logged and recorded at the time it was played, not at the event's
    // own, where its lateness would read as a bell rung late.
    const QString byHand =
        m.manual ? QStringLiteral("played now by hand (its time is %1)").arg(e.time) : QString();
    fire_.Begin({0, m.date.toString(Qt::ISODate), m.when, e.event, QString(), PlayOutcome::Fired,
                 -1, byHand},
                m.nowMs - target.toMSecsSinceEpoch(), m.earlyMs);
    const bool ended = std::exchange(endedEarly_, false) && !m.manual;
    const ZonePlan plan = PlanZones(e.zones, zones_, defaultSink_);
    aheadSwitches_.clear();
    zoneSwitch_.OffExcept(plan.switches + shared_.Switches());
    if (plan.nowhere) {
        report_(PlayOutcome::Skipped, m.nowMs, m.when, e.event, FileOf(e),
                QStringLiteral("no play zone selected"));
        return;
    }
    zoneSwitch_.On(plan.switches);
    const QString zonesNote =
        ZonesConfigured(zones_) ? QStringLiteral(" zones %1").arg(plan.code) : QString();
    if (e.Library()) {
        FireBreakMusic(e, m, target, plan.route, zonesNote);
    } else {
        FireFile(e, m, target, plan.route, zonesNote, ended);
    }
}

void EventSound::FireBreakMusic(const ArmedEvent& e, const FireMoment& m, const QDateTime& target,
                                const AudioRoute& route, const QString& zonesNote) {
    const QString line =
        QStringLiteral("fire  %1 \"%2\": break music%3").arg(m.when, e.event, zonesNote);
    const QString first = breakMusic_.PreparedFirstSong(e.event);
    fire_.Record().file = first;
    if (!first.isEmpty()) {
        fire_.Await(line, first, target);
        fire_.Log(false); // before the break's own lines, when its sample has come
    }
    breakMusic_.StartBreakMusic(e.event, route); // every song on the event's zones
    if (!breakMusic_.BreakPlaying()) {
        fire_.Drop();
        report_(PlayOutcome::Failed, m.nowMs, m.when, e.event, first,
                QStringLiteral("break music: no song of the library could be played"));
        zoneSwitch_.OffExcept(shared_.Switches()); // nothing sounds on its zones
        return;
    }
    if (first.isEmpty() || breakMusic_.CurrentFile() != first) {
        // Nothing prepared (no tick ahead of the second), or it started another song.
        fire_.SayNow(line, breakMusic_.CurrentFile(), QDateTime::fromMSecsSinceEpoch(m.nowMs));
    }
    fire_.Log(false);
}

void EventSound::FireFile(const ArmedEvent& e, const FireMoment& m, const QDateTime& target,
                          const AudioRoute& route, const QString& zonesNote, bool endedBeforeTick) {
    const bool rain = !e.replace.isEmpty() && vars_.RainMode;
    const QString file = FileOf(e);
    // An ordinary event ends break music before it takes the player.
    breakMusic_.End();
    // Started by the audio clock at the second: the player already has it.
    const bool started = !file.isEmpty() && player_.StartArmed(file, target, route);
    if (!started) {
        player_.SetFileName(file, route);
    }
    // One line that says why, instead of a fire line and then the player's error.
    const QString problem =
        file.isEmpty()
            ? (rain ? QStringLiteral("rain mode, no replacement named \"%1\"").arg(e.replace)
                    : QStringLiteral("no music file"))
        : started ? QString()
                  : player_.WhyUnplayable(file);
    if (!problem.isEmpty()) {
        report_(file.isEmpty() ? PlayOutcome::Skipped : PlayOutcome::Failed, m.nowMs, m.when,
                e.event, file, problem);
        zoneSwitch_.OffExcept(shared_.Switches()); // nothing sounds on its zones
        return;
    }
    const QString replaced =
        rain ? QStringLiteral(" (rain replacement \"%1\")").arg(e.replace) : QString();
    fire_.Await(QStringLiteral("fire  %1 \"%2\"%3: %4").arg(m.when, e.event, replaced, file) +
                    zonesNote,
                file, target);
    // A failure before its first sample is this event's: said once, on its own line.
    player_.QuietErrorsFor(file);
    if (!started) {
        player_.Play();
    }
    fire_.Log(false);
    if (started && endedBeforeTick) {
        zoneSwitch_.OffExcept(shared_.Switches());
    }
}
