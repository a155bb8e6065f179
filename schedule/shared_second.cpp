// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/shared_second.h"

#include "audio/player.h"
#include "schedule/break_music.h"

#include <QDateTime>

SharedSecond::SharedSecond(const Player& main, ZoneSwitch& zoneSwitch,
                           const QVector<ZoneRow>& zones, const QString& defaultSink, FileOf fileOf,
                           QObject* parent)
    : QObject(parent), main_(main), zoneSwitch_(zoneSwitch), zones_(zones),
      defaultSink_(defaultSink), fileOf_(std::move(fileOf)) {}

SharedSecond::~SharedSecond() = default;

QVector<SharedSecond::Side> SharedSecond::Sides(const QVector<EventRow>& group) const {
    QVector<Side> sides;
    if (!ZonesConfigured(zones_) || !makePlayer_) {
        return sides;
    }
    for (int i = 0; i + 1 < group.size(); ++i) {
        QString left = PlayedZoneCode(group[i].zones);
        for (int j = i + 1; j < group.size(); ++j) {
            left = ZonesLeftBy(left, group[j].zones);
        }
        const QString file = fileOf_(group[i]);
        if (left.contains(QLatin1Char('1')) && group[i].musicFile != kBreakMusicFile &&
            !file.isEmpty() && main_.WhyUnplayable(file).isEmpty()) {
            sides.push_back({i, left, file});
        }
    }
    return sides;
}

Player& SharedSecond::SidePlayer(int k) {
    while (int(players_.size()) <= k) {
        players_.push_back(makePlayer_());
        connect(players_.back().get(), &Player::OutputFailed, this, &SharedSecond::OutputFailed);
    }
    return *players_[k];
}

AudioRoute SharedSecond::RouteOf(const Side& side) const {
    return PlanZones(side.zones, zones_, defaultSink_).route;
}

void SharedSecond::Arm(const QVector<Side>& sides, const QDateTime& target) {
    for (int k = 0; k < sides.size(); ++k) {
        Player& side = SidePlayer(k);
        side.PlayAt(sides[k].file, target, RouteOf(sides[k]));
    }
}

void SharedSecond::Fire(const QVector<Side>& sides, const QDateTime& target) {
    QVector<ZoneSwitchCall> switches;
    for (int k = 0; k < sides.size(); ++k) {
        const ZonePlan plan = PlanZones(sides[k].zones, zones_, defaultSink_);
        Player& player = SidePlayer(k);
        if (!player.StartArmed(sides[k].file, target, plan.route)) {
            player.SetFileName(sides[k].file, plan.route);
            player.Play();
        }
        switches += plan.switches;
    }
    switches_ = switches;
    zoneSwitch_.On(switches);
}

void SharedSecond::CancelStart() {
    for (auto& side : players_) {
        side->CancelStart();
    }
}

void SharedSecond::Halt() {
    for (auto& side : players_) {
        side->Halt();
    }
}
