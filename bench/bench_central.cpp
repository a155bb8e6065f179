// A district on one PostgreSQL server: 50 sites of 40 events on each of the 7 days. Prints
// the time of one computer's full copy of its site, and of one change that touches every
// site to reach all 50 following computers (notification, copy, local write).
//   build/bench/bench_central [rounds]   (default 5)
#include "core/time_text.h"
#include "store/central.h"
#include "store/conn.h"
#include "store/follower.h"
#include "store/transaction.h"
#include "support/pg_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

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
        auto site = Conn::OpenCentral(central, SiteName(s), error);
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
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
        bool changed = false;
        if (!central->ReadSite(SiteName(r % kSites), &copy, &error) ||
            !local->ApplySiteCopy(copy, QDateTime::currentDateTime(), &changed, &error)) {
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
