// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

// Lengths of sound files, found without playing them. MP3 files are measured by a scan of
// their frames (exact for VBR files without a Xing or VBRI header, where an estimate from
// the first frames is several percent off); every other format by GStreamer's discoverer,
// with MIDI rendered through the same soundfont playback uses.
//
// Several files are measured at the same time by a few worker threads. The caller's thread
// waits in short steps and, between them, reports progress and asks whether to stop, so a
// window can keep its event loop running through the callbacks.
class LengthMeter {
public:
    // Called on the caller's thread: done files out of total.
    using Progress = std::function<void(int done, int total)>;
    // Called on the caller's thread; true stops the measurement.
    using Cancelled = std::function<bool()>;

    // Length of one file in seconds; -1 when it is not a sound file or cannot be read.
    static double Measure(const QString& file);

    // Lengths of files in seconds, in the order given (-1 for each file that cannot be
    // measured). Returns false, with *lengths left empty, when cancelled returned true.
    // workers 0 picks the number of processors (at least two).
    static bool MeasureAll(const QStringList& files, QVector<double>* lengths,
                           const Progress& progress = {}, const Cancelled& cancelled = {},
                           int workers = 0);
};
