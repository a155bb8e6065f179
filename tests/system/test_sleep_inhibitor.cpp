// SPDX-License-Identifier: GPL-3.0-or-later
// The sleep lock against a stand-in systemd-logind on a bus of the test's own.
#include "core/play_log.h"
#include "system/sleep_inhibitor.h"

#include <QProcess>
#include <QtTest>

#include <poll.h>
#include <unistd.h>

// logind as far as Inhibit goes: each lock is the write end of a pipe, let go once no copy
// of it is open, when its read end is at its end.
class StandInLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QStringList asked;
    QVector<pollfd> locks;
    bool LetGo(int i) { return ::poll(&locks[i], 1, 0) == 1; }
public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        asked << QStringList{what, who, why, mode}.join('|');
        int ends[2] = {-1, -1};
        (void)::pipe(ends);
        locks.push_back({ends[0], POLLIN, 0});
        const QDBusUnixFileDescriptor lock(ends[1]); // a copy of its own
        ::close(ends[1]);
        return lock;
    }
};

class TestSleepInhibitor : public QObject {
    Q_OBJECT
    QProcess bus;
    StandInLogind logind;

private slots:
    void initTestCase() {
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
        QVERIFY(bus.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        QDBusConnection standIn = QDBusConnection::connectToBus(address, "logind");
        QVERIFY(standIn.registerService("org.freedesktop.login1"));
        QVERIFY(standIn.registerObject("/org/freedesktop/login1", &logind,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(QDBusConnection::connectToBus(address, "program").isConnected());
    }
    void cleanupTestCase() { bus.kill(), bus.waitForFinished(); }
    void heldWhileBellsRemainLetGoAfterTheLast() {
        LogindSleepLock lock(QDBusConnection("program"));
        BellsKeepAwake awake(lock);
        awake.Update(true, "14:30:00", "上课");
        QTRY_VERIFY(lock.Held());
        QCOMPARE(logind.asked, QStringList{"sleep:idle|Belvoran|下一个铃声 14:30:00 上课|block"});
        awake.Update(true, "14:30:00", "上课"); // the label's next second asks nothing
        awake.Update(true, "15:15:00", QString(30, QChar(0x94c3))); // a long name cut short
        QTRY_VERIFY(logind.LetGo(0)); // once the next bell's lock was taken
        QVERIFY(lock.Held() && !logind.LetGo(1));
        QVERIFY(logind.asked[1].endsWith(QString(23, QChar(0x94c3)) + QChar(0x2026) + "|block"));
        // The last bell has rung but its break music plays on: still held, until it ends.
        awake.Update(false, "00:00:00", "", true);
        QTRY_VERIFY(logind.LetGo(1));
        QVERIFY(lock.Held() && logind.asked.last().contains("|正在播放|"));
        awake.Update(false, "00:00:00", "");
        QVERIFY(!lock.Held() && logind.LetGo(2));

        // Without logind the log says so once, and nothing else happens.
        QVERIFY(QDBusConnection("logind").unregisterService("org.freedesktop.login1"));
        PlayLogCapture log;
        QSignalSpy refused(&lock, &SleepLock::Refused);
        awake.Update(true, "16:00:00", "放学");
        QTRY_COMPARE(refused.size(), 1);
        awake.Update(true, "16:30:00", "自习");
        QTRY_COMPARE(refused.size(), 2);
        QCOMPARE(log.Matching("cannot keep the computer awake").size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSleepInhibitor)
#include "test_sleep_inhibitor.moc"
