// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QSet>
#include <QString>
#include <QVector>

#include "schedule/day_rule.h"
#include "schedule/local_day.h"
#include "schedule/today_files.h"
#include "store/rows.h"

class Conn;
struct ProgramVars;

// The music file of the replacement name; the last matching entry wins; "" for none.
QString ReplaceMusic(const ProgramVars& vars, const QString& name);
// What row plays now: in rain mode its replacement's file when it names one, else its own.
QString FileToPlay(const EventRow& row, const ProgramVars& vars);
// A moved event is a new bell; the same event at the same time never rings twice.
QString FiredKey(qint64 id, const QString& time);

// The day the schedule plays, as read from the store: the rule of the date, the playable
// rows in start-time order and the instant of each. A store that cannot be read keeps the
// rows read before for the same date, so a locked file never silences the day.
class TodayEvents {
public:
    TodayEvents(Conn& conn, const ProgramVars& vars) : conn_(conn), vars_(vars) {}

    // A new date: what was said about the old day's rows is said again.
    void NewDay();
    // Reads the rule and the rows of day. False when the store could not be read: said once
    // until a read succeeds, and the rows read before for that date stay.
    bool Read(const LocalDay& day, qint64 nowMs);
    bool Failing() const { return failing_; }
    // When the reads began to fail.
    qint64 FailingSinceMs() const { return failingSinceMs_; }
    // Appends the next day's rows of its first second when that second is within aheadMs of
    // midnight, so they are prepared and armed as any other. True when any were added.
    bool ReadNextDayHead(const LocalDay& today, qint64 aheadMs);

    const DayRule& Rule() const { return rule_; }
    int Size() const { return rows_.size(); }
    bool IsEmpty() const { return rows_.isEmpty(); }
    const EventRow& Row(int i) const { return rows_[i]; }
    // The first and last start time of the rows that play; both null when none does.
    void BellHours(QString* first, QString* last) const;
    qint64 Target(int i) const { return targets_[i]; }

    // The whole of today's timetable, for the play-now list (on a no-bell day, the date's
    // own weekday's).
    bool Timetable(const QDate& date, QVector<EventRow>* rows, QString* error) const;
    // The events, as the store holds them now, due within seconds after now.
    bool DueWithin(const QDateTime& now, int seconds, QVector<EventRow>* rows,
                   QString* error) const;
    // Today's events from nowMs to dayEndMs, as the file check takes them.
    QVector<FileToCheck> FilesToCheck(qint64 nowMs, qint64 dayEndMs) const;

private:
    bool ReadRule(const QDate& date, DayRule* rule, QString* error) const;
    bool ReadDay(const QDate& date, qint64 nowMs, QString* error);
    void LogBadSpecialDays(qint64 nowMs);
    // Drops the rows the schedule cannot play, logging each once a day.
    void DropBadRows(qint64 nowMs);
    void ComputeTargets(const LocalDay& day, qint64 nowMs);
    // Logs line once a day under key.
    void LogOnce(const QString& key, qint64 nowMs, const QString& line);

    Conn& conn_;
    const ProgramVars& vars_;
    DayRule rule_;
    QVector<EventRow> rows_;
    QVector<qint64> targets_;
    QDate readDate_;       // the date rows_ was last read for
    QSet<QString> logged_; // rows already logged as unplayable on the day
    QDate ruleLoggedDate_; // the special day's log line is written once a day
    bool failing_ = false;
    qint64 failingSinceMs_ = 0;
};
