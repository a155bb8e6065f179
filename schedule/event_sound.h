// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>

#include <functional>

#include "schedule/break_music.h"
#include "schedule/shared_second.h"
#include "schedule/zones.h"
#include "store/rows.h"

class FireReport;
class Player;
struct ProgramVars;

// The event armed next: the last row of its second, which plays on the program's player.
struct ArmedEvent {
    qint64 id = 0;
    QString time = QStringLiteral("00:00:00");
    QString event;
    QString music;
    QString replace; // Null reads as no replacement
    QString zones;
    qint64 targetMs = 0;

    QDateTime Target() const { return QDateTime::fromMSecsSinceEpoch(targetMs, Qt::UTC); }
    bool Library() const { return music == kBreakMusicFile; }
};

// When and how an event fires.
struct FireMoment {
    QDate date;     // the day it is recorded on
    qint64 nowMs;   // the tick's instant
    QString when;   // the time of day it is logged at: its own, or now for a play by hand
    bool manual;    // a play by hand: starts now, not at its second
    qint64 earlyMs; // < 0: its start sounded that early, the clock set back meanwhile
};

// The sound of the timetable's next event on the program's player. Two seconds ahead of its
// second its file (or its break-music library's first song) is prepared and its zones'
// relays switched on, so the first sample waits for neither; a second ahead its start is
// armed on the audio clock, with the plays sharing its second. At the second its fire finds
// it started, or starts it, and its line waits for the first sample.
class EventSound {
public:
    using Reporter =
        std::function<void(PlayOutcome outcome, qint64 at, const QString& time,
                           const QString& event, const QString& file, const QString& reason)>;
    // zones and defaultSink are the engine's, read at every call.
    EventSound(Player& player, BreakMusic& breakMusic, ZoneSwitch& zoneSwitch, SharedSecond& shared,
               FireReport& fire, const ProgramVars& vars, const QVector<ZoneRow>& zones,
               const QString& defaultSink, Reporter report,
               std::function<void(const QString&)> zoneProblem);

    // What e plays now: in rain mode its replacement's file.
    QString FileOf(const ArmedEvent& e) const;
    // e is msToGo before its second (at most two seconds), group the rows of that second:
    // its sound is prepared, and within a second its start armed. A start armed earlier
    // that no longer fits is cancelled.
    void Ahead(const ArmedEvent& e, const QVector<EventRow>& group, qint64 msToGo);
    void CancelStart();
    // What was prepared may have changed in the store: prepared again.
    void ForgetPrepared();
    // The player was taken by another play: the next event is prepared afresh.
    void PrepareAgain() { preparedId_ = -1; }
    // A start is armed and not yet fired.
    bool StartArmed() const { return startArmed_; }
    // Whether problems now concern the event id, about to start, rather than what sounds.
    bool Concerns(qint64 id) const { return startArmed_ || preparedId_ == id; }
    // Whether e's armed start has begun to sound before its second.
    bool Begun(const ArmedEvent& e) const;
    // The player stopped: true when it was e's own armed play, over before its second
    // (outputs that take data as fast as it comes); its fire switches its relays off.
    bool EndedBeforeSecond(const ArmedEvent& e);
    // A new event is armed.
    void NewEvent() { endedEarly_ = false; }
    // What was armed is now the fired event's playback.
    void StartTaken() { startArmed_ = false; }
    // The relays switched on ahead for the armed event, not yet fired.
    const QVector<ZoneSwitchCall>& AheadSwitches() const { return aheadSwitches_; }
    // e's second has come (or a hand plays it): its sound starts, its line is written.
    void Fire(const ArmedEvent& e, const FireMoment& m);

private:
    void Prepare(const ArmedEvent& e, const ZonePlan& plan);
    bool ArmStart(const ArmedEvent& e, const AudioRoute& route, const QVector<EventRow>& group);
    void FireBreakMusic(const ArmedEvent& e, const FireMoment& m, const QDateTime& target,
                        const AudioRoute& route, const QString& zonesNote);
    void FireFile(const ArmedEvent& e, const FireMoment& m, const QDateTime& target,
                  const AudioRoute& route, const QString& zonesNote, bool endedBeforeTick);

    Player& player_;
    BreakMusic& breakMusic_;
    ZoneSwitch& zoneSwitch_;
    SharedSecond& shared_;
    FireReport& fire_;
    const ProgramVars& vars_;
    const QVector<ZoneRow>& zones_;
    const QString& defaultSink_;
    Reporter report_;
    std::function<void(const QString&)> zoneProblem_;
    QString preparedFile_; // prepared for the event preparedId_
    qint64 preparedId_ = -1;
    bool startArmed_ = false; // a start armed and not yet fired
    bool endedEarly_ = false; // ... and its play already over before the tick fired it
    QVector<ZoneSwitchCall> aheadSwitches_;
};
