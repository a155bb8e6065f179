// SPDX-License-Identifier: GPL-3.0-or-later
// An ordinary user's streaming threads are raised by RealtimeKit. The test runs its own
// system bus, a polkit authority that says yes (as a desktop session's does for RealtimeKit's
// action) and rtkit-daemon, then the player as the user nobody.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

class TestRealtimeKit : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QProcess bus_, authority_, kit_;

    static bool Started(QProcess& p, const QByteArray& line, QString* output) {
        const bool seen = QTest::qWaitFor(
            [&] {
                p.waitForReadyRead(50);
                *output += QString::fromUtf8(p.readAll());
                return output->contains(QString::fromUtf8(line)) ||
                       p.state() == QProcess::NotRunning;
            },
            10000);
        return seen && output->contains(QString::fromUtf8(line));
    }

private slots:
    void streamingThreadsOfAnOrdinaryUserRunRealTime() {
        if (geteuid() != 0) {
            QSKIP("needs root: to start a system bus and rtkit-daemon, and to run as nobody");
        }
        for (const char* tool : {"/usr/libexec/rtkit-daemon", "/usr/bin/dbus-daemon"}) {
            if (!QFile::exists(tool)) {
                QSKIP(qPrintable(QString("%1 is not installed").arg(tool)));
            }
        }
        QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::ExeOther);
        const QString socket = dir_.path() + "/system_bus_socket";
        QFile conf(dir_.path() + "/bus.conf");
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(QString("<!DOCTYPE busconfig PUBLIC"
                           " \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
                           "<busconfig><type>system</type><listen>unix:path=%1</listen>"
                           "<auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow user=\"*\"/><allow own=\"*\"/>"
                           "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                           "</policy></busconfig>")
                       .arg(socket)
                       .toUtf8());
        conf.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + socket);
        QString out;
        bus_.setProcessChannelMode(QProcess::MergedChannels);
        bus_.start("dbus-daemon",
                   {"--nofork", "--print-address", "--config-file=" + conf.fileName()});
        QVERIFY2(Started(bus_, "unix:path", &out), qPrintable(out));

        const QString helper = QCoreApplication::applicationDirPath() + "/realtime_kit_helper";
        authority_.setProcessEnvironment(env);
        authority_.start(helper, {"authority"});
        out.clear();
        QVERIFY2(Started(authority_, "ready", &out), qPrintable(out));

        // rtkit-daemon limits its own file size to 0: its messages go to a pipe, never a file.
        kit_.setProcessEnvironment(env);
        kit_.setProcessChannelMode(QProcess::MergedChannels);
        kit_.start("/usr/libexec/rtkit-daemon", {"--no-canary", "--stderr"});
        out.clear();
        if (!Started(kit_, "Running.", &out)) {
            QSKIP(qPrintable("rtkit-daemon cannot run on this machine: " + out.simplified()));
        }

        QProcess player;
        player.setProcessChannelMode(QProcess::MergedChannels);
        player.start("runuser",
                     {"-u", "nobody", "--", "env", "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + socket,
                      "BELVORAN_AUDIO_SINK=fakesink sync=true", "HOME=/tmp", helper, "play"});
        QVERIFY(player.waitForFinished(30000));
        const QString got = QString::fromUtf8(player.readAll());
        QCOMPARE(player.exitCode(), 0);
        QVERIFY2(got.contains("audio threads run real-time through RealtimeKit"), qPrintable(got));
        // SCHED_RR (2) or SCHED_FIFO (1), with RealtimeKit's SCHED_RESET_ON_FORK.
        static const QRegularExpression realTime("policy 107374182[56]\\b");
        QVERIFY2(got.contains(realTime), qPrintable(got));
        QVERIFY2(got.contains("runaway raised 2 then 0"), qPrintable(got));

        // Twenty short bells on three zones, a second apart: RealtimeKit allows a user 25
        // requests in 20 s, so each streaming thread may be asked for once, not at each bell.
        QTest::qWait(300); // what RealtimeKit said for the play above is read and left out
        kit_.readAll();
        player.start("runuser",
                     {"-u", "nobody", "--", "env", "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + socket,
                      "BELVORAN_AUDIO_SINK=fakesink sync=true", "HOME=/tmp", helper, "bells",
                      "40"});
        QVERIFY(player.waitForFinished(120000));
        const QString bells = QString::fromUtf8(player.readAll());
        QCOMPARE(player.exitCode(), 0);
        QTest::qWait(200);
        const QString said = QString::fromUtf8(kit_.readAll());
        static const QRegularExpression made("threads made (\\d+)");
        const int threads = made.match(bells).captured(1).toInt();
        // The asking thread asks once for itself, to learn what RealtimeKit answers.
        const qsizetype asked = said.count("Successfully made thread");
        qInfo("%d streaming threads made, RealtimeKit asked %lld times", threads, qint64(asked));
        QVERIFY2(!said.contains("burst limit"), qPrintable(said));
        QVERIFY2(threads > 0 && asked <= threads + 1, qPrintable(bells + said));
    }

    // Whatever this machine allows, the log's word on the audio threads is the truth: when it
    // says they run real-time, a streaming thread does (an administrator who reads it stops
    // looking there for late bells); when none can be raised, it says so.
    void theLogSaysRealTimeOnlyWhenAStreamingThreadIs() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir_.path() + "/no_bus_here");
        env.insert("BELVORAN_AUDIO_SINK", "fakesink sync=true");
        QProcess player;
        player.setProcessEnvironment(env);
        player.setProcessChannelMode(QProcess::MergedChannels);
        player.start(QCoreApplication::applicationDirPath() + "/realtime_kit_helper", {"play"});
        QVERIFY(player.waitForFinished(30000));
        const QString got = QString::fromUtf8(player.readAll());
        QCOMPARE(player.exitCode(), 0);
        // SCHED_FIFO (1) or SCHED_RR (2), with or without SCHED_RESET_ON_FORK.
        static const QRegularExpression raised("policy (1|2|107374182[56])\\b");
        const bool claimed = got.contains("audio threads run real-time");
        QVERIFY2(claimed == got.contains(raised), qPrintable(got));
        QVERIFY2(claimed || got.contains("audio threads run without real-time priority"),
                 qPrintable(got));
    }

    void cleanupTestCase() {
        for (QProcess* p : {&kit_, &authority_, &bus_}) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
};

QTEST_GUILESS_MAIN(TestRealtimeKit)
#include "test_realtime_kit.moc"
