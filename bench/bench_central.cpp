// SPDX-License-Identifier: GPL-3.0-or-later
// A district on one PostgreSQL server: 50 sites of 40 events on each of the 7 days. Prints
// the time of one computer's full copy of its site, and of one change that touches every
// site to reach all 50 following computers (notification, copy, local write).
//   build/bench/bench_central [rounds]   (default 5)
// One large site of 10,000 events instead: the time of a one-row change to reach its
// follower, the parts of a copy, and the follower's CPU time during a steady stream of
// changes (15 a second, one row each).
//   build/bench/bench_central large [rounds]
#include "central/central.h"
#include "central/follower.h"
#include "central/replica.h"
#include "core/time_text.h"
#include "store/conn.h"
#include "store/transaction.h"
#include "support/pg_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kSites = 50, kEvents = 40;

QString SiteName(int i) {
    return QStringLiteral("学校%1").arg(i, 2, 10, QLatin1Char('0'));
}

bool MakeDistrict(const QString& central, QString* error) {
    auto admin = CentralStore::Open(central, error);
    for (int s = 0; admin && s < kSites; ++s) {
        if (!admin->AddSite(SiteName(s), error)) {
            return false;
        }
        auto site = OpenCentralSite(central, SiteName(s), error);
        if (!site) {
            return false;
        }
        Transaction tx(*site);
        if (!tx.Begin(error)) {
            return false;
        }
        qint64 id = 0;
        for (const QString& week : WeekdayNames()) {
            for (int e = 0; e < kEvents; ++e) {
                const EventRow row{0,
                                   week,
                                   QStringLiteral("铃%1").arg(e),
                                   SecondsToTime(7 * 3600 + e * 900),
                                   "/srv/bells/铃.wav",
                                   "00:00:05",
                                   kPlayFlag,
                                   "",
                                   "111111"};
                if (!site->AddEvent(row, &id, error)) {
                    return false;
                }
            }
        }
        if (!tx.Commit(error)) {
            return false;
        }
    }
    return admin != nullptr;
}

double Median(QVector<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

constexpr int kLargeEvents = 10000;

// One site of kLargeEvents events, written by the owner in one statement.
bool MakeLargeSite(QSqlDatabase& db, QString* error) {
    auto admin = CentralStore::Open(db.connectOptions(), error);
    if (!admin || !admin->AddSite(SiteName(0), error)) {
        return false;
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO 作息表 (站点, 星期名, 事件, 开始时间, 音乐文件, 音乐总长, 是否播放, 替代音乐, "
        "播放区域) SELECT ?, (ARRAY['星期一','星期二','星期三','星期四','星期五','星期六',"
        "'星期日'])[1 + n % 7], '铃' || n, '07:00:00', '/srv/bells/铃.wav', '00:00:05', ?, '', "
        "'111111' FROM generate_series(1, ?) AS n"));
    q.addBindValue(SiteName(0));
    q.addBindValue(kPlayFlag);
    q.addBindValue(kLargeEvents);
    return q.exec() || Failed(error, q.lastError().text());
}

// Runs the event loop for ms without spinning (the CPU time measured is the follower's).
void Idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits for n changed copies counted in copied, for up to a minute.
bool WaitForCopies(const int& copied, int n) {
    QElapsedTimer t;
    t.start();
    while (copied < n && t.elapsed() < 60000) {
        Idle(5);
    }
    return copied >= n;
}

int LargeSite(const PgServer& server, int rounds) {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "bench");
    db.setConnectOptions(server.Central());
    QString error;
    if (!db.open() || !MakeLargeSite(db, &error)) {
        std::fprintf(stderr, "%s%s\n", qPrintable(db.lastError().text()), qPrintable(error));
        return 1;
    }
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/large.db");
    Conn::Open(path, &error);
    // The parts of one copy: the read, the first write, and a write that changes nothing.
    {
        auto central = CentralStore::Open(server.Central(), &error);
        auto local = Conn::Open(dir.path() + QStringLiteral("/parts.db"), &error);
        QVector<double> read, first, same, one;
        for (int r = 0; r < rounds; ++r) {
            SiteCopy copy;
            int changed = 0;
            QElapsedTimer t;
            t.start();
            central->ReadSite(SiteName(0), &copy, &error);
            read << t.nsecsElapsed() / 1e6;
            // The first copy, then one event moved (as the copy after an editor's change
            // holds it), then the same copy again.
            const auto apply = [&](QVector<double>* times) {
                t.restart();
                ApplySiteCopy(*local, copy, QDateTime::currentDateTime(), &changed, &error);
                *times << t.nsecsElapsed() / 1e6;
            };
            if (r == 0) {
                apply(&first);
            }
            copy.rows[0][r][3] = SecondsToTime(9 * 3600 + r);
            apply(&one);
            apply(&same);
        }
        std::printf("one site of %d events: read %.1f ms; write: the first %.1f ms, unchanged "
                    "%.1f ms, one row changed %.1f ms (medians of %d)\n",
                    kLargeEvents, Median(read), Median(first), Median(same), Median(one), rounds);
    }
    CentralFollower follower(server.Central(), SiteName(0), path);
    int copied = 0, pulls = 0;
    QObject::connect(&follower, &CentralFollower::Pulled, [&](bool changed) {
        copied += changed ? 1 : 0;
        ++pulls;
    });
    follower.Start();
    if (!WaitForCopies(copied, 1)) {
        std::fprintf(stderr, "the first copy did not arrive\n");
        return 1;
    }
    QSqlQuery change(db);
    change.prepare(QStringLiteral("UPDATE 作息表 SET 开始时间 = ? WHERE 站点 = ? AND 事件 = ?"));
    auto touch = [&](int i) {
        change.addBindValue(SecondsToTime(8 * 3600 + i % 3600));
        change.addBindValue(SiteName(0));
        change.addBindValue(QStringLiteral("铃%1").arg(1 + i % kLargeEvents));
        change.exec();
    };
    QVector<double> spread;
    for (int r = 0; r < rounds; ++r) {
        const int before = copied;
        QElapsedTimer t;
        t.start();
        touch(r);
        if (!WaitForCopies(copied, before + 1)) {
            std::fprintf(stderr, "round %d: the change did not arrive\n", r);
            return 1;
        }
        spread << t.nsecsElapsed() / 1e6;
        QThread::msleep(300);
    }
    std::printf("one-row change until its follower copied it: median %.1f ms, max %.1f ms (%d "
                "rounds)\n",
                Median(spread), *std::max_element(spread.begin(), spread.end()), rounds);
    // 15 one-row changes a second for 30 s, each its own transaction and notification.
    constexpr int kChanges = 450;
    pulls = 0;
    const double cpu = CpuSeconds();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kChanges; ++i) {
        touch(1000 + i);
        Idle(std::max<int>(0, (i + 1) * 1000 / 15 - t.elapsed()));
    }
    const int before = copied;
    WaitForCopies(copied, before + 1); // the last change's copy
    std::printf("%d one-row changes in %.1f s: %d copies, %.1f s of CPU in this process (the "
                "follower, and the changes sent)\n",
                kChanges, t.elapsed() / 1000.0, pulls, CpuSeconds() - cpu);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool large = argc > 1 && QByteArray(argv[1]) == "large";
    const int roundsArg = large ? 2 : 1;
    const int rounds = argc > roundsArg ? std::max(1, atoi(argv[roundsArg])) : 5;
    if (large) {
        PgServer server;
        if (const QString why = server.Start(); !why.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        return LargeSite(server, rounds);
    }
    PgServer server;
    const QString why = server.Start();
    QString error;
    if (!why.isEmpty() || !MakeDistrict(server.Central(), &error)) {
        std::fprintf(stderr, "%s%s\n", qPrintable(why), qPrintable(error));
        return 1;
    }
    QTemporaryDir dir;

    // One computer's full copy into an empty store: read in one snapshot, written in one
    // transaction.
    QVector<double> pulls;
    auto central = CentralStore::Open(server.Central(), &error);
    for (int r = 0; r < rounds; ++r) {
        auto local = Conn::Open(dir.path() + QStringLiteral("/full%1.db").arg(r), &error);
        QElapsedTimer t;
        t.start();
        SiteCopy copy;
        int changed = 0;
        if (!central->ReadSite(SiteName(r % kSites), &copy, &error) ||
            !ApplySiteCopy(*local, copy, QDateTime::currentDateTime(), &changed, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        pulls << t.nsecsElapsed() / 1e6;
    }

    // 50 following computers, each with its own store, thread and connection.
    std::vector<std::unique_ptr<CentralFollower>> followers;
    int copied = 0;
    for (int s = 0; s < kSites; ++s) {
        const QString path = dir.path() + QStringLiteral("/site%1.db").arg(s);
        Conn::Open(path, &error);
        followers.push_back(std::make_unique<CentralFollower>(server.Central(), SiteName(s), path));
        QObject::connect(followers.back().get(), &CentralFollower::Pulled,
                         [&copied](bool changed) { copied += changed ? 1 : 0; });
        followers.back()->Start();
    }
    auto waitFor = [&](int n) {
        QElapsedTimer t;
        t.start();
        while (copied < n && t.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        return copied >= n;
    };
    if (!waitFor(kSites)) {
        std::fprintf(stderr, "the first copies did not all arrive\n");
        return 1;
    }
    QVector<double> spread;
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "bench");
    db.setConnectOptions(server.Central());
    db.open();
    for (int r = 0; r < rounds; ++r) {
        copied = 0;
        QElapsedTimer t;
        t.start();
        // One change for the whole district: the first bell of every site moves a minute.
        QSqlQuery(db).exec(QStringLiteral("UPDATE 作息表 SET 开始时间 = '07:0%1:30' WHERE 事件 = "
                                          "'铃0' AND 星期名 = '星期一'")
                               .arg(r % 10));
        if (!waitFor(kSites)) {
            std::fprintf(stderr, "round %d: only %d of %d copies arrived\n", r, copied, kSites);
            return 1;
        }
        spread << t.nsecsElapsed() / 1e6;
    }
    std::printf("%d sites x %d events x 7 days (%d events)\n", kSites, kEvents,
                kSites * kEvents * 7);
    std::printf("full copy of one site (%d events): median %.1f ms, max %.1f ms\n", kEvents * 7,
                Median(pulls), *std::max_element(pulls.begin(), pulls.end()));
    std::printf("one change to all %d computers: median %.1f ms, max %.1f ms (%d rounds)\n", kSites,
                Median(spread), *std::max_element(spread.begin(), spread.end()), rounds);
    return 0;
}
