// SPDX-License-Identifier: GPL-3.0-or-later
// The play log's journal priorities: which lines are errors and warnings, and when standard
// error is the journal's stream.
#include "core/play_log.h"

#include <QtTest>

class TestPlayLog : public QObject {
    Q_OBJECT
private slots:
    void priorityFollowsTheFirstWord() {
        QCOMPARE(JournalPriority("error 08:00:00 \"上课\": /a.wav output hw:1 fails"), 3);
        QCOMPARE(JournalPriority("warn  08:00:00 \"上课\" cannot be played: /a.wav gone"), 4);
        QCOMPARE(JournalPriority("warning 2 of today's bells did not sound"), 4);
        QCOMPARE(JournalPriority("missed 08:00:00 \"上课\": the clock reached 08:01:00"), 4);
        QCOMPARE(JournalPriority("cannot keep the computer awake while bells remain"), 4);
        QCOMPARE(JournalPriority("fire  08:00:00 \"上课\": /a.wav"), 6);
        QCOMPARE(JournalPriority("errors are words too"), 6);
        QCOMPARE(JournalPriority(""), 6);
    }

    void journalStreamMatchesDeviceAndInode() {
        QVERIFY(IsJournalStream("8:12345", 8, 12345));
        QVERIFY(IsJournalStream("64769:18446744073709551615", 64769, 18446744073709551615ull));
        QVERIFY(!IsJournalStream("8:12345", 8, 12346)); // a child's other stderr
        QVERIFY(!IsJournalStream("", 0, 0));            // not under systemd
        QVERIFY(!IsJournalStream("8:12345:1", 8, 12345));
        QVERIFY(!IsJournalStream("x:12345", 0, 12345));
    }
};

QTEST_MAIN(TestPlayLog)
#include "test_play_log.moc"
