// SPDX-License-Identifier: GPL-3.0-or-later
// The real program as a system service, with no display at all: what systemd is told, a bell
// at its second, journal priorities, the daily power-off, and an end on SIGTERM.
#include "core/time_text.h"
#include "store/conn.h"
#include "support/media.h"
#include "support/temp_store.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// systemd's notify socket at an abstract name ("@..."): a datagram socket, which a
// QLocalServer cannot be. Received() gives the datagrams so far, in order.
struct NotifySocket {
    explicit NotifySocket(const QByteArray& name)
        : fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
        sockaddr_un a = {};
        a.sun_family = AF_UNIX;
        memcpy(a.sun_path + 1, name.constData() + 1, size_t(name.size() - 1));
        const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(name.size()));
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), length) == 0;
    }
    ~NotifySocket() { ::close(fd); }
    const QList<QByteArray>& Received() {
        char buffer[4096];
        for (ssize_t n = 0; (n = ::recv(fd, buffer, sizeof buffer, 0)) >= 0;) {
            received << QByteArray(buffer, int(n));
        }
        return received;
    }
    int fd;
    bool bound = false;
    QList<QByteArray> received;
};

// A service's environment: no display of any kind, and no system bus (nothing is powered off).
QProcessEnvironment Env(const QString& home, const QString& runtime) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        env.remove(display);
    }
    env.insert("HOME", home);
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("BELVORAN_AUDIO_SINK", "fakesink sync=true");
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + runtime + "/no_bus_here");
    return env;
}

// Makes the file that stands in for the journal's stream: its "DEV:INO".
QString JournalStream(const QString& path) {
    QFile(path).open(QIODevice::WriteOnly);
    struct stat st = {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return QString("%1:%2").arg(st.st_dev).arg(st.st_ino);
}

// The bell's whole line, with its priority as the journal reads it: the second it sounded in
// and the milliseconds after it.
QRegularExpressionMatch FireLine(const QString& log, const QString& time, const QString& bell) {
    return QRegularExpression(
               QString(R"(^<6>\S+ (\d\d:\d\d:\d\d)\.(\d{3}) fire  %1 .*: %2 \(.*\n)")
                   .arg(QRegularExpression::escape(time), QRegularExpression::escape(bell)),
               QRegularExpression::MultilineOption)
        .match(log);
}

// Whether the store's records say the bell at time fired.
bool RecordedFired(const QString& path, const QDate& date, const QString& time) {
    QString error;
    std::unique_ptr<Conn> conn = Conn::Open(path, &error);
    QVector<PlayRecordRow> rows;
    return conn && conn->PlayRecordsOn(date.toString(Qt::ISODate), &rows) && rows.size() == 1 &&
           rows[0].time == time && rows[0].event == "上课" && rows[0].outcome == PlayOutcome::Fired;
}

} // namespace

class TestService : public QObject {
    Q_OBJECT

    QTemporaryDir home, runtime;

private slots:
    void initTestCase() { gst_init(nullptr, nullptr); }

    // The daily power-off, two seconds after the bell, asks logind at once without a
    // countdown; with no bus to ask, the refusal is an error and the service goes on.
    void ringsWithoutADisplayAndTellsSystemd() {
        if (QTime::currentTime() > QTime(23, 59, 30)) {
            QSKIP("too close to midnight for a same-day schedule");
        }
        TempStore s;
        QTemporaryDir serviceRuntime;
        const QString bell = s.dir.path() + "/bell.wav", logPath = home.path() + "/stderr.log";
        QVERIFY(media::Make(bell, 1));
        const QDateTime at = QDateTime::currentDateTime().addSecs(5);
        const QString time = TimeText(at.time());
        QVERIFY(s.AddEvent({0, WeekdayName(at.date()), "上课", time, bell, "", "√", "", "111111"}) >
                0);
        s.Raw("UPDATE config SET 关机时间='" + TimeText(at.time().addSecs(2)) + "'");
        s.conn.reset();
        const QByteArray name = "@belvoran-test-notify-" + QByteArray::number(::getpid());
        NotifySocket notify(name);
        QVERIFY(notify.bound);

        QProcessEnvironment env = Env(home.path(), runtime.path());
        env.insert("RUNTIME_DIRECTORY", serviceRuntime.path());
        env.insert("NOTIFY_SOCKET", QString::fromLatin1(name));
        env.insert("JOURNAL_STREAM", JournalStream(logPath));
        QProcess app;
        app.setProcessEnvironment(env);
        app.setStandardErrorFile(logPath);
        app.start(BELVORAN_BIN, {"--service", "--database", s.path});
        const auto log = [&] {
            QFile f(logPath);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        const auto count = [&](const QByteArray& state) { return notify.Received().count(state); };
        QVERIFY2(QTest::qWaitFor([&] { return count("READY=1") == 1; }, 30000), qPrintable(log()));
        const QString lock = serviceRuntime.path() + "/belvoran.lock"; // the service's folder
        QVERIFY(QFile::exists(lock) && !QFile::exists(runtime.path() + "/belvoran.lock"));
        QVERIFY2(QTest::qWaitFor([&] { return FireLine(log(), time, bell).hasMatch(); }, 30000),
                 qPrintable(log()));
        QVERIFY(QTest::qWaitFor([&] { return count("WATCHDOG=1") >= 2; }, 10000));
        QVERIFY(notify.Received().indexOf("READY=1") < notify.Received().indexOf("WATCHDOG=1"));
        const QRegularExpressionMatch fired = FireLine(log(), time, bell);
        QCOMPARE(fired.captured(1), time);        // in its own second …
        QVERIFY(fired.captured(2).toInt() < 200); // … within its first fifth
        QVERIFY(QTest::qWaitFor([&] { return RecordedFired(s.path, at.date(), time); }, 10000));
        QVERIFY(
            QTest::qWaitFor([&] { return log().contains("shutdown cancelled for today"); }, 9000));
        const QRegularExpression failed(R"(^<3>\S+ \S+ error power-off failed: )",
                                        QRegularExpression::MultilineOption);
        const qsizetype asked = log().indexOf(" power-off at the shutdown time: asking logind");
        QVERIFY2(asked > 0 && log().indexOf(failed) > asked, qPrintable(log()));

        app.terminate();
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY(QTest::qWaitFor([&] { return count("STOPPING=1") == 1; }, 1000));
        QVERIFY2(log().contains("ending on SIGTERM") && log().contains("Belvoran ends"),
                 qPrintable(log()));
        QVERIFY(!QFile::exists(lock) && !QFile::exists(s.path + ".lock"));
    }
};

QTEST_MAIN(TestService)
#include "test_service.moc"
