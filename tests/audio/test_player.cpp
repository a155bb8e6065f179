// SPDX-License-Identifier: GPL-3.0-or-later
// The real GStreamer player with a fake or capturing sink, on media made at test time.
#include "audio/gst_init.h"
#include "audio/gst_player.h"
#include "audio/monotonic_clock.h"
#include "audio/playable_file.h"
#include "audio/wake_clock.h"
#include "core/time_text.h"
#include "support/log_capture.h"
#include "support/media.h"
#include "support/settle.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <gst/gst.h>
#include <pthread.h>
#include <time.h>

#include <thread>

namespace {

// The processor time the calling thread has used, in nanoseconds.
qint64 ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int CountStops(const QSignalSpy& spy) {
    int n = 0;
    for (const auto& args : spy) {
        n += args.at(1).toInt() == Player::Stopped;
    }
    return n;
}

// The bytes of a WAV file's data chunk.
QByteArray WavData(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray all = f.readAll();
    int pos = 12;
    while (pos + 8 <= all.size()) {
        const QByteArray id = all.mid(pos, 4);
        const quint32 size = quint8(all[pos + 4]) | quint8(all[pos + 5]) << 8 |
                             quint8(all[pos + 6]) << 16 | quint32(quint8(all[pos + 7])) << 24;
        if (id == "data") {
            return all.mid(pos + 8, int(size));
        }
        pos += 8 + int(size);
    }
    return {};
}

// Counts, by type, the GStreamer objects made and not yet freed while it exists: the leaks
// tracer's activity tracking (GST_TRACERS=leaks must be set before GStreamer starts).
class ObjectsLeftAlive {
public:
    ObjectsLeftAlive() {
        GList* tracers = gst_tracing_get_active_tracers();
        for (GList* t = tracers; t; t = t->next) {
            if (g_strcmp0(G_OBJECT_TYPE_NAME(t->data), "GstLeaksTracer") == 0) {
                tracer_ = GST_TRACER(gst_object_ref(t->data));
            }
        }
        g_list_free_full(tracers, gst_object_unref);
        if (tracer_) {
            g_signal_emit_by_name(tracer_, "activity-start-tracking");
        }
    }
    ~ObjectsLeftAlive() {
        if (tracer_) {
            g_signal_emit_by_name(tracer_, "activity-stop-tracking");
            gst_object_unref(tracer_);
        }
    }
    bool Tracking() const { return tracer_ != nullptr; }
    // Made minus freed, by type name, since the start.
    QHash<QString, int> Count() {
        QHash<QString, int> count;
        GstStructure* s = nullptr;
        g_signal_emit_by_name(tracer_, "activity-get-checkpoint", &s);
        for (const auto& [field, step] :
             {std::pair{"objects-created-list", 1}, std::pair{"objects-removed-list", -1}}) {
            const GValue* list = gst_structure_get_value(s, field);
            for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
                const GstStructure* o = gst_value_get_structure(gst_value_list_get_value(list, i));
                count[QString::fromUtf8(gst_structure_get_string(o, "type-name"))] += step;
            }
        }
        gst_structure_free(s);
        return count;
    }

private:
    GstTracer* tracer_ = nullptr;
};

} // namespace

class TestPlayer : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.path() + "/" + name; }
    QString Media(const QString& ext, int seconds) const {
        return Path(QString("铃声 it's \"%1s\".%2").arg(seconds).arg(ext));
    }

private slots:
    void initTestCase() {
        // The leaks tracer lets a test see which pipelines and elements are still alive.
        if (qEnvironmentVariableIsEmpty("GST_TRACERS")) {
            qputenv("GST_TRACERS", "leaks");
        }
        EnsureGstInit();
        for (const QString ext : {"wav", "mp3", "wma", "mid"}) {
            for (int s : {3, 205}) {
                QVERIFY2(media::Make(Media(ext, s), s), qPrintable(Media(ext, s)));
            }
        }
        QVERIFY(media::Run(QString("videotestsrc num-buffers=1 ! video/x-raw,width=64,height=64 "
                                   "! pngenc ! filesink location=%1")
                               .arg(Path("picture.wav"))));
        QFile text(Path("notes.wav"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("这不是声音文件。 This is not audio.\n");
        QFile longText(Path("lesson plan.mp3"));
        QVERIFY(longText.open(QIODevice::WriteOnly));
        for (int i = 0; i < 40; ++i) {
            longText.write("第一节课 08:00, the first lesson of the day, in room 101.\n");
        }
        QFile empty(Path("empty.mp3"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir("folder.mp3"));
        QVERIFY(media::Make(Path("silent.wav"), 0)); // a valid WAV without samples
        QVERIFY(QFile::copy(Media("mp3", 3), Path("mp3 named.wav")));
    }

    void init() { qputenv("BELVORAN_AUDIO_SINK", "fakesink sync=false"); }

    void durations_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<int>("seconds");
        for (const QString ext : {"wav", "mp3", "wma", "mid"}) {
            for (int s : {3, 205}) {
                QTest::addRow("%s %ds", qPrintable(ext), s) << ext << s;
            }
        }
    }
    void durations() {
        QFETCH(QString, ext);
        QFETCH(int, seconds);
        GstPlayer player;
        const double d = player.MeasureDuration(Media(ext, seconds));
        QVERIFY2(qAbs(d - seconds) < 0.1, qPrintable(QString::number(d)));
        player.SetFileName(Media(ext, seconds), {});
        QVERIFY(qAbs(player.Duration() - seconds) < 0.1);
        if (seconds == 205) {
            QCOMPARE(LengthToTime(d), QString("00:03:25"));
        }
    }

    void unloadableFilesMeasureMinusOne() {
        GstPlayer player;
        QCOMPARE(player.MeasureDuration(Path("missing.wav")), -1.0);
        QCOMPARE(player.MeasureDuration(Path("notes.wav")), -1.0);
        QCOMPARE(player.MeasureDuration(Path("picture.wav")), -1.0);
        QCOMPARE(player.MeasureDuration(dir.path()), -1.0);
        QCOMPARE(player.MeasureDuration(QString()), -1.0);
    }

    void playsEachFormatToTheEnd_data() {
        QTest::addColumn<QString>("ext");
        for (const QString ext : {"wav", "mp3", "wma", "mid"}) {
            QTest::newRow(qPrintable(ext)) << ext;
        }
    }
    void playsEachFormatToTheEnd() {
        QFETCH(QString, ext);
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy errors(&player, &Player::Error);
        player.SetFileName(Media(ext, 3), {});
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 20000);
        QCOMPARE(errors.count(), 0);
        QVERIFY(!player.IsPlaying());
        // The stop discarded the pipeline, joining its threads: all it sent is queued.
        QVERIFY(Settle());
        QCOMPARE(CountStops(states), 1); // once, not again
    }

    void haltIsSilentAndPlayWorksAgain() {
        qputenv("BELVORAN_AUDIO_SINK", "fakesink sync=true");
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy halted(&player, &Player::Halted);
        player.SetFileName(Media("wav", 205), {});
        player.Play();
        QTRY_VERIFY_WITH_TIMEOUT(!states.isEmpty(), 5000);                   // playing
        QTRY_VERIFY_WITH_TIMEOUT(player.FirstBufferLatencyMs() >= 0, 20000); // sound flows
        player.Halt();
        QCOMPARE(halted.count(), 1);
        QVERIFY(Settle());
        QCOMPARE(CountStops(states), 0);

        qputenv("BELVORAN_AUDIO_SINK", "fakesink sync=false");
        player.SetFileName(Media("wav", 3), {});
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
    }

    void setFileNameEndsPlaybackSilently() {
        qputenv("BELVORAN_AUDIO_SINK", "fakesink sync=true");
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        player.SetFileName(Media("mp3", 205), {});
        player.Play();
        QTRY_VERIFY_WITH_TIMEOUT(player.FirstBufferLatencyMs() >= 0, 20000);
        player.SetFileName(QString(), {});
        QVERIFY(Settle());
        QCOMPARE(CountStops(states), 0);
        player.Play(); // an empty name plays nothing
        QVERIFY(Settle());
        QVERIFY(!player.IsPlaying());
    }

    void errorsAreReportedAsAStop_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("missing") << "missing.mp3";
        QTest::newRow("text") << "notes.wav";
        QTest::newRow("picture") << "picture.wav";
        QTest::newRow("folder") << "folder.mp3";
        QTest::newRow("empty") << "empty.mp3";
        QTest::newRow("long text") << "lesson plan.mp3";
    }
    void errorsAreReportedAsAStop() {
        QFETCH(QString, file);
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy errors(&player, &Player::Error);
        player.SetFileName(Path(file), {});
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 20000);
        QCOMPARE(errors.count(), 1);
        QVERIFY(Settle());
        QCOMPARE(CountStops(states), 1);
    }

    void captureHoldsTheFilesSamples() {
        const QString raw = Path("capture.raw");
        qputenv("BELVORAN_AUDIO_SINK",
                QString("capsfilter caps=audio/x-raw,format=S16LE,rate=44100,channels=2 ! "
                        "filesink location=\"%1\"")
                    .arg(raw)
                    .toUtf8());
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        player.SetFileName(Media("wav", 3), {});
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
        const QByteArray expected = WavData(Media("wav", 3));
        QCOMPARE(expected.size(), 3 * 44100 * 4);
        QVERIFY(FileBytes(raw) == expected);
    }

    void noAudioDeviceIsReported() {
        // autoaudiosink names its fallback this way when no device can be opened.
        qputenv("BELVORAN_AUDIO_SINK", "fakesink name=fake-audio-sink sync=false");
        QVERIFY(!GstPlayer::NoAudioOutputReported());
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        player.SetFileName(Media("wav", 3), {});
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
        QVERIFY(GstPlayer::NoAudioOutputReported());
    }

    void unusableSinkFallsBack() {
        qputenv("BELVORAN_AUDIO_SINK", "nosuchsink-element");
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        player.SetFileName(Media("wav", 3), {});
        player.Play(); // logged, and played on the default sink instead
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
    }

    void preparedFileStartsAndEnds() {
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        player.Prepare(Media("mp3", 3), {});
        QTRY_VERIFY_WITH_TIMEOUT(player.Prerolled(Media("mp3", 3)), 10000);
        player.SetFileName(Media("mp3", 3), {});
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
    }

    // --- starts on the audio clock ---------------------------------------------------
    // The sink writes each buffer to a file as it plays it (sync: at its clock time), so
    // a file still empty when looked at before the target proves nothing played early.
    void CaptureToFile(const QString& raw) {
        QFile::remove(raw);
        qputenv("BELVORAN_AUDIO_SINK",
                QString("capsfilter caps=audio/x-raw,format=S16LE,rate=44100,channels=2 ! "
                        "filesink sync=true buffer-mode=unbuffered append=true location=\"%1\"")
                    .arg(raw)
                    .toUtf8());
    }
    // Watches raw until the wall clock passes until; returns false if a byte was there while
    // the clock was still before target.
    bool NothingBefore(const QString& raw, const QDateTime& target, const QDateTime& until) {
        while (QDateTime::currentDateTime() < until) {
            const qint64 size = QFileInfo(raw).size();
            // Looked at before the target, and something was already written: early.
            if (size > 0 && QDateTime::currentDateTime() < target) {
                return false;
            }
            QTest::qWait(5); // real time is the point: the file is watched until a second
        }
        return true;
    }

    void startAtASecondDoesNotPlayEarlier() {
        const QString raw = Path("at.raw");
        CaptureToFile(raw);
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy first(&player, &Player::FirstSample);
        player.Prepare(Media("wav", 3), {});
        const QDateTime target = QDateTime::currentDateTime().addMSecs(1500);
        player.PlayAt(Media("wav", 3), target, {});
        QVERIFY(player.StartArmed(Media("wav", 3), target, {}));
        QVERIFY(NothingBefore(raw, target, target));
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000); // then it plays to the end
        QVERIFY(FileBytes(raw) == WavData(Media("wav", 3)));
        QCOMPARE(first.count(), 1);
        QCOMPARE(first.at(0).at(0).toString(), Media("wav", 3));
        QVERIFY(first.at(0).at(1).toLongLong() >= target.toMSecsSinceEpoch() * 1000);
        QVERIFY(player.StartArmed(Media("wav", 3), target, {})); // its end cancels nothing
    }

    // A sink that renders 80 ms after each buffer's time: the first sample is reported when
    // it went out, not at the target it was meant for.
    void firstSampleIsWhenTheSinkRenderedIt() {
        qputenv("BELVORAN_AUDIO_SINK", "fakesink sync=true ts-offset=80000000");
        GstPlayer player;
        QSignalSpy first(&player, &Player::FirstSample);
        player.Prepare(Media("wav", 3), {});
        const QDateTime target = QDateTime::currentDateTime().addMSecs(800);
        player.PlayAt(Media("wav", 3), target, {});
        QTRY_COMPARE_WITH_TIMEOUT(first.count(), 1, 10000);
        const qint64 late = first.at(0).at(1).toLongLong() / 1000 - target.toMSecsSinceEpoch();
        QVERIFY2(late >= 79 && late < 1000, qPrintable(QString::number(late)));
    }

    // The first wait on an armed start's clock, on a real-time thread, spends its last
    // stretch running: the thread is on the processor milliseconds before the first sample is
    // due (it used processor time there, where a sleeping thread uses none), so a busy
    // computer cannot make the sample late by being slow to wake it. It still ends at the
    // entry's time, never before, and an unschedule in that stretch (a new target, a halt)
    // ends it at once.
    void wakeClockRunsUpToItsTimeAndYieldsToAnUnschedule() {
        const auto raise = [] {
            sched_param param{};
            param.sched_priority = 10;
            return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
        };
        for (const bool unschedule : {false, true}) {
            // A busy machine may wake the unscheduling thread after the time: then again.
            for (int attempt = 0;; ++attempt) {
                GstClock* clock = NewWakeClock();
                const qint64 target = MonotonicNs() + 80 * 1000000;
                GstClockID id = gst_clock_new_single_shot_id(clock, GstClockTime(target));
                GstClockReturn result = GST_CLOCK_ERROR;
                qint64 ended = 0, unscheduled = 0, ranNs = 0;
                bool raised = false;
                std::thread waiter([&] {
                    raised = raise();
                    const qint64 before = ThreadCpuNs();
                    result = gst_clock_id_wait(id, nullptr);
                    ended = MonotonicNs();
                    ranNs = ThreadCpuNs() - before;
                });
                if (unschedule) {
                    std::thread([&] {
                        raise();
                        // Inside the run-up, 10 ms before the time.
                        std::this_thread::sleep_for(
                            std::chrono::nanoseconds(target - 10000000 - MonotonicNs()));
                        gst_clock_id_unschedule(id);
                        // Taken once it is done: a thread held up between the two would
                        // otherwise count an unschedule that came after the time.
                        unscheduled = MonotonicNs();
                    }).join();
                }
                waiter.join();
                gst_clock_id_unref(id);
                const qint64 woke = FirstWakeNs(clock);
                gst_object_unref(clock);
                if (!raised) {
                    QSKIP("this process may not make a thread real-time");
                }
                if (unschedule && unscheduled >= target - 1000000 && attempt < 5) {
                    continue;
                }
                // Woken later than the run-up by a busy machine, it had less to run: again.
                if (!unschedule && ranNs < 5000000 && attempt < 5) {
                    continue;
                }
                if (unschedule) {
                    QCOMPARE(result, GST_CLOCK_UNSCHEDULED);
                    QVERIFY2(ended < target, qPrintable(QString::number(ended - target)));
                    QCOMPARE(woke, qint64(-1));
                } else {
                    QCOMPARE(result, GST_CLOCK_OK);
                    QVERIFY(ended >= target && woke >= target);
                    QVERIFY2(ranNs >= 5000000, qPrintable(QString("ran %1 ns").arg(ranNs)));
                }
                break;
            }
        }
    }

    void unpreparedStartWaitsForItsSecondToo() {
        const QString raw = Path("cold.raw");
        CaptureToFile(raw);
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        const QDateTime target = QDateTime::currentDateTime().addMSecs(1200);
        player.PlayAt(Media("mp3", 3), target, {});
        QVERIFY(NothingBefore(raw, target, target));
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
        QVERIFY(QFileInfo(raw).size() > 0);
    }

    void repeatedFileIsPreparedAndStartedAgain() {
        const QString raw = Path("again.raw");
        CaptureToFile(raw);
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy first(&player, &Player::FirstSample);
        for (int i = 1; i <= 2; ++i) {
            player.Prepare(Media("wav", 3), {});
            QTRY_VERIFY_WITH_TIMEOUT(player.Prerolled(Media("wav", 3)), 10000);
            const QDateTime target = QDateTime::currentDateTime().addMSecs(800);
            player.PlayAt(Media("wav", 3), target, {});
            QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), i, 10000);
            QCOMPARE(first.count(), i);
            QVERIFY(first.last().at(1).toLongLong() >= target.toMSecsSinceEpoch() * 1000);
        }
        QCOMPARE(FileBytes(raw).size(), 2 * WavData(Media("wav", 3)).size());
    }

    void haltBeforeTheSecondPlaysNothing() {
        const QString raw = Path("halt.raw");
        CaptureToFile(raw);
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy first(&player, &Player::FirstSample);
        player.Prepare(Media("wav", 3), {});
        const QDateTime target = QDateTime::currentDateTime().addMSecs(3000);
        player.PlayAt(Media("wav", 3), target, {});
        // Halted while its first sample waits at the sink for the second.
        QTRY_VERIFY_WITH_TIMEOUT(player.Prerolled(Media("wav", 3)), 10000);
        player.Halt();
        QVERIFY(!player.StartArmed(Media("wav", 3), target, {}));
        // Real time is the point: nothing may sound when the second comes.
        QTest::qWait(qMax<qint64>(0, QDateTime::currentDateTime().msecsTo(target)) + 500);
        QCOMPARE(QFileInfo(raw).size(), 0);
        QCOMPARE(states.count(), 0);
        QCOMPARE(first.count(), 0);
        QVERIFY(!player.IsPlaying());
    }

    void anotherFileBeforeTheSecondReplacesTheStart() {
        const QString raw = Path("other.raw");
        CaptureToFile(raw);
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy first(&player, &Player::FirstSample);
        const QDateTime target = QDateTime::currentDateTime().addMSecs(3000);
        player.PlayAt(Media("mp3", 205), target, {});
        QTRY_VERIFY_WITH_TIMEOUT(player.Prerolled(Media("mp3", 205)), 10000);
        // Played at once by someone else (a preview): the armed start is gone for good.
        player.SetFileName(Media("wav", 3), {});
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
        // Real time is the point: the replaced start must not sound when its second comes.
        QTest::qWait(qMax<qint64>(0, QDateTime::currentDateTime().msecsTo(target)) + 500);
        QCOMPARE(first.count(), 1);
        QCOMPARE(first.at(0).at(0).toString(), Media("wav", 3));
        QVERIFY(FileBytes(raw) == WavData(Media("wav", 3)));
        QVERIFY(!player.IsPlaying());
    }

    void whatPlaysFallsSilentAtTheArmedSecond() {
        // Files of one constant sample each, so the capture tells them apart.
        auto marked = [this](const QString& name, double seconds, qint16 value) {
            const quint32 frames = quint32(seconds * 44100);
            QByteArray b("RIFF");
            auto u32 = [&](quint32 v) { b.append(reinterpret_cast<const char*>(&v), 4); };
            auto u16 = [&](quint16 v) { b.append(reinterpret_cast<const char*>(&v), 2); };
            u32(36 + frames * 4);
            b.append("WAVEfmt ");
            u32(16), u16(1), u16(2), u32(44100), u32(44100 * 4), u16(4), u16(16);
            b.append("data");
            u32(frames * 4);
            for (quint32 i = 0; i < 2 * frames; ++i) {
                u16(quint16(value));
            }
            QFile f(Path(name));
            f.open(QIODevice::WriteOnly);
            f.write(b);
            return Path(name);
        };
        const QString song = marked("song.wav", 10, 3000), bell = marked("bell.wav", 0.5, 1000);
        const QString raw = Path("cut.raw");
        CaptureToFile(raw);
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        player.SetFileName(song, {});
        player.Play();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(raw).size() > 0, 5000);
        player.PlayAt(bell, QDateTime::currentDateTime().addMSecs(1200), {});
        // The song's cut can be reported before the bell has reached the file: wait for the
        // bell's own end, which comes after its last sample is written.
        QTRY_VERIFY_WITH_TIMEOUT(
            CountStops(states) >= 1 && player.FileName() == bell && !player.IsPlaying(), 10000);
        const QByteArray bytes = FileBytes(raw);
        const auto* samples = reinterpret_cast<const qint16*>(bytes.constData());
        const int n = bytes.size() / 2;
        int firstBell = -1, songAfterBell = 0, songBefore = 0;
        for (int i = 0; i < n; ++i) {
            if (qAbs(samples[i] - 1000) <= 2 && firstBell < 0) {
                firstBell = i;
            }
            if (qAbs(samples[i] - 3000) <= 2) {
                (firstBell < 0 ? songBefore : songAfterBell)++;
            }
        }
        QVERIFY(songBefore > 0);
        QVERIFY(firstBell >= 0);
        QCOMPARE(songAfterBell, 0);
    }

    void startWithAPastTargetPlaysAtOnce() {
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        player.PlayAt(Media("wav", 3), QDateTime::currentDateTime().addSecs(-1), {});
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
    }

    void armedStartOfAnUnplayableFileFailsAtItsSecond() {
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy errors(&player, &Player::Error);
        const QDateTime target = QDateTime::currentDateTime().addMSecs(500);
        player.PlayAt(Path("notes.wav"), target, {});
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
        QCOMPARE(errors.count(), 1);
        QVERIFY(QDateTime::currentDateTime() >= target);
    }

    void playsLeaveNoPipelineBehind() {
        QVERIFY(Settle()); // messages of earlier tests still on their way
        ObjectsLeftAlive objects;
        QVERIFY2(objects.Tracking(), "the leaks tracer is not running");
        {
            GstPlayer player;
            QSignalSpy states(&player, &Player::PlayStateChange);
            for (int i = 0; i < 5; ++i) {
                player.Prepare(Media("mp3", 3), {});
                player.SetFileName(Media(i % 2 ? "mp3" : "wav", 3), {});
                player.Play();
                QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), i + 1, 20000);
            }
            player.SetFileName(Path("notes.wav"), {}); // a failed play too
            player.Play();
            QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 6, 20000);
            // and one still playing when it goes: a sink on the clock, or the whole file
            // could reach it, and end, before the check below first looks
            qputenv("BELVORAN_AUDIO_SINK", "fakesink sync=true");
            player.SetFileName(Media("wav", 205), {});
            player.Play();
            QTRY_VERIFY_WITH_TIMEOUT(player.FirstBufferLatencyMs() >= 0, 20000);
        }
        // Messages still queued for the player hold objects until they are dropped.
        QVERIFY(Settle());
        const QHash<QString, int> alive = objects.Count();
        for (const QString type : {"GstPlayBin", "GstVolume", "GstPad", "GstMessage"}) {
            QVERIFY2(alive.value(type) <= 0,
                     qPrintable(QString("%1 %2 left alive").arg(alive.value(type)).arg(type)));
        }
    }

    void playThatNeverStartsIsAFailure() {
        // Each buffer is held for 5 s on its way to the sink: the play cannot start in time,
        // as a file whose streams hold no sound can leave playbin waiting for ever.
        qputenv("BELVORAN_AUDIO_SINK", "identity sleep-time=5000000 ! fakesink sync=true");
        GstPlayer player;
        player.SetStartTimeoutMs(500);
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy errors(&player, &Player::Error);
        player.SetFileName(Media("wav", 3), {});
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 20000);
        QCOMPARE(errors.count(), 1);
        QVERIFY2(errors[0][0].toString().contains("did not start playing"),
                 qPrintable(errors[0][0].toString()));
        QVERIFY(!player.IsPlaying());
    }

    void playableFileCheckNamesTheReason() {
        QCOMPARE(CheckPlayableFile(Path("missing.mp3")), QString("does not exist"));
        QCOMPARE(CheckPlayableFile(Path("folder.mp3")), QString("is a folder, not a sound file"));
        QCOMPARE(CheckPlayableFile(Path("empty.mp3")), QString("is empty (0 bytes)"));
        QVERIFY(CheckPlayableFile(Path("notes.wav")).startsWith("is not a sound file"));
        QCOMPARE(CheckPlayableFile(Path("lesson plan.mp3")),
                 QString("is not a sound file (it holds text/plain)"));
        QCOMPARE(CheckPlayableFile(Path("picture.wav")),
                 QString("is not a sound file (it holds image/png)"));
        for (const QString ext : {"wav", "mp3", "wma", "mid"}) {
            QCOMPARE(CheckPlayableFile(Media(ext, 205)), QString());
        }
        QCOMPARE(CheckPlayableFile(Path("mp3 named.wav")), QString()); // found by its content
        QCOMPARE(CheckPlayableFile(Path("silent.wav")), QString());    // fails only when played
    }

    void unplayableFileIsOneLineNamingTheReason() {
        GstPlayer player;
        QSignalSpy errors(&player, &Player::Error);
        LogCapture log;
        player.SetFileName(Path("folder.mp3"), {});
        player.Play();
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(errors[0][0].toString(), Path("folder.mp3") + " is a folder, not a sound file");
        QCOMPARE(log.Lines({"error"}).size(), 1);
        QCOMPARE(log.Lines({"error player", "is a folder"}).size(), 1);
    }

    void songWithoutSoundIsAFailure_data() {
        QTest::addColumn<QByteArray>("sink");
        QTest::newRow("in real time") << QByteArray("fakesink sync=true");
        QTest::newRow("at once") << QByteArray("fakesink sync=false");
    }
    void songWithoutSoundIsAFailure() {
        QFETCH(QByteArray, sink);
        qputenv("BELVORAN_AUDIO_SINK", sink);
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy errors(&player, &Player::Error);
        for (int i = 1; i <= 2; ++i) {
            player.Prepare(Path("silent.wav"), {});
            QTRY_VERIFY_WITH_TIMEOUT(player.Prerolled(Path("silent.wav")), 10000);
            player.SetFileName(Path("silent.wav"), {});
            player.Play();
            QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), i, 10000);
            QCOMPARE(errors.count(), i);
            QVERIFY2(errors.last()[0].toString().contains("no sound"),
                     qPrintable(errors.last()[0].toString()));
        }
        player.SetFileName(Media("wav", 3), {}); // a song with sound still ends normally
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 3, 10000);
        QCOMPARE(errors.count(), 2);
    }

    void quietErrorsAreLeftToTheCaller() {
        GstPlayer player;
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy errors(&player, &Player::Error);
        LogCapture log;
        player.QuietErrorsFor(Path("silent.wav"));
        int played = 0;
        for (const QString file : {"silent.wav", "missing.mp3", "silent.wav"}) {
            player.SetFileName(Path(file), {});
            player.Play();
            ++played;
            QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), played, 10000);
        }
        QCOMPARE(errors.count(), 3);
        QCOMPARE(log.Lines({"error player"}).size(), 1);
        QCOMPARE(log.Lines({"error player", "missing.mp3"}).size(), 1);
    }

    void outputCheckOpensTheDeviceWithoutPlaying() {
        const QString raw = Path("check.raw");
        qputenv("BELVORAN_AUDIO_SINK", QString("filesink location=\"%1\"").arg(raw).toUtf8());
        GstPlayer player;
        QSignalSpy changes(&player, &Player::OutputChanged);
        QVERIFY(player.CheckOutput());
        QVERIFY(player.OutputUsable());
        QCOMPARE(changes.count(), 0);
        QCOMPARE(QFileInfo(raw).size(), 0); // nothing was sent to it

        // autoaudiosink's fallback when no device can be opened.
        qputenv("BELVORAN_AUDIO_SINK", "fakesink name=fake-audio-sink");
        QVERIFY(!player.CheckOutput());
        QVERIFY(!player.OutputUsable());
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes[0][0].toBool(), false);
        QVERIFY(!player.CheckOutput()); // no change, no signal
        QCOMPARE(changes.count(), 1);

        // A later play that reaches a real device clears it.
        qputenv("BELVORAN_AUDIO_SINK", "fakesink sync=false");
        QSignalSpy states(&player, &Player::PlayStateChange);
        player.SetFileName(Media("wav", 3), {});
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
        QVERIFY(player.OutputUsable());
        QCOMPARE(changes.count(), 2);
        QCOMPARE(changes[1][0].toBool(), true);

        // A play that falls back sets it again.
        qputenv("BELVORAN_AUDIO_SINK", "fakesink name=fake-audio-sink sync=false");
        player.SetFileName(Media("wav", 3), {});
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 2, 10000);
        QVERIFY(!player.OutputUsable());
        QCOMPARE(changes.count(), 3);
    }

    void outputThatCannotBeOpenedIsUnusable() {
        GstElementFactory* alsa = gst_element_factory_find("alsasink");
        if (!alsa) {
            QSKIP("no alsasink");
        }
        gst_object_unref(alsa);
        qputenv("BELVORAN_AUDIO_SINK", "alsasink device=hw:99");
        GstPlayer player;
        LogCapture log;
        QVERIFY(!player.CheckOutput());
        QVERIFY(!player.OutputUsable());
        const QStringList lines = log.Lines({"error no audio output"});
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains("alsasink device=hw:99"), qPrintable(lines[0]));
    }

    // --- several outputs at once -----------------------------------------------------
    // One whole output, channel 3 of a four-channel one, one that fails as it plays and one
    // that cannot be opened: the play reaches the first two, whole, and ends normally.
    void routePlaysToEveryOutputThatWorks() {
        const QString whole = Path("whole.raw"), quad = Path("quad.raw");
        const QString sink("capsfilter caps=audio/x-raw,format=S16LE,rate=44100 ! "
                           "filesink location=\"%1\"");
        GstPlayer player;
        const AudioRoute route{
            {"教学楼一", sink.arg(whole), 0, {}},
            {"教学楼三", sink.arg(quad), 4, {3}},
            {"寝室楼一", "filesink buffer-mode=unbuffered location=/dev/full", 0, {}},
            {"操场", sink.arg(Path("no such folder/x.raw")), 0, {}}};
        QSignalSpy states(&player, &Player::PlayStateChange);
        QSignalSpy failed(&player, &Player::OutputFailed);
        QSignalSpy errors(&player, &Player::Error);
        player.SetFileName(Media("wav", 3), route);
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(CountStops(states), 1, 10000);
        QCOMPARE(errors.count(), 0);
        QTRY_COMPARE(failed.count(), 2);
        QCOMPARE(QSet<QString>({failed[0][0].toString(), failed[1][0].toString()}),
                 QSet<QString>({"寝室楼一", "操场"}));
        const QByteArray stereo = WavData(Media("wav", 3));
        QVERIFY(FileBytes(whole) == stereo);
        const QByteArray four = FileBytes(quad);
        QCOMPARE(four.size(), stereo.size() * 2);
        const auto* s16 = reinterpret_cast<const qint16*>(four.constData());
        qint64 loud[4] = {0, 0, 0, 0};
        for (qsizetype i = 0; i < four.size() / 2; ++i) {
            loud[i % 4] += qAbs(s16[i]);
        }
        QVERIFY2(
            loud[0] == 0 && loud[1] == 0 && loud[3] == 0 && loud[2] > 0,
            qPrintable(QString("%1 %2 %3 %4").arg(loud[0]).arg(loud[1]).arg(loud[2]).arg(loud[3])));
    }

private:
    static QByteArray FileBytes(const QString& path) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
};

QTEST_GUILESS_MAIN(TestPlayer)
#include "test_player.moc"
