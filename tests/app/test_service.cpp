// The real program as a system service: no display at all, systemd told through a notify
// socket when the day is armed, that the schedule ticks and when it stops, a bell at its
// second, the log's lines with journal priorities, and an end on SIGTERM.
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

// A datagram socket standing in for systemd's (a QLocalServer takes streams only).
class NotifySocket {
public:
    explicit NotifySocket(const QByteArray& name) : name_(name) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, name.constData(), size_t(name.size()));
        address.sun_path[0] = '\0'; // abstract, as "@name" says
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address),
                        socklen_t(offsetof(sockaddr_un, sun_path) + size_t(name.size()))) == 0;
    }
    ~NotifySocket() { ::close(fd_); }
    bool Bound() const { return bound_; }
    // Every datagram received so far, in order.
    const QList<QByteArray>& Received() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::recv(fd_, buffer, sizeof buffer, 0)) >= 0) {
            received_ << QByteArray(buffer, int(n));
        }
        return received_;
    }

private:
    QByteArray name_;
    int fd_ = -1;
    bool bound_ = false;
    QList<QByteArray> received_;
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

QString FileText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
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

private slots:
    void initTestCase() { gst_init(nullptr, nullptr); }

    void ringsWithoutADisplayAndTellsSystemd() {
        if (QTime::currentTime() > QTime(23, 59, 30)) {
            QSKIP("too close to midnight for a same-day schedule");
        }
        TempStore s;
        QTemporaryDir home, runtime, serviceRuntime;
        const QString bell = s.dir.path() + "/bell.wav", logPath = home.path() + "/stderr.log";
        QVERIFY(media::Make(bell, 1));
        const QDateTime at = QDateTime::currentDateTime().addSecs(5);
        const QString time = TimeText(at.time());
        QVERIFY(s.AddEvent({0, WeekdayName(at.date()), "上课", time, bell, "", "√", "", "111111"}) >
                0);
        s.conn.reset();
        const QByteArray name = "@belvoran-test-notify-" + QByteArray::number(::getpid());
        NotifySocket notify(name);
        QVERIFY(notify.Bound());

        QProcessEnvironment env = Env(home.path(), runtime.path());
        env.insert("RUNTIME_DIRECTORY", serviceRuntime.path());
        env.insert("NOTIFY_SOCKET", QString::fromLatin1(name));
        env.insert("JOURNAL_STREAM", JournalStream(logPath));
        QProcess app;
        app.setProcessEnvironment(env);
        app.setStandardErrorFile(logPath);
        app.start(BELVORAN_BIN, {"--service", "--database", s.path});
        const auto log = [&] { return FileText(logPath); };
        const auto count = [&](const QByteArray& state) { return notify.Received().count(state); };
        QVERIFY2(QTest::qWaitFor([&] { return count("READY=1") == 1; }, 30000), qPrintable(log()));
        // The lock is in the service's own runtime folder.
        QVERIFY(QFile::exists(serviceRuntime.path() + "/belvoran.lock"));
        QVERIFY(!QFile::exists(runtime.path() + "/belvoran.lock"));
        QVERIFY2(QTest::qWaitFor([&] { return FireLine(log(), time, bell).hasMatch(); }, 30000),
                 qPrintable(log()));
        QVERIFY(QTest::qWaitFor([&] { return count("WATCHDOG=1") >= 2; }, 10000));
        QVERIFY(notify.Received().indexOf("READY=1") < notify.Received().indexOf("WATCHDOG=1"));
        const QRegularExpressionMatch fired = FireLine(log(), time, bell);
        QCOMPARE(fired.captured(1), time);        // in its own second …
        QVERIFY(fired.captured(2).toInt() < 200); // … within its first fifth
        QVERIFY(QTest::qWaitFor([&] { return RecordedFired(s.path, at.date(), time); }, 10000));

        app.terminate();
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY(QTest::qWaitFor([&] { return count("STOPPING=1") == 1; }, 1000));
        QVERIFY2(log().contains("ending on SIGTERM") && log().contains("Belvoran ends"),
                 qPrintable(log()));
        QVERIFY(!QFile::exists(serviceRuntime.path() + "/belvoran.lock"));
        QVERIFY(!QFile::exists(s.path + ".lock"));
    }

    // The daily power-off asks logind at its time, without a countdown; with no bus to ask,
    // the refusal is an error in the log and the service goes on.
    void powerOffAsksAtOnceAndARefusalIsLogged() {
        if (QTime::currentTime() > QTime(23, 59, 30)) {
            QSKIP("too close to midnight for a same-day shutdown time");
        }
        TempStore s;
        QTemporaryDir home, runtime;
        const QString at = TimeText(QTime::currentTime().addSecs(8));
        s.Raw(QString("UPDATE config SET 关机时间='%1'").arg(at));
        s.conn.reset();
        QProcess app;
        app.setProcessEnvironment(Env(home.path(), runtime.path()));
        app.start(BELVORAN_BIN, {"--service", "--database", s.path});
        QString log;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         log += QString::fromUtf8(app.readAllStandardError());
                         return log.contains("shutdown cancelled for today");
                     },
                     30000),
                 qPrintable(log));
        const qsizetype asked = log.indexOf("power-off at the shutdown time: asking logind");
        const qsizetype failed = log.indexOf("error power-off failed: ");
        QVERIFY2(asked > 0 && failed > asked, qPrintable(log));
        QCOMPARE(app.state(), QProcess::Running);
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), 0);
    }
};

QTEST_MAIN(TestService)
#include "test_service.moc"
