// SPDX-License-Identifier: GPL-3.0-or-later
// Statements of the break-music libraries and the rain replacements: each change is all or
// nothing, every value is bound, and deleting replacements clears vanished references.
#include "store/conn.h"
#include "support/temp_store.h"

#include <QtTest>

namespace {

EventRow Event(const QString& week, const QString& event, const QString& replace = {}) {
    EventRow r;
    r.weekName = week;
    r.event = event;
    r.startTime = "08:00:00";
    r.musicFile = "/m/a.mp3";
    r.musicLength = "00:01:00";
    r.playFlag = "√";
    r.replace = replace;
    return r;
}

QString List(TempStore& s) {
    QString text;
    s.conn->ReadLibraryList(&text);
    return text;
}

QStringList EventNames(TempStore& s) {
    QVector<EventRow> rows;
    s.conn->AllEvents(&rows);
    QStringList names;
    for (const EventRow& r : rows) {
        names << r.weekName + ":" + r.event + ":" + r.replace;
    }
    return names;
}

} // namespace

class TestLibraries : public QObject {
    Q_OBJECT

private slots:
    void librariesAreAppendedInOrder() {
        TempStore s;
        QVERIFY(s.conn->CreateLibrary("曲库_A"));
        QCOMPARE(List(s), QString("曲库_A"));
        QVERIFY(s.conn->CreateLibrary("曲库_B"));
        QCOMPARE(List(s), QString("曲库_A|曲库_B"));
    }

    void aDuplicateOrASeparatorIsRefusedAndNothingChanges() {
        TempStore s;
        QVERIFY(s.conn->CreateLibrary("曲库_A"));
        QString error;
        QVERIFY(!s.conn->CreateLibrary("曲库_A", &error));
        QVERIFY(!error.isEmpty());
        error.clear();
        QVERIFY(!s.conn->CreateLibrary("曲库_x|y", &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(List(s), QString("曲库_A"));
    }

    void moreThanTwoHundredFiftySixLibraries() {
        TempStore s;
        for (int i = 0; i < 300; ++i) {
            QVERIFY(s.conn->CreateLibrary(QString("曲库_%1").arg(i)));
        }
        QCOMPARE(List(s).split('|').size(), 300);
        QVERIFY(s.conn->DeleteLibrary("曲库_299"));
        QCOMPARE(List(s).split('|').size(), 299);
    }

    void deletingALibraryTakesItsEventsOnEveryWeekdayAndItsSongs() {
        TempStore s;
        for (const QString n : {"曲库_A", "曲库_B", "曲库_C"}) {
            QVERIFY(s.conn->CreateLibrary(n));
            s.AddSong(n, "/m/" + n + ".mp3", "00:03:00");
        }
        for (const QString day : {"星期一", "星期三", "星期日"}) {
            s.AddEvent(Event(day, "曲库_B"));
            s.AddEvent(Event(day, "上课"));
        }
        QVERIFY(s.conn->DeleteLibrary("曲库_B"));
        QCOMPARE(List(s), QString("曲库_A|曲库_C"));
        QVERIFY(s.LibrarySongs("曲库_B").isEmpty());
        QCOMPARE(s.LibrarySongs("曲库_A").size(), 1);
        QCOMPARE(EventNames(s), (QStringList{"星期一:上课:", "星期三:上课:", "星期日:上课:"}));
        QVERIFY(s.conn->DeleteLibrary("曲库_A"));
        QVERIFY(s.conn->DeleteLibrary("曲库_C"));
        QCOMPARE(List(s), QString(""));
    }

    void aFailedLibraryDeleteChangesNothing() {
        TempStore s;
        QVERIFY(s.conn->CreateLibrary("曲库_A"));
        s.AddEvent(Event("星期一", "曲库_A"));
        s.Raw("CREATE TRIGGER refuse BEFORE DELETE ON 课间音乐 BEGIN SELECT RAISE(ABORT, "
              "'disk says no'); END");
        s.AddSong("曲库_A", "/m/a.mp3", "00:01:00");
        QString error;
        QVERIFY(!s.conn->DeleteLibrary("曲库_A", &error));
        QVERIFY2(error.contains("disk says no"), qPrintable(error));
        QCOMPARE(List(s), QString("曲库_A"));
        QCOMPARE(EventNames(s), QStringList{"星期一:曲库_A:"});
    }

    void aFailedLibraryCreateChangesNothing() {
        TempStore s;
        s.Raw("CREATE TRIGGER refuse BEFORE UPDATE ON config BEGIN SELECT RAISE(ABORT, 'no'); "
              "END");
        QString error;
        QVERIFY(!s.conn->CreateLibrary("曲库_A", &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(List(s), QString(""));
    }

    void songsAreAddedAllOrNothing() {
        TempStore s;
        QVector<SongRow> songs = {{0, {}, "/m/1.mp3", "00:03:00"}, {0, {}, "/m/2.mp3", "00:04:00"}};
        QVERIFY(s.conn->AddSongs("曲库_A", songs));
        QCOMPARE(s.LibrarySongs("曲库_A").size(), 2);
        QCOMPARE(s.LibrarySongs("曲库_A")[1].length, QString("00:04:00"));

        s.Raw("CREATE TRIGGER refuse BEFORE INSERT ON 课间音乐 WHEN NEW.音乐文件 LIKE '%bad%' "
              "BEGIN SELECT RAISE(ABORT, 'bad file'); END");
        songs = {{0, {}, "/m/3.mp3", "00:03:00"}, {0, {}, "/m/bad.mp3", "00:04:00"}};
        QString error;
        QVERIFY(!s.conn->AddSongs("曲库_A", songs, &error));
        QVERIFY(error.contains("bad file"));
        QCOMPARE(s.LibrarySongs("曲库_A").size(), 2);
    }

    void quotesInNamesAndPaths() {
        TempStore s;
        const QString lib = "曲库_it's \"ours\"";
        QVERIFY(s.conn->CreateLibrary(lib));
        QVERIFY(s.conn->AddSongs(lib, {{0, {}, "/m/it's \"a\".mp3", "00:00:01"}}));
        s.AddEvent(Event("星期二", lib));
        QCOMPARE(s.LibrarySongs(lib).value(0).file, QString("/m/it's \"a\".mp3"));
        QVERIFY(s.conn->DeleteLibrary(lib));
        QCOMPARE(List(s), QString(""));
        QVERIFY(EventNames(s).isEmpty());
        QVERIFY(s.LibrarySongs(lib).isEmpty());

        const QString rain = "雷雨 'heavy' \"rain\"";
        const qint64 id = s.AddReplace(rain, "/m/r.mp3", "00:03:25");
        s.AddEvent(Event("星期二", "上课", rain));
        QVERIFY(s.conn->DeleteReplacements({id}));
        QCOMPARE(EventNames(s), QStringList{"星期二:上课:"});
    }

    void deletingTheOnlyNameClearsItsEvents() {
        TempStore s;
        const qint64 a = s.AddReplace("雷雨", "/m/r.mp3", "00:03:25");
        s.AddReplace("小雨", "/m/s.mp3", "00:01:00");
        s.AddEvent(Event("星期一", "上课", "雷雨"));
        s.AddEvent(Event("星期五", "下课", "雷雨"));
        s.AddEvent(Event("星期五", "午休", "小雨"));
        QVERIFY(s.conn->DeleteReplacements({a}));
        QCOMPARE(EventNames(s), (QStringList{"星期一:上课:", "星期五:下课:", "星期五:午休:小雨"}));
        QCOMPARE(s.ReplaceRows().size(), 1);
    }

    void deletingOneOfTwoSameNamesClearsNothing() {
        TempStore s;
        const qint64 a = s.AddReplace("雷雨", "/m/r1.mp3", "00:03:25");
        s.AddReplace("雷雨", "/m/r2.mp3", "00:03:25");
        s.AddEvent(Event("星期一", "上课", "雷雨"));
        QVERIFY(s.conn->DeleteReplacements({a}));
        QCOMPARE(EventNames(s), QStringList{"星期一:上课:雷雨"});
        QCOMPARE(s.ReplaceRows().value(0).file, QString("/m/r2.mp3"));
    }

    void aFailedReplacementDeleteChangesNothing() {
        TempStore s;
        const qint64 a = s.AddReplace("雷雨", "/m/r.mp3", "00:03:25");
        s.AddEvent(Event("星期一", "上课", "雷雨"));
        s.Raw("CREATE TRIGGER refuse BEFORE UPDATE ON 作息表 BEGIN SELECT RAISE(ABORT, 'no'); END");
        QString error;
        QVERIFY(!s.conn->DeleteReplacements({a}, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(s.ReplaceRows().size(), 1);
        QCOMPARE(EventNames(s), QStringList{"星期一:上课:雷雨"});
    }
};

QTEST_GUILESS_MAIN(TestLibraries)
#include "test_libraries.moc"
