// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// A computer's last heartbeat older than this is late: it is not heard.
constexpr int kHeartbeatLateSeconds = 3 * 60;
// Clocks of one site further apart than this ring its bells audibly apart.
constexpr int kSiteClockSpreadMs = 50;

// One computer as the district view shows it: its latest heartbeat (计算机状态) and what its
// reports (播放报告) say of the chosen day.
struct ComputerStatus {
    QString account; // the computer's login role: one per computer
    QString site;
    QString computer; // host name
    QString version;
    QDateTime heartbeat;        // server time; invalid when none was ever received
    qint64 heartbeatAgeSec = 0; // by the server's clock
    QString nextBell, firstBell, lastBell, outage;
    QStringList problems;
    std::optional<bool> clockSynced;
    std::optional<int> clockOffsetMs; // the computer's clock less the server's
    int fired = 0, skipped = 0, missed = 0, failed = 0;
    // Not heard while its site's bells ring (today), or silent on a day its site rang.
    bool red = false;
    // Why its clock is not to be trusted; empty when it is.
    QString clockFlag;
};

// A bell that did not ring as it should: a failed or missed report.
struct BellFailure {
    QString account, site, computer;
    QString time; // the event's hh:mm:ss
    QString event;
    QString outcome; // as the store names it: "failed", "missed"
    QString reason;
    QString file;
    std::optional<int> lateMs;
};

// Every computer the account may see, for one day.
struct DistrictDay {
    QDate day;
    QDateTime serverNow;               // the server's clock, in the district's time zone
    bool today = false;                // day is the server's today there
    QVector<ComputerStatus> computers; // by site, then computer
    QVector<BellFailure> failures;     // by time; at most kFailuresShown
    bool failuresCut = false;          // there were more
};

inline constexpr int kFailuresShown = 2000;

// Reads the district's state for day from the central timetable on the open Qt SQL connection
// `connection`, in two read-only statements of one snapshot. Row-level security leaves each
// account the computers of its sites. zone: the district's IANA time zone ("Asia/Shanghai"),
// in which the computers' dates and bell times are written; empty for the server's own.
bool ReadDistrictDay(const QString& connection, const QDate& day, const QString& zone,
                     DistrictDay* out, QString* error = nullptr);

// The red computers and clock flags, from what was read (separate for its tests' sake).
void JudgeDistrictDay(DistrictDay* day);
