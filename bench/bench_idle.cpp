// SPDX-License-Identifier: GPL-3.0-or-later
// What the program costs while it waits for the next bell: CPU time and resident memory of
// the real binary, as a service (no window, no display) and as the desktop program (its
// window on the offscreen platform), side by side, each on a store of its own with a day of
// bells still to come (their file missing, so the file check every few minutes runs too).
//   build/bench/bench_idle [path of the belvoran binary] [seconds measured, default 60]
// Each copy runs 10 s before the measurement starts, so start-up is not counted. CPU is
// utime + stime from /proc/PID/stat over the measured seconds; memory is VmRSS and VmHWM at
// the end.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>

#include <unistd.h>

#include <cstdio>

namespace {

// utime + stime of pid in clock ticks; -1 when it cannot be read.
long long CpuTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray stat = f.readAll();
    // The fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

// A line of /proc/PID/status in kB ("VmRSS"), -1 when absent.
long long StatusKb(qint64 pid, const char* key) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

// A store made by the program itself, then given a bell every ten minutes until midnight.
bool MakeStore(const QString& binary, const QString& dir, const QProcessEnvironment& env) {
    QProcess make;
    make.setProcessEnvironment(env);
    make.start(binary, {QStringLiteral("--service"), QStringLiteral("--database"),
                        dir + QStringLiteral("/Music.db")});
    QThread::sleep(3);
    make.terminate();
    make.waitForFinished(10000);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), dir);
    db.setDatabaseName(dir + QStringLiteral("/Music.db"));
    if (!db.open()) {
        return false;
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO 作息表 (星期名, 事件, 开始时间, 音乐文件, 音乐总长, "
                             "是否播放) VALUES (?, '铃', ?, '/nonexistent.wav', '00:00:05', '√')"));
    const QStringList days = {"星期一", "星期二", "星期三", "星期四", "星期五", "星期六", "星期日"};
    for (QTime t = QTime::currentTime().addSecs(600); t > QTime(0, 10); t = t.addSecs(600)) {
        q.addBindValue(days[QDate::currentDate().dayOfWeek() - 1]);
        q.addBindValue(t.toString(QStringLiteral("HH:mm:ss")));
        q.exec();
    }
    return true;
}

struct Cost {
    double cpuPercent = -1;
    long long rssKb = -1, peakKb = -1;
};

Cost Measure(const QString& binary, const QStringList& mode, int seconds) {
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("BELVORAN_AUDIO_SINK"), QStringLiteral("fakesink sync=true"));
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (!mode.contains(QStringLiteral("--service"))) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    Cost cost;
    if (!MakeStore(binary, dir.path(), env)) {
        return cost;
    }
    QProcess run;
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    run.start(binary, mode + QStringList{QStringLiteral("--database"),
                                         dir.path() + QStringLiteral("/Music.db")});
    if (!run.waitForStarted()) {
        return cost;
    }
    QThread::sleep(10);
    const long long before = CpuTicks(run.processId());
    QThread::sleep(seconds);
    const long long after = CpuTicks(run.processId());
    cost.cpuPercent = 100.0 * double(after - before) / double(sysconf(_SC_CLK_TCK)) / seconds;
    cost.rssKb = StatusKb(run.processId(), "VmRSS");
    cost.peakKb = StatusKb(run.processId(), "VmHWM");
    run.terminate();
    run.waitForFinished(10000);
    return cost;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString binary =
        argc > 1 ? QString::fromLocal8Bit(argv[1])
                 : QCoreApplication::applicationDirPath() + QStringLiteral("/../app/belvoran");
    const int seconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 60;
    std::printf("idle cost over %d s, a bell every ten minutes still to come today\n", seconds);
    for (const auto& [name, mode] : {std::pair{"service", QStringList{QStringLiteral("--service")}},
                                     std::pair{"desktop", QStringList{}}}) {
        const Cost c = Measure(binary, mode, seconds);
        std::printf("%-8s CPU %.2f %%  RSS %lld kB  peak RSS %lld kB\n", name, c.cpuPercent,
                    c.rssKb, c.peakKb);
        std::fflush(stdout);
    }
    return 0;
}
