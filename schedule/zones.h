// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/player.h"
#include "store/rows.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

// One run of a zone switch command: the program and the code of the zones it switches.
struct ZoneSwitchCall {
    QString command;
    QString code;
    bool operator==(const ZoneSwitchCall&) const = default;
};

// What an event's zone code comes to with the zones as configured.
struct ZonePlan {
    QString code;                     // the code as played ("111111" for a damaged one)
    AudioRoute route;                 // empty: the default output alone
    QVector<ZoneSwitchCall> switches; // commands to run around the sound
    bool nowhere = false;             // zones are configured and the code selects none
    QStringList names;                // the zones' names, for the log
};

// A zone code as played: six "0"/"1"; anything else (Null, damaged) counts as all zones.
QString PlayedZoneCode(const QString& code);
// Whether any zone has an output or a command of its own: without one every event plays to
// the default output, as it always did.
bool ZonesConfigured(const QVector<ZoneRow>& zones);
// The outputs and commands of code. Zones on one output are one branch of the play (the
// union of their channels, or the whole output when one of them takes it all); zones of
// one command make one call with their code. defaultSink: the sink of the device the default
// output plays to, when known; zones on the default output then share that device's branch
// with a zone that names it, so it never gets the sound twice.
ZonePlan PlanZones(const QString& code, const QVector<ZoneRow>& zones,
                   const QString& defaultSink = QString());
// What PlanZones has to play around in code's zones, in words for the log: channel settings
// that cannot be used (the zone plays on its whole output), and outputs a site names that
// this computer lacks (the zone plays to the default output).
QStringList ZoneProblems(const QString& code, const QVector<ZoneRow>& zones);
// The zones of earlier that later, at the same second, leaves it: later takes the shared.
QString ZonesLeftBy(const QString& earlier, const QString& later);
// A zone code in the words a person reads: "全部区域" for all zones, "无" for none, else the
// names of its zones joined by "、". names are the zones in code order (missing ones take
// their default names); a damaged code counts as all zones, as it plays.
QString ZoneNamesText(const QString& code, const QStringList& names);
// The zone code of names picked in a list, by their place.
QString ZoneCodeOf(const QVector<bool>& picked);

// Runs the switch commands of the zones that sound: "command code on" before a sound and
// "command code off" after it, each off this thread with a time limit. A command that fails,
// hangs or cannot be started is logged and reported, and never holds up a sound.
class ZoneSwitch : public QObject {
    Q_OBJECT
public:
    explicit ZoneSwitch(QObject* parent = nullptr) : QObject(parent) {}
    // Gives commands still running (an "off" at the program's end) a moment to finish.
    ~ZoneSwitch() override;
    // Switches on what calls holds and is not on yet.
    void On(const QVector<ZoneSwitchCall>& calls);
    // Switches off what is on and calls does not hold (all of it for none).
    void OffExcept(const QVector<ZoneSwitchCall>& calls = {});
    void SetTimeLimitMs(int ms) { limitMs_ = ms; }

signals:
    // A command failed: what ran and why, in the log's words.
    void Failed(const QString& text);

private:
    void Run(const ZoneSwitchCall& call, const QString& how);
    void Fail(const QString& text);

    QVector<ZoneSwitchCall> on_;
    int limitMs_ = 5000;
};
