// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// What a computer following a site of the central timetable knows of it: the follower
// reports it, the main window's line says it in words (windows/main/central_line.h).
struct CentralState {
    bool reachable = false; // the last attempt reached the server (false before an answer)
    bool outage = false;    // the server cannot be reached, or refuses, since the last copy
    // When the server answers but refuses (an unknown site, a newer central schema, a
    // certificate that does not verify): its reason, in its own words; else empty.
    QString refusal;
    QDateTime lastCopy;    // when the local copy was last made
    bool mayWrite = false; // this computer's central account could change the timetable
    // This computer's clock less the server's, in milliseconds, as last measured; unknown
    // before a measurement. Bells ring on this computer's clock.
    std::optional<qint64> clockOffsetMs;
};

// Beyond this, a clock differing from the server's is shown and logged.
constexpr qint64 kClockOffsetLimitMs = 500;
