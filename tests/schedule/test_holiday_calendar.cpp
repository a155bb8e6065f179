// SPDX-License-Identifier: GPL-3.0-or-later
// Holiday lists in iCalendar form: one-day and multi-day all-day events, folded lines, and
// every kind of fault reported with its line, with nothing returned from a faulty file.
#include "schedule/holiday_calendar.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QDate kToday(2026, 9, 28);

// An iCalendar file around the given VEVENT lines, CRLF line ends as the form asks.
QByteArray Calendar(const QStringList& eventLines) {
    QStringList all = {"BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//某地教育局//校历//ZH"};
    all += eventLines;
    all << "END:VCALENDAR";
    return (all.join("\r\n") + "\r\n").toUtf8();
}

// count events of 366 days, step days apart from first; event k begins at line 4 + 4k.
QByteArray LongEvents(const QDate& first, int count, int step) {
    QStringList lines;
    for (int k = 0; k < count; ++k) {
        lines << "BEGIN:VEVENT"
              << "DTSTART;VALUE=DATE:" + first.addDays(qint64(k) * step).toString("yyyyMMdd")
              << "DURATION:P366D"
              << "END:VEVENT";
    }
    return Calendar(lines);
}

QStringList Texts(const QVector<SpecialDayRow>& rows) {
    QStringList out;
    for (const SpecialDayRow& r : rows) {
        out << r.date + "|" + r.kind + "|" + r.note;
    }
    return out;
}

} // namespace

class TestHolidayCalendar : public QObject {
    Q_OBJECT

private slots:
    void oneDayAndARangeWithAnExclusiveEnd() {
        const QByteArray ics = Calendar({
            "BEGIN:VEVENT",
            "UID:1@example",
            "DTSTART;VALUE=DATE:20260101",
            "SUMMARY:元旦",
            "END:VEVENT", //
            "BEGIN:VEVENT",
            "UID:2@example",
            "DTSTART;VALUE=DATE:20261001",
            "DTEND;VALUE=DATE:20261004",
            "SUMMARY:国庆节",
            "END:VEVENT",
        });
        QVector<SpecialDayRow> days;
        QString error;
        QVERIFY2(ReadHolidayCalendar(ics, kToday, &days, &error), qPrintable(error));
        QCOMPARE(Texts(days),
                 QStringList({"2026-01-01|无铃声|元旦", "2026-10-01|无铃声|国庆节",
                              "2026-10-02|无铃声|国庆节", "2026-10-03|无铃声|国庆节"}));
    }

    void aDurationInDaysAcrossTheYearEnd() {
        const QByteArray ics = Calendar({"BEGIN:VEVENT", "DTSTART;VALUE=DATE:20261230",
                                         "DURATION:P1W", "SUMMARY:寒假", "END:VEVENT"});
        QVector<SpecialDayRow> days;
        QString error;
        QVERIFY2(ReadHolidayCalendar(ics, kToday, &days, &error), qPrintable(error));
        QCOMPARE(days.size(), 7);
        QCOMPARE(days.first().date, QString("2026-12-30"));
        QCOMPARE(days.last().date, QString("2027-01-05"));
    }

    void foldedLinesEscapesAndAByteOrderMark() {
        QByteArray ics = Calendar({"BEGIN:VEVENT", "DTSTART;VALUE=DATE:20260501",
                                   "SUMMARY:劳动节\\, 五一", " 假期", "END:VEVENT"});
        ics.prepend("\xEF\xBB\xBF");
        QVector<SpecialDayRow> days;
        QString error;
        QVERIFY2(ReadHolidayCalendar(ics, kToday, &days, &error), qPrintable(error));
        QCOMPARE(Texts(days), QStringList({"2026-05-01|无铃声|劳动节, 五一假期"}));
    }

    void faultsAreReportedWithTheirLine_data() {
        QTest::addColumn<QByteArray>("ics");
        QTest::addColumn<QString>("expect");
        // Lines 1-3 are the calendar's head: the first event line is line 4.
        const QString begin = "BEGIN:VEVENT";
        QTest::newRow("unreadable date")
            << Calendar({begin, "DTSTART;VALUE=DATE:2026X001", "END:VEVENT"}) << "第 5 行";
        QTest::newRow("no such day")
            << Calendar({begin, "DTSTART;VALUE=DATE:20261345", "END:VEVENT"}) << "第 5 行";
        QTest::newRow("no property name")
            << Calendar({begin, "DTSTART;VALUE=DATE:20261001", "这一行不是属性", "END:VEVENT"})
            << "第 6 行";
        QTest::newRow("a time, not a day")
            << Calendar({begin, "SUMMARY:x", "DTSTART:20261001T080000", "END:VEVENT"}) << "第 6 行";
        QTest::newRow("end before start") << Calendar({begin, "DTSTART;VALUE=DATE:20261005",
                                                       "DTEND;VALUE=DATE:20261001", "END:VEVENT"})
                                          << "第 6 行";
        QTest::newRow("no start") << Calendar({begin, "SUMMARY:无日期", "END:VEVENT"}) << "第 4 行";
        QTest::newRow("repeating")
            << Calendar({begin, "DTSTART;VALUE=DATE:20261001", "RRULE:FREQ=YEARLY", "END:VEVENT"})
            << "第 6 行";
        QTest::newRow("unclosed event")
            << QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART;VALUE=DATE:20261001\r\n")
            << "第 2 行";
        QTest::newRow("mismatched end")
            << Calendar({begin, "DTSTART;VALUE=DATE:20261001", "END:VTODO"}) << "第 6 行";
        QTest::newRow("30 February")
            << Calendar({begin, "DTSTART;VALUE=DATE:20260230", "END:VEVENT"})
            << "第 5 行：开始日期 20260230 不存在";
        QTest::newRow("year 0000") << Calendar({begin, "DTSTART;VALUE=DATE:20261001",
                                                "DTEND;VALUE=DATE:00000101", "END:VEVENT"})
                                   << "第 6 行：结束日期 00000101 不存在";
        // 5,000 years of holidays from 2030: the first event past 2036-09-28 is refused.
        QTest::newRow("years away")
            << LongEvents({2030, 1, 1}, 5000, 366) << "第 28 行：日期 2037-01-05";
        QTest::newRow("more days than a school's")
            << LongEvents({2017, 1, 1}, 11, 366) << "第 44 行：日历中的日期超过 3660 天";
        QTest::newRow("no events") << Calendar({}) << "没有节假日";
        QTest::newRow("empty") << QByteArray("\r\n") << "空";
    }
    void faultsAreReportedWithTheirLine() {
        QFETCH(QByteArray, ics);
        QFETCH(QString, expect);
        QVector<SpecialDayRow> days = {{7, "2000-01-01", "无铃声", "before"}};
        QString error;
        QVERIFY(!ReadHolidayCalendar(ics, kToday, &days, &error));
        QVERIFY2(error.contains(expect), qPrintable(error));
        QCOMPARE(days.size(), 1); // left as it was
    }

    void oneBadEventAmongGoodOnesGivesNothing() {
        const QByteArray ics = Calendar({
            "BEGIN:VEVENT",
            "DTSTART;VALUE=DATE:20261001",
            "SUMMARY:好",
            "END:VEVENT",
            "BEGIN:VEVENT",
            "DTSTART;VALUE=DATE:20261301",
            "SUMMARY:坏",
            "END:VEVENT",
        });
        QVector<SpecialDayRow> days;
        QString error;
        QVERIFY(!ReadHolidayCalendar(ics, kToday, &days, &error));
        QVERIFY2(error.contains("第 9 行"), qPrintable(error));
        QVERIFY(days.isEmpty());
    }

    // Days two events share are one day, with the first event's note; a note is cut to the
    // note box's length.
    void sharedDaysCountOnceAndLongNotesAreCut() {
        QStringList lines = QString("BEGIN:VEVENT|DTSTART;VALUE=DATE:20261001|DURATION:P3D|"
                                    "SUMMARY:国庆|END:VEVENT|BEGIN:VEVENT|DTSTART;VALUE=DATE:"
                                    "20261003|DURATION:P2D|END:VEVENT|BEGIN:VEVENT|DTSTART;"
                                    "VALUE=DATE:20261002|END:VEVENT")
                                .split('|');
        lines.insert(8, "SUMMARY:" + QString(1 << 20, QChar(u'长')));
        QVector<SpecialDayRow> days;
        QString error;
        QVERIFY2(ReadHolidayCalendar(Calendar(lines), kToday, &days, &error), qPrintable(error));
        QCOMPARE(days.size(), 4);
        QCOMPARE(days[2].note, QString("国庆"));
        QCOMPARE(days[3].note, QString(kMaxSpecialDayNote, QChar(u'长')));
    }

    void aFileThatCannotBeOpenedSaysSo() {
        QVector<SpecialDayRow> days;
        QString error;
        QVERIFY(!ReadHolidayCalendarFile("/nonexistent/假期.ics", kToday, &days, &error));
        QVERIFY2(error.contains("/nonexistent/假期.ics"), qPrintable(error));
    }

    void aFileIsReadFromDisk() {
        QTemporaryDir dir;
        QFile f(dir.path() + "/假期.ics");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Calendar({"BEGIN:VEVENT", "DTSTART;VALUE=DATE:20261001", "END:VEVENT"}));
        f.close();
        QVector<SpecialDayRow> days;
        QString error;
        QVERIFY2(ReadHolidayCalendarFile(f.fileName(), kToday, &days, &error), qPrintable(error));
        QCOMPARE(Texts(days), QStringList({"2026-10-01|无铃声|"}));
    }
};

QTEST_GUILESS_MAIN(TestHolidayCalendar)
#include "test_holiday_calendar.moc"
