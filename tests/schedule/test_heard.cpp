// SPDX-License-Identifier: GPL-3.0-or-later
// What a listener hears: the real engine, store and player ring through a PulseAudio server of
// the test's own, and each null sink's monitor is recorded. Skipped where PulseAudio is missing.
#include "audio/gst_player.h"
#include "audio/monotonic_clock.h"
#include "audio/output_devices.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "schedule/break_music.h"
#include "schedule/schedule_engine.h"
#include "support/engine_rig.h"
#include "support/fakes.h"
#include "support/log_capture.h"
#include "support/media.h"
#include "support/pulse_server.h"
#include "support/temp_store.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

constexpr qint64 kOnsetSlackNs = 50 * 1000000; // the heard onset against the second
constexpr qint64 kLogSlackMs = 20;             // the fire line's figure against the heard
constexpr double kLengthSlack = 0.03;          // seconds of a tone's length

// The first sound recorded from target - 1 s on.
MonitorRecorder::Sound HeardAround(const MonitorRecorder& rec, qint64 targetNs) {
    const auto sounds = rec.Sounds(targetNs - 1000000000);
    return sounds.empty() ? MonitorRecorder::Sound{-1, 0} : sounds.front();
}

} // namespace

class TestHeard : public QObject {
    Q_OBJECT

    PulseServer server_;
    QString why_;

    // The fire line of the event at t says its first sample came ms after the second.
    static bool LoggedLateMs(LogCapture& log, const QDateTime& t, double* ms) {
        static const QRegularExpression figure(R"(first sample at the sink ([+-]\d+\.\d) ms)");
        for (const QString& line : log.Lines({TimeText(t.time()), "first sample at the sink"})) {
            if (const auto m = figure.match(line); m.hasMatch()) {
                *ms = m.captured(1).toDouble();
                return true;
            }
        }
        return false;
    }
    // The sound heard on rec at t lasts seconds, begins within the slack of t, and the log's
    // figure for it is within its slack of what was heard.
    static void CheckHeard(const MonitorRecorder& rec, LogCapture& log, const QDateTime& t,
                           double seconds, bool exact) {
        const qint64 targetNs = WallToMonotonicNs(t);
        const MonitorRecorder::Sound heard = HeardAround(rec, targetNs);
        QVERIFY2(heard.startNs >= 0, qPrintable("nothing heard at " + TimeText(t.time())));
        const qint64 onset = heard.startNs - targetNs;
        QVERIFY2(std::llabs(onset) <= kOnsetSlackNs,
                 qPrintable(QStringLiteral("heard %1 ms after the second").arg(onset / 1e6)));
        QVERIFY2(
            heard.seconds >= seconds - kLengthSlack &&
                (!exact || heard.seconds <= seconds + kLengthSlack),
            qPrintable(QStringLiteral("heard for %1 s of %2 s").arg(heard.seconds).arg(seconds)));
        double logged = 0;
        QVERIFY2(LoggedLateMs(log, t, &logged), qPrintable(log.Text()));
        QVERIFY2(
            std::abs(logged - onset / 1e6) <= kLogSlackMs,
            qPrintable(QStringLiteral("logged %1 ms, heard %2 ms").arg(logged).arg(onset / 1e6)));
    }

private slots:
    void initTestCase() { why_ = server_.Start({"hall", "yard"}); }

    // Zone 1 picked the hall from the list, zones 4 to 6 play to the default output, which
    // is the hall too: one branch to the hall, not two copies summed on it.
    void aZoneNamingTheDefaultDeviceSharesItsBranch() {
        if (!why_.isEmpty()) {
            QSKIP(qPrintable(why_));
        }
        const QString hall = DefaultOutputSink();
        QVERIFY2(hall.contains("hall"), qPrintable(hall));
        const QVector<OutputDevice> listed = ListOutputDevices(); // as the zones page lists
        QVERIFY(std::any_of(listed.begin(), listed.end(),
                            [&](const OutputDevice& d) { return d.sink == hall; }));
        QVector<ZoneRow> zones(kZoneCount);
        for (int i = 0; i < kZoneCount; ++i) {
            zones[i] = {i + 1, DefaultZoneNames()[i], "", {}, 0, 0, {}};
        }
        zones[0].sink = hall;
        zones[1].sink = "pulsesink device=yard";
        const ZonePlan plan = PlanZones("110111", zones, hall);
        QCOMPARE(plan.route.size(), 2);
        QCOMPARE(plan.route[0].sink, hall);
        QCOMPARE(PlanZones("110111", zones).route.size(), 3); // not knowing the default
    }

    // A service with no desktop session has no sound server to ask: the sound cards are
    // listed through ALSA. With a server, its sinks are listed (and stand for the cards it
    // plays to; this one plays to none).
    void outputsAreListedFromTheServerOrElseFromAlsa() {
        if (!why_.isEmpty()) {
            QSKIP(qPrintable(why_));
        }
        QVERIFY2(OutputProviderNames().contains("pulsedeviceprovider"),
                 qPrintable(OutputProviderNames().join(' ')));
        const QByteArray server = qgetenv("PULSE_SERVER"), runtime = qgetenv("XDG_RUNTIME_DIR");
        QTemporaryDir noServer;
        qunsetenv("PULSE_SERVER");
        qputenv("XDG_RUNTIME_DIR", noServer.path().toUtf8());
        const QStringList alone = OutputProviderNames();
        qputenv("PULSE_SERVER", server);
        if (runtime.isNull()) {
            qunsetenv("XDG_RUNTIME_DIR");
        } else {
            qputenv("XDG_RUNTIME_DIR", runtime);
        }
        QVERIFY2(alone.contains("alsadeviceprovider") && !alone.contains("pulsedeviceprovider"),
                 qPrintable(alone.join(' ')));
    }

    // The default output is the server's default sink (hall), as on a desktop: through
    // PulseAudio's own sink, or through ALSA's, whose ring buffer works otherwise, by way of
    // ALSA's PulseAudio plugin.
    void armedPlaysAreHeardWholeAtTheirSecond_data() {
        QTest::addColumn<QString>("sink");
        QTest::newRow("pulsesink") << "pulsesink";
        QTest::newRow("alsasink") << "alsasink device=pulse";
    }
    // A bell, break music after it, then an event on two zones, each armed ahead as the
    // timetable arms them: each is heard whole, from its second on.
    void armedPlaysAreHeardWholeAtTheirSecond() {
        QFETCH(QString, sink);
        if (!why_.isEmpty()) {
            QSKIP(qPrintable(why_));
        }
        if (sink.startsWith("alsasink") &&
            !QFile::exists("/usr/share/alsa/alsa.conf.d/50-pulseaudio.conf") &&
            !QFile::exists("/usr/share/alsa/alsa.conf.d/pulse.conf")) {
            QSKIP("ALSA's PulseAudio plugin is missing (libasound2-plugins)");
        }
        qputenv("BELVORAN_AUDIO_SINK", sink.toUtf8());
        TempStore store;
        ProgramVars vars;
        SystemClock clock;
        FakePrompt prompt;
        const QString bell = store.dir.path() + "/bell.wav";
        const QString song = store.dir.path() + "/song.wav";
        QVERIFY(media::Make(bell, 1.5) && media::Make(song, 1.2));
        MonitorRecorder hall("hall"), yard("yard");
        LogCapture log;

        const QDateTime t1 = WholeSecondAhead(4), t2 = t1.addSecs(3), t3 = t2.addSecs(4);
        if (t3.date() != t1.date() || t1.date() != QDate::currentDate()) {
            QSKIP("too close to midnight");
        }
        const QString week = WeekdayName(t1.date());
        store.AddEvent({0, week, "上课", TimeText(t1.time()), bell, "00:00:02", "√", "", "111111"});
        store.AddSong("曲库_课间", song, "00:00:01");
        store.AddEvent({0, week, "曲库_课间", TimeText(t2.time()), kBreakMusicFile, "00:00:02", "√",
                        "", "111111"});
        {
            GstPlayer player;
            ScheduleEngine engine(vars, *store.conn, clock, player, &prompt);
            engine.LoadTodayEvents();
            QTest::qWait(int(QDateTime::currentDateTime().msecsTo(t2)) + 2500);
            engine.StopSchedule();
        }
        CheckHeard(hall, log, t1, 1.5, true);
        CheckHeard(hall, log, t2, 1.2, false);

        // Zones 1 and 2 on the two sinks; the event sounds on both at once.
        QVector<ZoneRow> zones;
        QVERIFY(store.conn->Zones(&zones));
        zones[0].sink = sink.startsWith("alsasink") ? sink : "pulsesink device=hall";
        zones[1].sink = "pulsesink device=yard";
        QVERIFY(store.conn->SetZones(zones));
        store.AddEvent({0, week, "广播", TimeText(t3.time()), bell, "00:00:02", "√", "", "110000"});
        {
            GstPlayer player;
            ScheduleEngine engine(vars, *store.conn, clock, player, &prompt);
            engine.LoadTodayEvents();
            QTest::qWait(int(QDateTime::currentDateTime().msecsTo(t3)) + 2500);
            engine.StopSchedule();
        }
        const qint64 t3Ns = WallToMonotonicNs(t3);
        for (const MonitorRecorder* rec : {&hall, &yard}) {
            const auto sounds = rec->Sounds(t3Ns - 1000000000);
            QVERIFY(!sounds.empty());
            QVERIFY2(std::llabs(sounds.front().startNs - t3Ns) <= kOnsetSlackNs,
                     qPrintable(QString::number((sounds.front().startNs - t3Ns) / 1e6)));
            QVERIFY2(std::abs(sounds.front().seconds - 1.5) <= kLengthSlack,
                     qPrintable(QString::number(sounds.front().seconds)));
        }
    }
};

QTEST_MAIN(TestHeard)
#include "test_heard.moc"
