// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/today_events.h"

#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "schedule/break_music.h"
#include "store/conn.h"

namespace {

QDateTime Stamp(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms);
}

// Why the schedule cannot play row; "" when it can.
QString RowProblem(const EventRow& r) {
    if (r.startTime.isNull()) {
        return QStringLiteral("it has no start time");
    }
    if (!IsTimeText(r.startTime)) {
        return QStringLiteral("the start time \"%1\" is not hh:mm:ss").arg(r.startTime);
    }
    if (r.musicFile.isNull()) {
        return QStringLiteral("it has no music file");
    }
    if (r.musicFile == kBreakMusicFile && r.event.isEmpty()) {
        return QStringLiteral("its break-music library has no name");
    }
    return QString();
}

} // namespace

QString ReplaceMusic(const ProgramVars& vars, const QString& name) {
    QString file;
    for (const ReplaceEntry& e : vars.ReplaceMusicArr) {
        if (e.name == name) {
            file = e.file;
        }
    }
    return file;
}

QString FileToPlay(const EventRow& row, const ProgramVars& vars) {
    if (!row.replace.isEmpty() && vars.RainMode) {
        return ReplaceMusic(vars, row.replace);
    }
    return row.musicFile;
}

QString FiredKey(qint64 id, const QString& time) {
    return QString::number(id) + QLatin1Char('@') + time;
}

void TodayEvents::NewDay() {
    logged_.clear();
}

void TodayEvents::LogOnce(const QString& key, qint64 nowMs, const QString& line) {
    if (!logged_.contains(key)) {
        logged_.insert(key);
        PlayLog(Stamp(nowMs), line);
    }
}

bool TodayEvents::Read(const LocalDay& day, qint64 nowMs) {
    QString error;
    const QVector<EventRow> known = readDate_ == day.Date() ? rows_ : QVector<EventRow>();
    const bool wasFailing = failing_;
    failing_ = !ReadDay(day.Date(), nowMs, &error);
    if (failing_) {
        // The day's rows as last read ring on; tried again every few seconds, said once.
        rows_ = known;
        if (!wasFailing) {
            failingSinceMs_ = nowMs;
            PlayLog(Stamp(nowMs),
                    QStringLiteral("error cannot read today's events (trying again%1): %2")
                        .arg(known.isEmpty() ? QString()
                                             : QStringLiteral("; the events read before ring"),
                             error));
        }
    } else {
        readDate_ = day.Date();
    }
    DropBadRows(nowMs);
    ComputeTargets(day, nowMs);
    return !failing_;
}

bool TodayEvents::ReadRule(const QDate& date, DayRule* rule, QString* error) const {
    QVector<SpecialDayRow> special;
    if (!conn_.SpecialDaysOn(date.toString(QStringLiteral("yyyy-MM-dd")), &special, error)) {
        return false;
    }
    *rule = RuleForDate(date, special);
    return true;
}

bool TodayEvents::ReadDay(const QDate& date, qint64 nowMs, QString* error) {
    // A special day runs another weekday's events, or none; any other date its own.
    rule_ = RuleForDate(date, {}); // until the store answers
    if (!ReadRule(date, &rule_, error)) {
        return false;
    }
    LogBadSpecialDays(nowMs);
    if (rule_.special && ruleLoggedDate_ != date) {
        ruleLoggedDate_ = date;
        PlayLog(Stamp(nowMs), DayRuleLogLine(date, rule_));
    }
    rows_.clear();
    return !rule_.bells || conn_.DayEvents(rule_.weekName, &rows_, error);
}

void TodayEvents::LogBadSpecialDays(qint64 nowMs) {
    // A special day the schedule cannot use is ignored: said once a day, since the page
    // lists it and the administrator would otherwise trust it.
    QVector<SpecialDayRow> all;
    if (!conn_.SpecialDays(&all)) {
        return; // the day's own read reports a store that cannot be read
    }
    for (const SpecialDayRow& row : all) {
        if (const QString problem = SpecialDayProblem(row); !problem.isEmpty()) {
            LogOnce(QStringLiteral("special %1").arg(row.id), nowMs,
                    QStringLiteral("skip  special day id %1 \"%2\": %3")
                        .arg(row.id)
                        .arg(row.date, problem));
        }
    }
}

void TodayEvents::DropBadRows(qint64 nowMs) {
    // Said when the day is read, not hours later when the schedule reaches the row.
    rows_.removeIf([&](const EventRow& r) {
        const QString problem = RowProblem(r);
        if (problem.isEmpty()) {
            return false;
        }
        LogOnce(FiredKey(r.id, r.startTime), nowMs,
                QStringLiteral("skip  event id %1 \"%2\": %3").arg(r.id).arg(r.event, problem));
        return true;
    });
    // Null start times sort first in the store; the rest are in time order already.
}

void TodayEvents::ComputeTargets(const LocalDay& day, qint64 nowMs) {
    targets_.resize(rows_.size());
    for (int i = 0; i < rows_.size(); ++i) {
        const int seconds = TimeTextSeconds(rows_[i].startTime);
        targets_[i] = day.InstantOf(seconds);
        if (day.InGap(seconds)) {
            LogOnce(QStringLiteral("gap%1").arg(i), nowMs,
                    QStringLiteral("event %1 \"%2\": the clock skips %1 today (daylight saving); "
                                   "it rings when the clock resumes, at %3")
                        .arg(rows_[i].startTime, rows_[i].event,
                             SecondsToTime(day.SecondsAt(targets_[i]))));
        }
    }
}

bool TodayEvents::ReadNextDayHead(const LocalDay& today, qint64 aheadMs) {
    const LocalDay next(today.Date().addDays(1));
    DayRule rule;
    QVector<EventRow> rows;
    QString error;
    if (!ReadRule(next.Date(), &rule, &error) || !rule.bells ||
        !conn_.DayEvents(rule.weekName, &rows, &error)) {
        return false; // the new day reads its rows itself, and says what fails
    }
    // Only the rows of its first second, and only when that second is within the time a
    // sound is prepared ahead: the rest the new day arms as usual.
    qint64 first = -1;
    bool added = false;
    for (const EventRow& r : rows) {
        if (!RowProblem(r).isEmpty()) {
            continue;
        }
        const qint64 at = next.InstantOf(TimeTextSeconds(r.startTime));
        if (first >= 0 && at != first) {
            break;
        }
        first = at;
        if (at - next.StartMs() >= aheadMs) {
            break;
        }
        rows_.push_back(r);
        targets_.push_back(at);
        added = true;
    }
    return added;
}

bool TodayEvents::Timetable(const QDate& date, QVector<EventRow>* rows, QString* error) const {
    const QString week =
        rule_.bells && !rule_.weekName.isEmpty() ? rule_.weekName : WeekdayName(date);
    return conn_.TodayEvents(week, QString(""), rows, error);
}

bool TodayEvents::DueWithin(const QDateTime& now, int seconds, QVector<EventRow>* rows,
                            QString* error) const {
    DayRule rule;
    if (!ReadRule(now.date(), &rule, error)) {
        return false;
    }
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

QVector<FileToCheck> TodayEvents::FilesToCheck(qint64 nowMs, qint64 dayEndMs) const {
    // What each event would play is gathered here; reading the files happens in the pool.
    QVector<FileToCheck> items;
    for (int i = 0; i < rows_.size() && targets_.value(i) < dayEndMs; ++i) {
        // The next day's rows, read ahead, are that day's to check.
        const EventRow& r = rows_[i];
        if (targets_.value(i) < nowMs) {
            continue; // past: its outcome is in the record
        }
        FileToCheck item{{r.startTime, r.event, FileToPlay(r, vars_), QString()}, {}};
        if (r.musicFile == kBreakMusicFile) {
            QVector<SongRow> songs;
            if (!conn_.LibrarySongs(r.event, &songs)) {
                continue; // the store is busy: the next check sees it
            }
            for (const SongRow& s : songs) {
                item.songs << s.file;
            }
            item.problem.file = r.event;
            if (item.songs.isEmpty()) {
                item.problem.reason = QStringLiteral("break-music library has no songs");
            }
        } else if (item.problem.file.isEmpty()) {
            item.problem.reason =
                (!r.replace.isEmpty() && vars_.RainMode)
                    ? QStringLiteral("rain mode, no replacement named \"%1\"").arg(r.replace)
                    : QStringLiteral("no music file");
        }
        items.push_back(item);
    }
    return items;
}

void TodayEvents::BellHours(QString* first, QString* last) const {
    *first = *last = QString();
    for (const EventRow& r : rows_) {
        if (r.playFlag != kPlayFlag) {
            continue;
        }
        if (first->isNull() || r.startTime < *first) {
            *first = r.startTime;
        }
        if (last->isNull() || r.startTime > *last) {
            *last = r.startTime;
        }
    }
}
