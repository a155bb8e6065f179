// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <vector>

#include "schedule/zones.h"
#include "store/rows.h"

class Player;
class QDateTime;

// Rows due at one second on different zones. The last row takes the program's player; each
// earlier row keeps the zones the later rows leave it and plays there, on a player of its
// own, started by the audio clock at the same second.
class SharedSecond : public QObject {
    Q_OBJECT
public:
    using FileOf = std::function<QString(const EventRow&)>;
    // An earlier row that plays: its index in the group, the zones left to it, its file.
    struct Side {
        int row;
        QString zones;
        QString file;
    };

    // zones and defaultSink are the engine's, read at every call; fileOf says what a row
    // plays now (rain mode).
    SharedSecond(const Player& main, ZoneSwitch& zoneSwitch, const QVector<ZoneRow>& zones,
                 const QString& defaultSink, FileOf fileOf, QObject* parent = nullptr);
    ~SharedSecond() override;

    // Without a factory the last row of a second alone plays.
    void SetPlayerFactory(std::function<std::unique_ptr<Player>()> make) {
        makePlayer_ = std::move(make);
    }
    // The earlier rows of group that keep a zone and have a file that can be played.
    QVector<Side> Sides(const QVector<EventRow>& group) const;
    // Arms each side's start for target.
    void Arm(const QVector<Side>& sides, const QDateTime& target);
    // The second has come: each side whose start was not armed starts now, and the sides'
    // relays are switched on.
    void Fire(const QVector<Side>& sides, const QDateTime& target);
    void CancelStart();
    void Halt();
    // The relays switched on for the sides of the last second.
    const QVector<ZoneSwitchCall>& Switches() const { return switches_; }

signals:
    void OutputFailed(const QString& output, const QString& reason);

private:
    Player& SidePlayer(int k);
    AudioRoute RouteOf(const Side& side) const;

    const Player& main_;
    ZoneSwitch& zoneSwitch_;
    const QVector<ZoneRow>& zones_;
    const QString& defaultSink_;
    FileOf fileOf_;
    std::function<std::unique_ptr<Player>()> makePlayer_;
    std::vector<std::unique_ptr<Player>> players_;
    QVector<ZoneSwitchCall> switches_;
};
