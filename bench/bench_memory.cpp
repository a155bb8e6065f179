// SPDX-License-Identifier: GPL-3.0-or-later
// Plays many short files one after another and prints the resident memory at the start
// and the end: a player that leaks grows by the size of a pipeline with every play.
//   build/bench/bench_memory [plays]   (default 300)
#include "audio/gst_init.h"
#include "audio/gst_player.h"
#include "support/media.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// Resident set size of this process in kB, from /proc/self/status.
long ResidentKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}

// Plays file to its end (or gives up after 10 s); true when it ended.
bool PlayToEnd(GstPlayer& player, const QString& file) {
    bool ended = false;
    const auto c = QObject::connect(&player, &Player::PlayStateChange,
                                    [&](int, int now) { ended = ended || now == Player::Stopped; });
    player.SetFileName(file, AudioRoute());
    player.Play();
    QElapsedTimer t;
    t.start();
    while (!ended && t.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    QObject::disconnect(c);
    return ended;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int plays = argc > 1 ? std::max(1, atoi(argv[1])) : 300;
    if (qEnvironmentVariableIsEmpty("BELVORAN_AUDIO_SINK")) {
        qputenv("BELVORAN_AUDIO_SINK", "fakesink sync=false");
    }
    EnsureGstInit();
    QTemporaryDir dir;
    QStringList files;
    for (const QString ext : {"wav", "mp3"}) {
        const QString file = dir.path() + "/short." + ext;
        if (!media::Make(file, 0.2)) {
            std::printf("cannot make test media %s\n", qPrintable(file));
            return 1;
        }
        files << file;
    }
    auto player = std::make_unique<GstPlayer>();
    // One play of each first, so libraries and plugins loaded once are not counted.
    for (const QString& f : files) {
        PlayToEnd(*player, f);
    }
    const long start = ResidentKb();
    std::printf("resident memory after %d warm-up plays: %ld kB\n", int(files.size()), start);
    int failed = 0;
    for (int i = 1; i <= plays; ++i) {
        failed += !PlayToEnd(*player, files[i % files.size()]);
        // Prepare is how the schedule gets a bell ready ahead of its second.
        if (i % 10 == 0) {
            player->Prepare(files[(i + 1) % files.size()], AudioRoute());
        }
        if (i % 50 == 0) {
            std::printf("  after %4d plays: %ld kB\n", i, ResidentKb());
            std::fflush(stdout);
        }
    }
    const long end = ResidentKb();
    std::printf("resident memory after %d more plays: %ld kB (%+ld kB, %.1f kB a play)%s\n", plays,
                end, end - start, double(end - start) / plays,
                failed ? qPrintable(QString(", %1 plays did not end").arg(failed)) : "");
    // With GST_TRACERS=leaks GST_DEBUG=GST_TRACER:7 the tracer lists, at this point, every
    // GStreamer object still alive once the player is gone.
    player.reset();
    dir.remove();
    gst_deinit();
    return 0;
}
