// SPDX-License-Identifier: GPL-3.0-or-later
// 播放记录: the statements, and the writer that keeps records off the caller's thread.
#include "core/play_log.h"
#include "store/record_writer.h"
#include "support/temp_store.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

namespace {

PlayRecordRow Record(const QString& date, const QString& time, PlayOutcome outcome,
                     int lateMs = -1) {
    return {0, date, time, "上课", "/m/上课.wav", outcome, lateMs, "why"};
}

QStringList Times(Conn& c, const QString& date) {
    QVector<PlayRecordRow> rows;
    c.PlayRecordsOn(date, &rows);
    QStringList out;
    for (const PlayRecordRow& r : rows) {
        out << QString("%1 %2 %3").arg(r.time).arg(int(r.outcome)).arg(r.lateMs);
    }
    return out;
}

} // namespace

class TestPlayRecords : public QObject {
    Q_OBJECT

private slots:
    // Records written by the writer's thread, read by date in time order, pruned by age.
    void theWriterNeverWaitsForTheStoreAndLogsOneLineForARunOfFailures() {
        TempStore s;
        PlayLogCapture log;
        auto writer = std::make_unique<RecordWriter>(s.path);
        QSignalSpy written(writer.get(), &RecordWriter::Written);
        // Another connection holds the store's write lock: adding still returns at once.
        s.Raw("BEGIN IMMEDIATE");
        QElapsedTimer took;
        took.start();
        writer->Add(Record("2026-12-07", "11:00:00", PlayOutcome::Skipped));
        writer->Add(Record("2026-12-07", "08:00:00", PlayOutcome::Fired, 3));
        QVERIFY2(took.elapsed() < 200, qPrintable(QString::number(took.elapsed())));
        s.Raw("COMMIT");
        QTRY_COMPARE(written.size(), 2);
        // The table cannot be written: each record is lost alone, one line for the run.
        s.Raw("ALTER TABLE 播放记录 RENAME TO 旧");
        writer->Add(Record("2026-12-07", "09:00:00", PlayOutcome::Fired));
        writer->Add(Record("2026-12-07", "10:00:00", PlayOutcome::Failed));
        QTRY_COMPARE(written.size(), 4);
        s.Raw("ALTER TABLE 旧 RENAME TO 播放记录");
        writer->Add(Record("2026-12-08", "08:00:00", PlayOutcome::Fired));
        QTRY_COMPARE(written.size(), 5);
        QVERIFY(written[1][0].toBool() && !written[2][0].toBool() && !written[3][0].toBool());
        QVERIFY(written[4][0].toBool());
        QCOMPARE(log.Matching("is not kept").size(), 1);
        QVERIFY(log.Matching("is not kept")[0].contains("09:00:00"));
        // What is queued when the writer ends is still written.
        writer->Add(Record("2026-10-06", "23:00:00", PlayOutcome::Missed));
        writer.reset();
        // An unknown lateness stays unknown, not 0.
        QCOMPARE(Times(*s.conn, "2026-12-07"), (QStringList{"08:00:00 0 3", "11:00:00 1 -1"}));
        QVERIFY(s.conn->AddPlayRecord(Record("2026-10-07", "23:00:00", PlayOutcome::Missed)));
        // 60 days back from 2026-12-06 is 2026-10-07: kept; the day before goes.
        int removed = -1;
        QVERIFY(s.conn->PrunePlayRecords(QDate(2026, 12, 6), 60, &removed));
        QCOMPARE(removed, 1);
        QStringList dates;
        QVERIFY(s.conn->PlayRecordDates(&dates));
        QCOMPARE(dates, (QStringList{"2026-10-07", "2026-12-07", "2026-12-08"}));
    }
    // The store cannot be opened for a while (a restore moved the file aside and left a
    // folder in its place): the records of that while are lost, and once the file is back
    // the writer opens it again, so the records after it are kept.
    void recordsAreKeptAgainOnceTheStoreCanBeOpenedAgain() {
        TempStore s;
        PlayLogCapture log;
        RecordWriter writer(s.path);
        QSignalSpy written(&writer, &RecordWriter::Written);
        writer.Add(Record("2026-12-07", "08:00:00", PlayOutcome::Fired));
        QTRY_COMPARE(written.size(), 1);
        QVERIFY(QFile::rename(s.path, s.path + ".aside") && QDir().mkdir(s.path));
        writer.Add(Record("2026-12-07", "09:00:00", PlayOutcome::Fired));
        QTRY_COMPARE(written.size(), 2);
        QVERIFY(!written[1][0].toBool());
        QVERIFY(QDir().rmdir(s.path) && QFile::rename(s.path + ".aside", s.path));
        writer.Add(Record("2026-12-07", "10:00:00", PlayOutcome::Fired));
        QTRY_COMPARE(written.size(), 3);
        QVERIFY(written[2][0].toBool());
        QCOMPARE(Times(*s.conn, "2026-12-07"), (QStringList{"08:00:00 0 -1", "10:00:00 0 -1"}));
    }
};

QTEST_GUILESS_MAIN(TestPlayRecords)
#include "test_play_records.moc"
