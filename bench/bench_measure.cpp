// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the time to add 100 songs of 3 to 5 minutes (MP3, WAV, MIDI, OGG) to a library:
// their lengths measured and the rows stored. Compares the player's one-file-at-a-time
// measurement with the concurrent length meter.
//   build/bench/bench_measure [folder-to-keep-the-media]
#include "audio/gst_init.h"
#include "audio/gst_player.h"
#include "audio/length_meter.h"
#include "core/time_text.h"
#include "store/conn.h"
#include "support/media.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>

namespace {

// Five distinct files per format (3, 3.5, 4, 4.5, 5 minutes), each copied to five names.
QStringList MakeMedia(const QString& dir) {
    QStringList files;
    for (const QString ext : {"mp3", "wav", "mid", "ogg"}) {
        for (int len = 0; len < 5; ++len) {
            const QString source = dir + QString("/src%1.%2").arg(len).arg(ext);
            if (!QFile::exists(source) && !media::Make(source, 180 + 30 * len)) {
                std::printf("cannot make %s\n", qPrintable(source));
                continue;
            }
            for (int copy = 0; copy < 5; ++copy) {
                const QString file = dir + QString("/song%1_%2.%3").arg(len).arg(copy).arg(ext);
                QFile::copy(source, file);
                files << file;
            }
        }
    }
    return files;
}

QVector<SongRow> Rows(const QStringList& files, const QVector<double>& lengths, int* measured) {
    QVector<SongRow> rows;
    for (int i = 0; i < files.size(); ++i) {
        if (lengths[i] >= 0) {
            rows.push_back({0, QString(), files[i], LengthToTime(lengths[i])});
        }
    }
    *measured = rows.size();
    return rows;
}

double Store(const QString& dbPath, const QVector<SongRow>& rows) {
    QString error;
    auto conn = Conn::Open(dbPath, &error);
    if (!conn || !conn->AddSongs(QStringLiteral("曲库_bench"), rows, &error)) {
        std::printf("store failed: %s\n", qPrintable(error));
        return -1;
    }

    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    EnsureGstInit();
    QTemporaryDir tmp;
    const QString dir = argc > 1 ? QString(argv[1]) : tmp.path();
    QDir().mkpath(dir);
    QElapsedTimer make;
    make.start();
    const QStringList files = MakeMedia(dir);
    std::printf("made %lld files in %.1f s\n", static_cast<long long>(files.size()),
                make.elapsed() / 1000.0);

    GstPlayer player;
    QElapsedTimer t;
    t.start();
    QVector<double> lengths;
    for (const QString& f : files) {
        lengths << player.MeasureDuration(f);
    }
    int measured = 0;
    Store(tmp.path() + "/one_by_one.db", Rows(files, lengths, &measured));
    std::printf("one file at a time (player): %5lld ms, %d measured\n",
                static_cast<long long>(t.elapsed()), measured);

    t.restart();
    LengthMeter::MeasureAll(files, &lengths);
    Store(tmp.path() + "/meter.db", Rows(files, lengths, &measured));
    std::printf("length meter, concurrent:    %5lld ms, %d measured\n",
                static_cast<long long>(t.elapsed()), measured);

    for (const QString ext : {"mp3", "wav", "mid", "ogg"}) {
        const QStringList some = files.filter("." + ext);
        QElapsedTimer one;
        one.start();
        LengthMeter::MeasureAll(some, &lengths, {}, {}, 1);
        std::printf("  %lld %s files, one worker: %lld ms (%s: %.3f s)\n",
                    static_cast<long long>(some.size()), qPrintable(ext),
                    static_cast<long long>(one.elapsed()), qPrintable(some.value(12)),
                    lengths.value(12));
    }

    const QString vbr = dir + "/vbr.mp3";
    if (QFile::exists(vbr) || media::VbrMp3(vbr, 60)) {
        std::printf(
            "VBR MP3 without a length header, 60.0 s of audio: player %.3f s, meter %.3f s\n",
            player.MeasureDuration(vbr), LengthMeter::Measure(vbr));
    }
    return 0;
}
