// SPDX-License-Identifier: GPL-3.0-or-later
// The real program as a user starts it: a schedule that plays at its seconds, one copy at
// a time, a damaged database refused without being touched, and an end on SIGTERM.
#include "core/time_text.h"
#include "core/version.h"
#include "store/conn.h"
#include "support/media.h"
#include "support/temp_store.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

QProcessEnvironment Env(const QString& runtimeDir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("BELVORAN_AUDIO_SINK", "fakesink sync=true");
    env.insert("XDG_RUNTIME_DIR", runtimeDir);
    env.insert("XDG_CONFIG_HOME", runtimeDir + "/config");
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + runtimeDir + "/no_bus_here");
    return env;
}

struct Answer {
    int code = -1;
    QString out, err;
};

// Another start of the program with args, without a display, as a user types it.
Answer Ask(const QString& runtimeDir, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = Env(runtimeDir);
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    p.setProcessEnvironment(env);
    p.start(BELVORAN_BIN, args);
    p.waitForFinished(10000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT

    QTemporaryDir runtime;

private slots:
    void initTestCase() {
        gst_init(nullptr, nullptr);
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
    }

    void versionAndHelpNeedNoDisplay() {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        p.setProcessEnvironment(env);
        p.start(BELVORAN_BIN, {"--version"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.readAllStandardOutput(), "belvoran " + kProgramVersion.toUtf8() + "\n");
        p.start(BELVORAN_BIN, {"--nonsense"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
        QCOMPARE(p.readAllStandardError(),
                 QByteArray("belvoran: unknown option: --nonsense\n"
                            "Try 'belvoran --help' for more information.\n"));
        p.start(BELVORAN_BIN, {"--help"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().contains("--database PATH"));
        QCOMPARE(p.readAllStandardError(), QByteArray());
    }

    // Events two and four seconds ahead, one with a rain replacement and rain mode on:
    // the play log shows each fired at its second with the right file.
    void playsTheScheduleAtItsSeconds() {
        const QTime now = QTime::currentTime();
        if (now > QTime(23, 59, 40)) {
            QSKIP("too close to midnight for a same-day schedule");
        }
        TempStore s;
        const QString bell = s.dir.path() + "/上课 铃.wav";
        const QString own = s.dir.path() + "/own.wav";
        const QString rain = s.dir.path() + "/雨天's.wav";
        QVERIFY(media::Make(bell, 1) && media::Make(own, 1) && media::Make(rain, 1));
        const QDateTime start = QDateTime::currentDateTime().addSecs(3);
        const QString week = WeekdayName(start.date());
        const QString t1 = TimeText(start.time().addSecs(2));
        const QString t2 = TimeText(start.time().addSecs(4));
        QVERIFY(s.AddEvent({0, week, "上课", t1, bell, "00:00:01", "√", "", "111111"}) > 0);
        QVERIFY(s.AddEvent({0, week, "广播", t2, own, "00:00:01", "√", "雨天", "111111"}) > 0);
        QVERIFY(s.AddReplace("雨天", rain, "00:00:01") > 0);
        s.Raw("UPDATE config SET 记住替代音乐=1, 替代音乐=1");
        s.conn.reset();

        QProcess app;
        app.setProcessEnvironment(Env(runtime.path()));
        app.start(BELVORAN_BIN, {"--database", s.path});
        QVERIFY(app.waitForStarted());
        // Until both events have fired: the second one's line ends the wait.
        QString log;
        const QString second = QString(" fire  %1 ").arg(t2);
        (void)QTest::qWaitFor(
            [&] {
                log += QString::fromUtf8(app.readAllStandardError());
                return log.contains(second) && log.indexOf('\n', log.indexOf(second)) > 0;
            },
            int(QDateTime::currentDateTime().msecsTo(start)) + 30000);
        app.terminate();
        QVERIFY(app.waitForFinished(5000));
        log += QString::fromUtf8(app.readAllStandardError());

        for (const auto& [at, file] : {std::pair{t1, bell}, std::pair{t2, rain}}) {
            const QRegularExpression line(
                QString(R"((\d\d:\d\d:\d\d)\.(\d{3}) fire  %1 .*: %2)")
                    .arg(QRegularExpression::escape(at), QRegularExpression::escape(file)));
            const auto m = line.match(log);
            QVERIFY2(m.hasMatch(), qPrintable(log));
            QCOMPARE(m.captured(1), at);          // in its own second …
            QVERIFY(m.captured(2).toInt() < 200); // … within its first fifth
        }
        QVERIFY2(!log.contains(own), qPrintable(log)); // rain mode played the replacement
    }

    // SIGTERM in the middle of a bell ends the program as its tray's exit does.
    void sigtermEndsItAsTheExitDoes() {
        if (QTime::currentTime() > QTime(23, 59, 30)) {
            QSKIP("too close to midnight for a same-day schedule");
        }
        TempStore s;
        const QString dir = s.dir.path(), relayLog = dir + "/relay.log";
        QVERIFY(media::Make(dir + "/bell.wav", 20));
        QVector<ZoneRow> zones;
        QVERIFY(s.conn->Zones(&zones));
        zones[0].command = "/bin/sh -c \"echo $0 $1 >> " + relayLog + "\"";
        QVERIFY(s.conn->SetZones(zones));
        const QDateTime at = QDateTime::currentDateTime().addSecs(3);
        QVERIFY(s.AddEvent({0, WeekdayName(at.date()), "上课", TimeText(at.time()),
                            dir + "/bell.wav", "", "√", "", "100000"}) > 0);
        s.conn.reset();
        QProcess app;
        app.setProcessEnvironment(Env(runtime.path()));
        app.start(BELVORAN_BIN, {"--database", s.path});
        QString log;
        QVERIFY(QTest::qWaitFor(
            [&] {
                log += QString::fromUtf8(app.readAllStandardError());
                return log.contains(" fire  ") && FileBytes(relayLog) == "100000 on\n";
            },
            30000));
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QCOMPARE(FileBytes(relayLog), QByteArray("100000 on\n100000 off\n"));
        for (const QString& left : {runtime.path() + "/belvoran.lock",
                                    runtime.path() + "/belvoran.lock.socket", s.path + ".lock"}) {
            QVERIFY2(!QFile::exists(left), qPrintable(left));
        }
    }

    void secondCopyShowsTheFirstAndLeavesItRunning() {
        TempStore s;
        s.conn.reset();
        QProcess first;
        first.setProcessEnvironment(Env(runtime.path()));
        first.start(BELVORAN_BIN, {"--database", s.path});
        QVERIFY(first.waitForStarted());
        // Not a fixed wait: under load the first copy may need longer than any guess to
        // take the lock, and a second copy started before that would be the one running.
        QString firstLog;
        QVERIFY(QTest::qWaitFor(
            [&] {
                firstLog += QString::fromUtf8(first.readAllStandardError());
                return firstLog.contains("Belvoran started");
            },
            30000));
        QProcess second;
        second.setProcessEnvironment(Env(runtime.path()));
        second.start(BELVORAN_BIN, {"--database", s.path});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.readAllStandardError().isEmpty()); // silently
        // The first copy shows its window instead.
        QVERIFY(QTest::qWaitFor(
            [&] {
                firstLog += QString::fromUtf8(first.readAllStandardError());
                return firstLog.contains("shown: the program was started again");
            },
            10000));
        // Another runtime folder, the same database: refused, naming it.
        QTemporaryDir otherRuntime;
        QProcess third;
        third.setProcessEnvironment(Env(otherRuntime.path()));
        third.start(BELVORAN_BIN, {"--database", s.path});
        QVERIFY(third.waitForFinished(10000));
        QCOMPARE(third.exitCode(), 1);
        QVERIFY(QString::fromUtf8(third.readAllStandardError()).contains(s.path));
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(5000));
    }

    // status, play and stop ask the running copy; with none running, status 3.
    void commandsAskTheRunningCopy() {
        if (QTime::currentTime() > QTime(23, 57, 0)) {
            QSKIP("too close to midnight for a same-day schedule");
        }
        TempStore s;
        const QString bell = s.dir.path() + "/bell.wav";
        QVERIFY(media::Make(bell, 30));
        const QDateTime at = QDateTime::currentDateTime().addSecs(3);
        const QString t1 = TimeText(at.time()), t2 = TimeText(at.time().addSecs(120));
        for (const auto& [event, time] : {std::pair{"上课", t1}, std::pair{"下课", t2}}) {
            const EventRow row{0, WeekdayName(at.date()), event, time, bell, "", "√", "", "100000"};
            QVERIFY(s.AddEvent(row) > 0);
        }
        s.conn.reset();
        QProcess app;
        app.setProcessEnvironment(Env(runtime.path()));
        app.start(BELVORAN_BIN, {"--database", s.path});
        QString log;
        const auto logged = [&](const QString& text) {
            return QTest::qWaitFor(
                [&] {
                    log += QString::fromUtf8(app.readAllStandardError());
                    return log.contains(text);
                },
                30000);
        };
        QVERIFY2(logged(" fire  " + t1), qPrintable(log));
        QJsonObject status;
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QByteArray out = Ask(runtime.path(), {"status", "--json"}).out.toUtf8();
                status = QJsonDocument::fromJson(out).object();
                return !status["records"].toArray().isEmpty();
            },
            10000));
        const QJsonObject record = status["records"].toArray()[0].toObject();
        QCOMPARE(record["time"].toString() + record["event"].toString(), t1 + "上课");
        QCOMPARE(record["outcome"].toString(), "fired");
        const QJsonObject next = status["next"].toObject();
        QCOMPARE(next["time"].toString() + next["event"].toString(), t2 + "下课");
        QCOMPARE(status["version"].toString(), kProgramVersion);
        QVERIFY(Ask(runtime.path(), {"status"}).out.contains("下一个铃声 " + t2 + " 下课"));
        QCOMPARE(Ask(runtime.path(), {"play", "上课"}).code, 0);
        QVERIFY2(logged("manual event id"), qPrintable(log));
        QCOMPARE(Ask(runtime.path(), {"stop"}).code, 0);
        QVERIFY2(logged("stop  playback halted by hand"), qPrintable(log));
        QCOMPARE(Ask(runtime.path(), {"play", "没有这个"}).code, 1);
        app.terminate();
        QVERIFY(app.waitForFinished(5000));
        const Answer none = Ask(runtime.path(), {"status"});
        QCOMPARE(none.code, 3);
        QVERIFY2(none.err.contains("no running copy"), qPrintable(none.err));
    }

    void damagedDatabaseIsRefusedUntouched() {
        QTemporaryDir dir;
        const QString path = dir.path() + "/Music.db";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a database at all\n");
        f.close();
        QProcess app;
        app.setProcessEnvironment(Env(runtime.path()));
        app.start(BELVORAN_BIN, {"--database", path});
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), 1);
        const QString err = QString::fromUtf8(app.readAllStandardError());
        QVERIFY2(err.contains(path), qPrintable(err));
        QCOMPARE(FileBytes(path), QByteArray("not a database at all\n"));
    }

    // A mistyped --database path must not pass unnoticed: the new file is named in the log.
    void newDatabaseIsLogged() {
        QTemporaryDir dir;
        const QString path = dir.path() + "/Muisc.db";
        const QString created = "created a new empty database at " + path;
        auto startUp = [&] {
            QProcess app;
            app.setProcessEnvironment(Env(runtime.path()));
            app.start(BELVORAN_BIN, {"--database", path});
            QString log;
            if (app.waitForStarted()) {
                (void)QTest::qWaitFor(
                    [&] {
                        log += QString::fromUtf8(app.readAllStandardError());
                        return log.contains("Belvoran started");
                    },
                    10000);
                app.terminate();
                app.waitForFinished(5000);
            }
            return log;
        };
        const QString first = startUp();
        QVERIFY2(first.contains(created), qPrintable(first));
        QVERIFY(QFile::exists(path));
        const QString second = startUp(); // the second start finds it
        QVERIFY2(second.contains("Belvoran started"), qPrintable(second));
        QVERIFY2(!second.contains("created a new"), qPrintable(second));
    }

    // Whether sound can be heard is in the log at start-up, not at the first bell.
    void soundOutputIsCheckedAtStartUp() {
        TempStore s;
        s.conn.reset();
        for (const auto& [sink, expected] :
             {std::pair{"fakesink sync=true",
                        "audio output: fakesink sync=true (fakesink) is ready"},
              std::pair{"fakesink name=fake-audio-sink", "error no audio output"}}) {
            QProcess app;
            QProcessEnvironment env = Env(runtime.path());
            env.insert("BELVORAN_AUDIO_SINK", sink);
            app.setProcessEnvironment(env);
            app.start(BELVORAN_BIN, {"--database", s.path});
            QVERIFY(app.waitForStarted());
            QString log;
            const bool seen = QTest::qWaitFor(
                [&] {
                    log += QString::fromUtf8(app.readAllStandardError());
                    return log.contains(expected);
                },
                10000);
            app.terminate();
            QVERIFY(app.waitForFinished(5000));
            QVERIFY2(seen, qPrintable(log));
        }
    }

    void firstStartCreatesTheDefaultDatabase() {
        QTemporaryDir home;
        QProcess app;
        QProcessEnvironment env = Env(runtime.path());
        env.insert("XDG_DATA_HOME", home.path());
        app.setProcessEnvironment(env);
        app.start(BELVORAN_BIN, {});
        QVERIFY(app.waitForStarted());
        const QString expected = home.path() + "/Belvoran/Music.db";
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(expected), 5000);
        app.terminate();
        QVERIFY(app.waitForFinished(5000));
        QString error;
        QVERIFY2(Conn::Open(expected, &error), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "test_app.moc"
