// SPDX-License-Identifier: GPL-3.0-or-later
// The district view's reading of the central timetable: each computer's latest heartbeat and
// its reports of one day, and which computers need someone to look at them.
#include "central/district_status.h"

#include "central/central.h"
#include "core/central_state.h"
#include "store/failed.h"
#include "store/outcome_names.h"
#include "store/transaction.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cstdlib>

namespace {

const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// The heartbeats and the day's counts per computer. The zone goes first; joined from it, the
// result has one row even without computers, which carries the server's clock.
const QString kComputersSql = QStringLiteral(
    "WITH z AS (SELECT coalesce(nullif(?, ''), current_setting('TimeZone')) AS zone), "
    "r AS (SELECT 账户, max(站点) AS 站点, max(计算机) AS 计算机, "
    "count(*) FILTER (WHERE 结果 = ?) AS fired, count(*) FILTER (WHERE 结果 = ?) AS skipped, "
    "count(*) FILTER (WHERE 结果 = ?) AS missed, count(*) FILTER (WHERE 结果 = ?) AS failed "
    "FROM public.播放报告 WHERE 日期 = ? GROUP BY 账户) "
    "SELECT to_char(now() AT TIME ZONE z.zone, 'YYYY-MM-DD HH24:MI:SS'), "
    "coalesce(s.账户, r.账户), coalesce(s.站点, r.站点), coalesce(s.计算机, r.计算机), s.版本, "
    "to_char(s.心跳 AT TIME ZONE z.zone, 'YYYY-MM-DD HH24:MI:SS'), "
    "extract(epoch FROM now() - s.心跳)::bigint, s.下一铃, s.首铃, s.末铃, s.中断, s.问题, "
    "s.时钟同步, s.时钟偏差毫秒, r.fired, r.skipped, r.missed, r.failed "
    "FROM z LEFT JOIN (public.计算机状态 s FULL JOIN r ON r.账户 = s.账户) ON true "
    "ORDER BY 3, 4, 2");

const QString kFailuresSql = QStringLiteral(
    "SELECT 账户, 站点, 计算机, 时间, 事件, 结果, 原因, 文件, 迟到毫秒 FROM public.播放报告 "
    "WHERE 日期 = ? AND 结果 IN (?, ?) ORDER BY 时间, 站点, 计算机, id LIMIT ?");

QString Text(const QSqlQuery& q, int i) {
    return q.value(i).isNull() ? QString() : q.value(i).toString();
}

template <typename T> std::optional<T> Maybe(const QSqlQuery& q, int i) {
    return q.value(i).isNull() ? std::nullopt : std::optional<T>(q.value(i).value<T>());
}

ComputerStatus ComputerAt(const QSqlQuery& q) {
    ComputerStatus c;
    c.account = Text(q, 1);
    c.site = Text(q, 2);
    c.computer = Text(q, 3);
    c.version = Text(q, 4);
    c.heartbeat = QDateTime::fromString(Text(q, 5), kStampFormat);
    c.heartbeatAgeSec = q.value(6).toLongLong();
    c.nextBell = Text(q, 7);
    c.firstBell = Text(q, 8);
    c.lastBell = Text(q, 9);
    c.outage = Text(q, 10);
    c.problems = Text(q, 11).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    c.clockSynced = Maybe<bool>(q, 12);
    c.clockOffsetMs = Maybe<int>(q, 13);
    c.fired = q.value(14).toInt();
    c.skipped = q.value(15).toInt();
    c.missed = q.value(16).toInt();
    c.failed = q.value(17).toInt();
    return c;
}

// Why a statement failed; a server at the step before the reports, in words that say what
// to do.
QString Failure(const QSqlQuery& q, const QString& connection) {
    if (q.lastError().nativeErrorCode() == QLatin1String("42P01")) {
        return QStringLiteral("中心时间表还没有各计算机的报告：请由它的所有者运行 belvoran "
                              "central-schema 升级");
    }
    return CentralFailure(q, connection);
}

bool ReadComputers(QSqlQuery& q, const QString& connection, const QString& zone, DistrictDay* out,
                   QString* error) {
    if (!q.prepare(kComputersSql)) {
        return Failed(error, Failure(q, connection));
    }
    for (const QVariant& v :
         {QVariant(zone), QVariant(OutcomeKey(PlayOutcome::Fired)),
          QVariant(OutcomeKey(PlayOutcome::Skipped)), QVariant(OutcomeKey(PlayOutcome::Missed)),
          QVariant(OutcomeKey(PlayOutcome::Failed)), QVariant(out->day)}) {
        q.addBindValue(v);
    }
    if (!q.exec()) {
        return Failed(error, Failure(q, connection));
    }
    while (q.next()) {
        out->serverNow = QDateTime::fromString(Text(q, 0), kStampFormat);
        if (!q.value(1).isNull()) {
            out->computers << ComputerAt(q);
        }
    }
    out->today = out->serverNow.date() == out->day;
    return true;
}

bool ReadFailures(QSqlQuery& q, const QString& connection, DistrictDay* out, QString* error) {
    if (!q.prepare(kFailuresSql)) {
        return Failed(error, Failure(q, connection));
    }
    q.addBindValue(out->day);
    q.addBindValue(OutcomeKey(PlayOutcome::Failed));
    q.addBindValue(OutcomeKey(PlayOutcome::Missed));
    q.addBindValue(kFailuresShown + 1);
    if (!q.exec()) {
        return Failed(error, Failure(q, connection));
    }
    while (q.next()) {
        if (out->failures.size() == kFailuresShown) {
            out->failuresCut = true;
            break;
        }
        out->failures << BellFailure{Text(q, 0), Text(q, 1), Text(q, 2),
                                     Text(q, 3), Text(q, 4), Text(q, 5),
                                     Text(q, 6), Text(q, 7), Maybe<int>(q, 8)};
    }
    return true;
}

// Today: a computer is red when its last heartbeat is late during its site's bell hours,
// from the first bell to the last (a computer switched off for the night is not). Its own
// heartbeat of today says when they are; one not heard today goes by the rest of its site,
// and a site not heard today by the hours each computer sent last.
void MarkRedToday(DistrictDay* d) {
    QHash<QString, QString> siteFirst, siteLast;
    for (const ComputerStatus& c : d->computers) {
        if (c.heartbeat.date() != d->day || c.firstBell.isEmpty()) {
            continue;
        }
        if (!siteFirst.contains(c.site) || c.firstBell < siteFirst.value(c.site)) {
            siteFirst.insert(c.site, c.firstBell);
        }
        if (c.lastBell > siteLast.value(c.site)) {
            siteLast.insert(c.site, c.lastBell);
        }
    }
    const QString now = d->serverNow.time().toString(QStringLiteral("HH:mm:ss"));
    for (ComputerStatus& c : d->computers) {
        const bool late = !c.heartbeat.isValid() || c.heartbeatAgeSec > kHeartbeatLateSeconds;
        const bool heardToday = c.heartbeat.date() == d->day;
        const QString first = heardToday ? c.firstBell : siteFirst.value(c.site, c.firstBell);
        const QString last = heardToday ? c.lastBell : siteLast.value(c.site, c.lastBell);
        c.red = late && !first.isEmpty() && first <= now && now <= last;
    }
}

// A past day has only its records: a computer is red when its site rang that day and it
// reported nothing.
void MarkRedPast(DistrictDay* d) {
    const auto reported = [](const ComputerStatus& c) {
        return c.fired + c.skipped + c.missed + c.failed > 0;
    };
    QHash<QString, bool> siteRang;
    for (const ComputerStatus& c : d->computers) {
        siteRang[c.site] = siteRang.value(c.site) || reported(c);
    }
    for (ComputerStatus& c : d->computers) {
        c.red = siteRang.value(c.site) && !reported(c);
    }
}

QString OwnClockFlag(const ComputerStatus& c) {
    if (c.clockSynced == false) {
        return QStringLiteral("时钟未同步");
    }
    if (c.clockOffsetMs && std::abs(*c.clockOffsetMs) > kClockOffsetLimitMs) {
        return QStringLiteral("时钟比服务器%1 %2 毫秒")
            .arg(*c.clockOffsetMs > 0 ? QStringLiteral("快") : QStringLiteral("慢"))
            .arg(std::abs(*c.clockOffsetMs));
    }
    return {};
}

// Each computer's own clock, then the spread of the clocks of each site heard today: bells
// of one site more than kSiteClockSpreadMs apart are heard as two.
void FlagClocks(DistrictDay* d) {
    QHash<QString, std::pair<int, int>> spread; // site → lowest, highest offset
    const auto counted = [d](const ComputerStatus& c) {
        return c.clockOffsetMs && c.heartbeat.date() == d->serverNow.date();
    };
    for (ComputerStatus& c : d->computers) {
        c.clockFlag = OwnClockFlag(c);
        if (counted(c)) {
            auto it = spread.find(c.site);
            if (it == spread.end()) {
                spread.insert(c.site, {*c.clockOffsetMs, *c.clockOffsetMs});
            } else {
                *it = {std::min(it->first, *c.clockOffsetMs),
                       std::max(it->second, *c.clockOffsetMs)};
            }
        }
    }
    for (ComputerStatus& c : d->computers) {
        const auto [low, high] = spread.value(c.site);
        if (counted(c) && high - low > kSiteClockSpreadMs) {
            const QString flag = QStringLiteral("同一站点的时钟相差 %1 毫秒").arg(high - low);
            c.clockFlag = c.clockFlag.isEmpty() ? flag : c.clockFlag + QStringLiteral("；") + flag;
        }
    }
}

} // namespace

bool ReadDistrictDay(const QString& connection, const QDate& day, const QString& zone,
                     DistrictDay* out, QString* error) {
    DistrictDay result;
    result.day = day;
    Transaction tx(connection);
    if (!tx.Begin(error)) {
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(connection, false));
    // One snapshot: the counts and the failures list agree.
    if (!q.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"))) {
        return Failed(error, CentralFailure(q, connection));
    }
    if (!ReadComputers(q, connection, zone, &result, error) ||
        !ReadFailures(q, connection, &result, error)) {
        return false;
    }
    q.finish();
    if (!tx.Commit(error)) {
        return false;
    }
    JudgeDistrictDay(&result);
    *out = std::move(result);
    return true;
}

void JudgeDistrictDay(DistrictDay* day) {
    if (day->today) {
        MarkRedToday(day);
    } else if (day->day < day->serverNow.date()) {
        MarkRedPast(day);
    }
    FlagClocks(day);
}
