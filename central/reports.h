// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What a following computer says of itself in its row of 计算机状态 (central/report_schema.h),
// as the program's thread last saw it; the follower adds its site and its clock's offset
// against the server, which it measures itself.
struct Heartbeat {
    QString computer; // the host name, for people to read
    QString version;
    QString nextBell;  // "10:00:00 上课"; empty when none is left today
    QString firstBell; // today's first and last bell, "hh:mm:ss"; null when none
    QString lastBell;
    QString outage;                        // the central line's outage text; empty when fine
    QStringList problems;                  // what the main window shows as wrong
    std::optional<bool> clockSynchronised; // unknown when the kernel did not answer

    bool operator==(const Heartbeat&) const = default;
};

// A heartbeat with the computer's host name and the program's version, the rest unknown.
Heartbeat BareHeartbeat();
