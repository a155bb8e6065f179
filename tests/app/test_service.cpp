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
        // Standard error is a file standing in for the journal's stream.
        QFile(logPath).open(QIODevice::WriteOnly);
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(logPath).constData(), &st), 0);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            env.remove(display);
        }
        env.insert("HOME", home.path());
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("RUNTIME_DIRECTORY", serviceRuntime.path());
        env.insert("BELVORAN_AUDIO_SINK", "fakesink sync=true");
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + runtime.path() + "/no_bus_here");
        env.insert("NOTIFY_SOCKET", QString::fromLatin1(name));
        env.insert("JOURNAL_STREAM", QString("%1:%2").arg(st.st_dev).arg(st.st_ino));
        QProcess app;
        app.setProcessEnvironment(env);
        app.setStandardErrorFile(logPath);
        app.start(BELVORAN_BIN, {"--service", "--database", s.path});
        QVERIFY(app.waitForStarted());

        const auto log = [&] {
            QFile f(logPath);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        const auto count = [&](const QByteArray& state) { return notify.Received().count(state); };
        QVERIFY2(QTest::qWaitFor([&] { return count("READY=1") == 1; }, 30000), qPrintable(log()));
        // The lock is in the service's own runtime folder.
        QVERIFY(QFile::exists(serviceRuntime.path() + "/belvoran.lock"));
        QVERIFY(!QFile::exists(runtime.path() + "/belvoran.lock"));
        const QString fire = QString(" fire  %1 ").arg(time);
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         const QString now = log();
                         return now.contains(fire) && now.indexOf('\n', now.indexOf(fire)) > 0;
                     },
                     30000),
                 qPrintable(log()));
        QVERIFY(QTest::qWaitFor([&] { return count("WATCHDOG=1") >= 2; }, 10000));
        QVERIFY(notify.Received().indexOf("READY=1") < notify.Received().indexOf("WATCHDOG=1"));

        // Each line carries its priority; the bell's is in its own second.
        const QRegularExpression line(
            QString(R"(^<6>\S+ (\d\d:\d\d:\d\d)\.(\d{3}) fire  %1 .*: %2 \()")
                .arg(QRegularExpression::escape(time), QRegularExpression::escape(bell)),
            QRegularExpression::MultilineOption);
        const auto m = line.match(log());
        QVERIFY2(m.hasMatch(), qPrintable(log()));
        QCOMPARE(m.captured(1), time);
        QVERIFY(m.captured(2).toInt() < 200);
        QVERIFY2(log().contains(QRegularExpression("^<6>\\S+ \\S+ Belvoran started with ",
                                                   QRegularExpression::MultilineOption)),
                 qPrintable(log()));

        QString error;
        std::unique_ptr<Conn> conn = Conn::Open(s.path, &error);
        QVERIFY2(conn, qPrintable(error));
        QVector<PlayRecordRow> records;
        QVERIFY(QTest::qWaitFor(
            [&] {
                return conn->PlayRecordsOn(at.date().toString(Qt::ISODate), &records) &&
                       !records.isEmpty();
            },
            10000));
        QCOMPARE(records[0].time, time);
        QCOMPARE(records[0].event, QString("上课"));
        QCOMPARE(records[0].outcome, PlayOutcome::Fired);
        conn.reset();

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
};

QTEST_MAIN(TestService)
#include "test_service.moc"
