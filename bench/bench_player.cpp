// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the player: time from Play() to the first buffer at the sink, cold and
// prepared, per format; and the time to measure the lengths of 100 files.
//   build/bench/bench_player [repeats]
#include "audio/gst_init.h"
#include "audio/gst_player.h"
#include "support/media.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

double StartLatency(GstPlayer& player, const QString& file, bool prepared) {
    if (prepared) {
        player.Prepare(file, AudioRoute());
        QTest::qWait(500); // the time the schedule gives it before the event's second
    }
    player.SetFileName(file, AudioRoute());
    player.Play();
    QElapsedTimer t;
    t.start();
    while (player.FirstBufferLatencyMs() < 0 && t.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    const double ms = player.FirstBufferLatencyMs();
    player.Halt();
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    if (qEnvironmentVariableIsEmpty("BELVORAN_AUDIO_SINK")) {
        qputenv("BELVORAN_AUDIO_SINK", "fakesink sync=true");
    }
    EnsureGstInit();
    QTemporaryDir dir;
    GstPlayer player;

    std::printf("play -> first buffer at the sink, ms (median of %d)\n", repeats);
    std::printf("%-6s %10s %10s\n", "format", "cold", "prepared");
    for (const QString ext : {"wav", "mp3", "wma", "mid"}) {
        const QString file = dir.path() + "/tone." + ext;
        if (!media::Make(file, 10)) {
            std::printf("%-6s cannot make test media\n", qPrintable(ext));
            continue;
        }
        std::vector<double> cold, prepared;
        for (int i = 0; i < repeats; ++i) {
            cold.push_back(StartLatency(player, file, false));
            prepared.push_back(StartLatency(player, file, true));
        }
        std::printf("%-6s %10.2f %10.2f\n", qPrintable(ext), Median(cold), Median(prepared));
    }

    QStringList files;
    for (int i = 0; i < 100; ++i) {
        const QString ext = QStringList{"wav", "mp3", "wma", "mid"}[i % 4];
        const QString file = dir.path() + QString("/len%1.%2").arg(i).arg(ext);
        media::Make(file, 2 + i % 5);
        files << file;
    }
    QElapsedTimer t;
    t.start();
    int measured = 0;
    for (const QString& f : files) {
        measured += player.MeasureDuration(f) > 0;
    }
    std::printf("lengths of 100 files (wav/mp3/wma/mid): %.0f ms, %d measured\n",
                double(t.elapsed()), measured);
    return 0;
}
