// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real MainTimer on the system clock with a fake player over events one second
// apart and prints how late each tick came after its second. (Sound no longer waits for
// the tick: bench_start measures the first sample itself.)
//   build/bench/bench_timer [seconds]   (default 180)
#include "core/program_vars.h"
#include "core/time_text.h"
#include "schedule/schedule_engine.h"
#include "store/transaction.h"
#include "support/fakes.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 180;
    QTemporaryDir dir;
    QString error;
    auto conn = Conn::Open(dir.path() + "/Music.db", &error);
    if (!conn) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QString file = dir.path() + "/bell.wav";
    QFile(file).open(QIODevice::WriteOnly);

    SystemClock clock;
    const QDateTime start = clock.Now().addSecs(3);
    int planned = 0;
    Transaction tx(*conn);
    tx.Begin();
    for (int i = 0; i < seconds; ++i) {
        const QDateTime at = start.addSecs(i);
        if (at.date() != start.date()) {
            break;
        }
        qint64 id = 0;
        conn->AddEvent({0, WeekdayName(at.date()), QString("event %1").arg(i), TimeText(at.time()),
                        file, "00:00:01", "√", "", "111111"},
                       &id);
        ++planned;
    }
    tx.Commit();

    ProgramVars vars;
    FakePlayer player;
    ScheduleEngine engine(vars, *conn, clock, player, nullptr);
    std::vector<double> late;
    QObject::connect(&engine, &ScheduleEngine::LabelChanged, &app, [&] {
        // The tick's own second is the wall-clock second it fell in.
        late.push_back(QTime::currentTime().msec());
    });
    engine.LoadTodayEvents();
    std::fprintf(stderr, "running %d events one second apart…\n", planned);

    QTimer::singleShot((seconds + 5) * 1000, &app, &QCoreApplication::quit);
    app.exec();

    std::sort(late.begin(), late.end());
    if (late.empty()) {
        std::printf("no event fired\n");
        return 1;
    }
    auto pct = [&](double p) { return late[std::min(late.size() - 1, size_t(p * late.size()))]; };
    std::printf("%zu ticks over %d events; tick lateness behind the second, ms: median %.0f, "
                "99th percentile %.0f, maximum %.0f\n",
                late.size(), planned, pct(0.5), pct(0.99), late.back());
    return 0;
}
