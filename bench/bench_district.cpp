// SPDX-License-Identifier: GPL-3.0-or-later
// A district's day of reports on one PostgreSQL server: 500 computers (10 a site) each send
// 40 play records and a heartbeat every minute of a 10-hour school day (compressed: sent one
// after another), each computer as its own follower account through the statements a
// following computer uses; earlier days are loaded by the owner (dates in UTC). Prints what
// the server took per second, and the time of the district view's read of one day.
//   build/bench/bench_district [computers] [runs] [minutes] [days]   (500 15 600 60)
#include "central/central.h"
#include "central/district_status.h"
#include "support/pg_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

constexpr int kPerSite = 10, kBells = 40, kThreads = 8;

QString Account(int c) {
    return QStringLiteral("pa_%1").arg(c, 4, 10, QLatin1Char('0'));
}
QString Site(int c) {
    return QStringLiteral("学校%1").arg(c / kPerSite, 3, 10, QLatin1Char('0'));
}
QString Host(int c) {
    return QStringLiteral("pc-%1").arg(c, 4, 10, QLatin1Char('0'));
}
QString BellTime(int b) {
    const int s = 7 * 3600 + 50 * 60 + b * 14 * 60;
    return QStringLiteral("%1:%2:00")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'));
}
// About one bell in 50 fails and one in 100 is missed, as a bad week might have.
PlayOutcome OutcomeOf(int c, int b) {
    const int n = (c * 7 + b * 13) % 100;
    return n < 2 ? PlayOutcome::Failed : n < 3 ? PlayOutcome::Missed : PlayOutcome::Fired;
}

bool Exec(const QString& central, const QString& sql, QString* error) {
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "bench-owner");
        db.setConnectOptions(central);
        QSqlQuery q(db);
        ok = db.open() && q.exec(sql);
        *error = ok ? QString() : q.lastError().text() + db.lastError().text();
    }
    QSqlDatabase::removeDatabase("bench-owner");
    return ok;
}

// The schema, the sites, one follower account per computer, an editor of one site and the
// administrator; earlier days' reports straight from the owner.
bool MakeDistrict(const PgServer& server, int computers, int days, QString* error) {
    auto owner = CentralStore::Open(server.Central(), error);
    for (int c = 0; owner && c < computers; c += kPerSite) {
        if (!owner->AddSite(Site(c), error)) {
            return false;
        }
    }
    const QString sql =
        QStringLiteral(
            "DO $$ BEGIN FOR i IN 0..%1 LOOP EXECUTE format('CREATE ROLE pa_%2 LOGIN IN ROLE "
            "belvoran_follower', lpad(i::text, 4, '0')); INSERT INTO 站点权限 VALUES ('pa_' || "
            "lpad(i::text, 4, '0'), '学校' || lpad((i / %3)::text, 3, '0'), false); END LOOP; "
            "CREATE ROLE desk LOGIN IN ROLE belvoran_editor; CREATE ROLE it_admin LOGIN IN ROLE "
            "belvoran_admin; INSERT INTO 站点权限 VALUES ('desk', '学校000', true); "
            "INSERT INTO 播放报告 (账户, 站点, 计算机, 日期, 时间, 事件, 结果) SELECT 'pa_' || "
            "lpad(c::text, 4, '0'), '学校' || lpad((c / %3)::text, 3, '0'), 'pc', (now() AT TIME "
            "ZONE 'UTC')::date - d, to_char(time '07:50' + b * interval '14 minutes', "
            "'HH24:MI:SS'), '铃', 'fired' FROM generate_series(0, %1) c, generate_series(1, %4) d, "
            "generate_series(0, %5) b "
            // as they came: a day's rows together, in the order of its bells
            "ORDER BY d DESC, b, c; END $$")
            .arg(computers - 1)
            .arg("%s")
            .arg(kPerSite)
            .arg(days - 1)
            .arg(kBells - 1);
    return owner && Exec(server.Central(), sql, error) &&
           Exec(server.Central(), QStringLiteral("VACUUM ANALYZE"), error);
}

struct Load {
    std::atomic<int> sent{0};
    std::atomic<int> failed{0};
    std::mutex mutex;
    QString error; // the last failure's

    void Count(bool ok, const QString& why) {
        (ok ? sent : failed)++;
        if (!ok) {
            std::lock_guard lock(mutex);
            error = why;
        }
    }
};

// One computer's day of records, each sent after its bell as the computer does.
void SendReports(CentralStore& store, int c, Load* load) {
    const QString today = QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate);
    QString error;
    for (int b = 0; b < kBells; ++b) {
        PlayRecordRow r{0,
                        today,
                        BellTime(b),
                        QStringLiteral("铃%1").arg(b),
                        QStringLiteral("/srv/bells/铃.wav"),
                        OutcomeOf(c, b),
                        12,
                        QString()};
        if (r.outcome != PlayOutcome::Fired) {
            r.reason = QStringLiteral("does not exist");
        }
        load->Count(store.SendRecords({QueuedRecordRow{0, Site(c), r, {}}}, Host(c), &error),
                    error);
    }
}

// One computer's heartbeats of the school day, one a minute, sent without the minute's wait.
void SendHeartbeats(CentralStore& store, int c, int minutes, Load* load) {
    Heartbeat beat{Host(c), "1.4", "", "07:50:00", BellTime(kBells - 1), "", {}, true};
    QString error;
    for (int m = 0; m < minutes; ++m) {
        beat.nextBell = BellTime(std::min(m / 14, kBells - 1)) + QStringLiteral(" 上课");
        load->Count(store.SendHeartbeat(Site(c), beat, c % 7, &error), error);
    }
}

// Every computer's records (minutes 0) or heartbeats, each computer on a connection of its
// own account, kThreads computers at once; statements a second.
double SendAll(const PgServer& server, int computers, int minutes, Load* load) {
    QElapsedTimer t;
    t.start();
    QVector<QThread*> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads << QThread::create([&, i] {
            for (int c = i; c < computers; c += kThreads) {
                QString error;
                auto store = CentralStore::Open(server.Central(Account(c)), &error);
                if (!store) {
                    load->Count(false, error);
                } else if (minutes == 0) {
                    SendReports(*store, c, load);
                } else {
                    SendHeartbeats(*store, c, minutes, load);
                }
            }
        });
        threads.last()->start();
    }
    for (QThread* thread : threads) {
        thread->wait();
        delete thread;
    }
    return load->sent * 1000.0 / std::max<qint64>(t.elapsed(), 1);
}

// Median and largest time of the district view's read of day as user, in ms.
std::pair<double, double> ReadTimes(const PgServer& server, const QString& user, const QDate& day,
                                    int runs, int* computers) {
    QString error;
    int version = 0;
    QVector<double> ms;
    if (!OpenCentralDatabase(server.Central(user), "bench-view", &version, &error)) {
        std::fprintf(stderr, "cannot open the view: %s\n", qPrintable(error));
        return {};
    }
    for (int i = 0; i < runs; ++i) {
        DistrictDay result;
        QElapsedTimer t;
        t.start();
        if (!ReadDistrictDay("bench-view", day, "UTC", &result, &error)) {
            std::fprintf(stderr, "the view failed: %s\n", qPrintable(error));
        }
        ms << t.nsecsElapsed() / 1e6;
        *computers = result.computers.size();
    }
    QSqlDatabase::database("bench-view", false).close();
    QSqlDatabase::removeDatabase("bench-view");
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.last()};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int computers = args.value(1, "500").toInt(), runs = args.value(2, "15").toInt();
    const int minutes = args.value(3, "600").toInt(), days = args.value(4, "60").toInt();
    PgServer server;
    QString error;
    if (const QString why = server.Start(); !why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    if (!MakeDistrict(server, computers, days, &error)) {
        std::fprintf(stderr, "cannot make the district: %s\n", qPrintable(error));
        return 1;
    }
    Load reports, beats;
    const double reportRate = SendAll(server, computers, 0, &reports);
    const double beatRate = SendAll(server, computers, minutes, &beats);
    if (reports.failed + beats.failed > 0) {
        std::fprintf(stderr, "%d reports and %d heartbeats failed: %s\n", int(reports.failed),
                     int(beats.failed), qPrintable(reports.error + beats.error));
        return 1;
    }
    std::printf("%d computers, %d days kept; %d connections at once\n", computers, days, kThreads);
    std::printf("reports:    %d sent, %.0f a second (each its own transaction)\n",
                int(reports.sent), reportRate);
    std::printf("heartbeats: %d sent, %.0f a second\n", int(beats.sent), beatRate);
    const QDate today = QDateTime::currentDateTimeUtc().date();
    for (const auto& [user, day, what] :
         {std::tuple{QString("it_admin"), today, "administrator, today"},
          std::tuple{QString("it_admin"), today.addDays(-1), "administrator, yesterday"},
          std::tuple{QString("desk"), today, "editor of one site, today"}}) {
        int shown = 0;
        const auto [median, largest] = ReadTimes(server, user, day, runs, &shown);
        std::printf("view, %-26s %4d computers: median %.1f ms, max %.1f ms (%d runs)\n", what,
                    shown, median, largest, runs);
    }
    return 0;
}
