// SPDX-License-Identifier: GPL-3.0-or-later
// When each event is heard through a sound server, behind its wall-clock second: the real
// engine, store and player ring events 2 s apart into a PulseAudio server of the bench's own
// (its default sink a null sink), whose monitor is recorded. Every bell is 0.5 s of tone.
//   build/bench/bench_heard [idle|busy|both] [events, default 60]
// "busy" runs `stress-ng --cpu 2` alongside. The play log goes to standard error.
#include "audio/gst_init.h"
#include "audio/gst_player.h"
#include "core/clock.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "loads.h"
#include "schedule/schedule_engine.h"
#include "store/conn.h"
#include "support/media.h"
#include "support/pulse_server.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr double kBell = 0.5;

void RunOnce(const char* label, int count) {
    QTemporaryDir dir;
    QString error;
    std::unique_ptr<Conn> conn = Conn::Open(dir.path() + "/Music.db", &error);
    const QString bell = dir.path() + "/bell.wav";
    if (!conn || !media::Make(bell, kBell)) {
        std::fprintf(stderr, "cannot make the store or the bell: %s\n", qPrintable(error));
        return;
    }
    SystemClock clock;
    const QDateTime now = clock.Now();
    const QDateTime start =
        QDateTime(now.date(), QTime(now.time().hour(), now.time().minute(), now.time().second()))
            .addSecs(5);
    std::vector<qint64> targets;
    for (int i = 0; i < count; ++i) {
        const QDateTime at = start.addSecs(2 * i);
        qint64 id = 0;
        conn->AddEvent({0,
                        WeekdayName(at.date()),
                        QStringLiteral("e%1").arg(i),
                        TimeText(at.time()),
                        bell,
                        "00:00:01",
                        "√",
                        {},
                        "111111"},
                       &id);
        targets.push_back(WallToMonotonicNs(at));
    }
    MonitorRecorder monitor("bell");
    std::vector<qint64> reported;
    ProgramVars vars;
    GstPlayer player;
    QObject::connect(&player, &Player::FirstSample, [&](const QString&, qint64 wallUs, int) {
        reported.push_back(wallUs * 1000 + MonotonicMinusWallNs());
    });
    ScheduleEngine engine(vars, *conn, clock, player, nullptr);
    engine.LoadTodayEvents();
    QTimer::singleShot(5000 + 2000 * count + 1500, qApp, &QCoreApplication::quit);
    qApp->exec();
    engine.StopSchedule();
    player.Halt();

    const auto sounds = monitor.Sounds(targets.front() - 1000000000);
    std::vector<double> late, logError;
    int missing = 0, cut = 0;
    for (qint64 target : targets) {
        const auto it = std::find_if(sounds.begin(), sounds.end(), [&](const auto& s) {
            return s.startNs > target - 1000000000 && s.startNs < target + 1000000000;
        });
        if (it == sounds.end()) {
            ++missing;
            continue;
        }
        late.push_back((it->startNs - target) / 1e6);
        cut += it->seconds < kBell - 0.03;
        const auto r = std::min_element(reported.begin(), reported.end(), [&](qint64 a, qint64 b) {
            return std::llabs(a - it->startNs) < std::llabs(b - it->startNs);
        });
        if (r != reported.end()) {
            logError.push_back(std::abs(*r - it->startNs) / 1e6);
        }
    }
    std::printf("%-5s %8.1f %8.1f %8.1f %7.1f %5d %4d %9.1f\n", label, Pick(late, 0.5),
                Pick(late, 0.99), Pick(late, 1.0), Pick(late, 0.0), missing, cut,
                Pick(logError, 1.0));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("both");
    const int count = argc > 2 ? std::max(2, atoi(argv[2])) : 60;
    EnsureGstInit();
    PulseServer server;
    if (const QString why = server.Start({"bell"}); !why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    qputenv("BELVORAN_AUDIO_SINK", "pulsesink");
    std::printf("heard on a PulseAudio null sink's monitor behind the event's second, ms "
                "(%d events 2 s apart, %.1f s bells)\n",
                count, kBell);
    // "cut": heard shorter than the bell; "log error": the largest difference between the
    // first sample's time in the log and the heard onset.
    std::printf("%-5s %8s %8s %8s %7s %5s %4s %9s\n", "load", "p50", "p99", "max", "min", "lost",
                "cut", "log error");
    return RunUnderLoads(mode, [&](const char* load) { RunOnce(load, count); }) ? 0 : 1;
}
