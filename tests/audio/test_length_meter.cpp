// SPDX-License-Identifier: GPL-3.0-or-later
// The length meter on media made at test time, compared with a full decode of each file.
#include "audio/formats.h"
#include "audio/length_meter.h"
#include "support/media.h"

#include <QTemporaryDir>
#include <QtTest>

#include <gst/app/gstappsink.h>

namespace {

// Seconds of audio a full decode of the file gives (samples counted at the sink).
double DecodedSeconds(const QString& path) {
    QString quoted = path;
    quoted.replace("\"", "\\\"");
    GError* err = nullptr;
    GstElement* pipeline = gst_parse_launch(
        QString("filesrc location=\"%1\" ! decodebin ! audioconvert ! "
                "audio/x-raw,format=S16LE,channels=1 ! appsink name=sink sync=false")
            .arg(quoted)
            .toUtf8()
            .constData(),
        &err);
    if (!pipeline) {
        g_clear_error(&err);
        return -1;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    qint64 samples = 0;
    int rate = 0;
    while (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink))) {
        GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        gst_structure_get_int(s, "rate", &rate);
        samples += gst_buffer_get_size(gst_sample_get_buffer(sample)) / 2;
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return rate > 0 ? double(samples) / rate : -1;
}

bool HasVbrHeader(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray head = f.read(8192);
    return head.contains("Xing") || head.contains("Info") || head.contains("VBRI");
}

// A format-1 MIDI file: a tempo track of the given events (hex) and a note track of four
// quarters.
QByteArray TwoTrackMidi(const QByteArray& tempoEvents) {
    auto track = [](const QByteArray& events) {
        const quint32 n = events.size();
        return QByteArray("MTrk") + char(n >> 24) + char(n >> 16) + char(n >> 8) + char(n) + events;
    };
    const QByteArray tempo = QByteArray::fromHex(tempoEvents + "00FF2F00");
    const QByteArray notes = QByteArray::fromHex("00C000"
                                                 "00903C64"
                                                 "8F00803C40" // note off at 1920
                                                 "00FF2F00");
    return QByteArray::fromHex("4D546864000000060001000201E0") + track(tempo) + track(notes);
}

// Tempo `first` microseconds a quarter, then `second` from the third quarter on.
QByteArray TempoChangingMidi(const char* first, const char* second) {
    return TwoTrackMidi(QByteArray("00FF5103") + first + "8740FF5103" + second);
}

} // namespace

class TestLengthMeter : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.path() + "/" + name; }

private slots:
    void initTestCase() {
        gst_init(nullptr, nullptr);
        for (const QString ext : {"wav", "mp3", "ogg", "flac", "wma", "mid"}) {
            QVERIFY2(media::Make(Path("tone." + ext), 7.3), qPrintable(ext));
        }
        QVERIFY(media::VbrMp3(Path("vbr.mp3"), 60));
        QFile text(Path("notes.mp3"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("these are not sound at all, only words in a file named like music\n");
        text.close();
        QFile junk(Path("junk.mid"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4000, 'x'));
    }

    void eachFormatIsWithinATenthOfAFullDecode_data() {
        QTest::addColumn<QString>("file");
        for (const QString ext : {"wav", "mp3", "ogg", "flac", "wma", "mid"}) {
            QTest::newRow(qPrintable(ext)) << "tone." + ext;
        }
        QTest::newRow("vbr mp3 without a header") << "vbr.mp3";
    }
    void eachFormatIsWithinATenthOfAFullDecode() {
        QFETCH(QString, file);
        const double measured = LengthMeter::Measure(Path(file));
        const double decoded = DecodedSeconds(Path(file));
        QVERIFY2(decoded > 0, "the test cannot decode its own file");
        QVERIFY2(qAbs(measured - decoded) < 0.1,
                 qPrintable(QString("measured %1 s, decoded %2 s").arg(measured).arg(decoded)));
    }

    void theVbrTestFileReallyHasNoLengthHeader() {
        // Otherwise the test above would not exercise the frame scan's reason to exist.
        QVERIFY(!HasVbrHeader(Path("vbr.mp3")));
        QVERIFY(qAbs(LengthMeter::Measure(Path("vbr.mp3")) - 60) < 0.1);
    }

    void midiTempoChangesAreTimedAsPlaybackTimesThem_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("faster") << TempoChangingMidi("0F4240", "03D090");
        QTest::newRow("slower") << TempoChangingMidi("03D090", "0F4240");
        // The only tempo (600 a minute) comes at pulse 1800, after the notes began: it
        // times the whole file (0.40 s), not 120 a minute until then (1.875 s).
        QTest::newRow("tempo after the first notes") << TwoTrackMidi("8E08FF51030186A0");
    }
    void midiTempoChangesAreTimedAsPlaybackTimesThem() {
        QFETCH(QByteArray, bytes);
        QFile f(Path("tempo.mid"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        const double measured = LengthMeter::Measure(Path("tempo.mid"));
        const double decoded = DecodedSeconds(Path("tempo.mid"));
        QVERIFY2(qAbs(measured - decoded) < 0.1,
                 qPrintable(QString("measured %1 s, decoded %2 s").arg(measured).arg(decoded)));
    }

    void whatIsNotSoundHasNoLength() {
        QCOMPARE(LengthMeter::Measure(Path("notes.mp3")), -1.0);
        QCOMPARE(LengthMeter::Measure(Path("junk.mid")), -1.0);
        QCOMPARE(LengthMeter::Measure(Path("missing.wav")), -1.0);
        QCOMPARE(LengthMeter::Measure(dir.path()), -1.0);
        QCOMPARE(LengthMeter::Measure(QString()), -1.0);
    }

    void namesWithQuotesAndChineseAreMeasured() {
        const QString odd = Path("雨天 it's \"quoted\".mp3");
        QVERIFY(QFile::copy(Path("tone.mp3"), odd));
        QVERIFY(qAbs(LengthMeter::Measure(odd) - 7.3) < 0.1);
        const QString oddOgg = Path("雨天 it's \"quoted\".ogg");
        QVERIFY(QFile::copy(Path("tone.ogg"), oddOgg));
        QVERIFY(qAbs(LengthMeter::Measure(oddOgg) - 7.3) < 0.1);
    }

    void manyFilesKeepTheirOrderAndBadOnesGetMinusOne() {
        QStringList files;
        for (int i = 0; i < 30; ++i) {
            files << Path(QStringList{"tone.wav", "notes.mp3", "tone.mid", "tone.ogg", "vbr.mp3",
                                      "tone.flac"}[i % 6]);
        }
        QVector<double> lengths;
        QList<int> seen;
        QVERIFY(LengthMeter::MeasureAll(
            files, &lengths, [&](int done, int total) { seen << done << total; }, {}, 3));
        QCOMPARE(lengths.size(), files.size());
        for (int i = 0; i < files.size(); ++i) {
            const double expected = i % 6 == 1 ? -1 : i % 6 == 4 ? 60 : 7.3;
            QVERIFY2(qAbs(lengths[i] - expected) < 0.1, qPrintable(files[i]));
        }
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.mid(seen.size() - 2), (QList<int>{30, 30}));
    }

    void cancellingGivesNoLengths() {
        QStringList files;
        for (int i = 0; i < 200; ++i) {
            files << Path("tone.ogg");
        }
        QVector<double> lengths{1, 2, 3};
        int asked = 0;
        QVERIFY(!LengthMeter::MeasureAll(files, &lengths, {}, [&] { return ++asked >= 1; }));
        QVERIFY(lengths.isEmpty());
    }

    void anEmptyListIsDoneAtOnce() {
        QVector<double> lengths{1};
        QVERIFY(LengthMeter::MeasureAll({}, &lengths));
        QVERIFY(lengths.isEmpty());
    }

    // A soundfont in the user's data folder comes first; without one anywhere, Debian's path.
    void theSoundFontIsLookedUpInTheDataFolders() {
        const QByteArray home = qgetenv("XDG_DATA_HOME"), dirs = qgetenv("XDG_DATA_DIRS");
        QTemporaryDir data;
        QVERIFY(QDir(data.path()).mkpath("home/sounds/sf2") && QDir(data.path()).mkpath("none"));
        QFile own(data.path() + "/home/sounds/sf2/TimGM6mb.sf2");
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.close();
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path() + "/home"));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(data.path() + "/none"));
        const QByteArray found = MidiSoundFont();
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path() + "/none"));
        const QByteArray fallback = MidiSoundFont();
        for (const auto& [name, value] :
             {std::pair{"XDG_DATA_HOME", home}, std::pair{"XDG_DATA_DIRS", dirs}}) {
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        }
        QCOMPARE(found, QFile::encodeName(own.fileName()));
        QCOMPARE(fallback, QByteArray("/usr/share/sounds/sf2/TimGM6mb.sf2"));
    }
};

QTEST_GUILESS_MAIN(TestLengthMeter)
#include "test_length_meter.moc"
