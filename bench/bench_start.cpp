// SPDX-License-Identifier: GPL-3.0-or-later
// How late the first sample of each event reaches the sink, behind its wall-clock second.
// Runs events 2 s apart through the real engine, store and player. The sink is a udpsink to a
// local socket; the kernel stamps every datagram as it arrives (SO_TIMESTAMPNS), so the
// figures do not depend on this process's own wake-ups. Each sound file holds one constant
// sample value, so every datagram says which file it came from.
//   build/bench/bench_start [idle|busy|both] [events per kind, default 30] [zones gap, s]
// With a gap, only the zones run: that many events, that many seconds apart.
// Each load also runs a zones row: events on three zones at once, each zone a udpsink of its
// own, with every output's first sample and the spread between the three.
// "busy" runs `stress-ng --cpu 2` alongside. The play log goes to standard error. The
// player's streaming threads run real-time where the system allows it (root, or an
// RLIMIT_RTPRIO of 10 or more), or through RealtimeKit; the log says which.
// bench/start_unprivileged.sh runs it as an ordinary user, with RealtimeKit and without.
#include "audio/gst_init.h"
#include "audio/gst_player.h"
#include "core/clock.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "loads.h"
#include "schedule/schedule_engine.h"
#include "store/conn.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 44100;

// Where the fire line puts a first sample reported at wallUs for its second at targetNs (both
// wall-clock): the second, and the figure behind it to a tenth of a millisecond.
qint64 LoggedNs(qint64 wallUs, qint64 targetNs) {
    const qint64 behindUs = wallUs - targetNs / 1000;
    const qint64 tenths = behindUs >= 0 ? (behindUs + 50) / 100 : -((-behindUs + 50) / 100);
    return targetNs + tenths * 100000;
}

// A mono 16-bit WAV file whose every sample is value.
bool MakeMarkedWav(const QString& path, double seconds, qint16 value) {
    const quint32 samples = static_cast<quint32>(seconds * kRate);
    const quint32 data = samples * 2;
    QByteArray b;
    auto u32 = [&](quint32 v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](quint16 v) { b.append(reinterpret_cast<const char*>(&v), 2); };
    b.append("RIFF");
    u32(36 + data);
    b.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(kRate);
    u32(kRate * 2);
    u16(2);
    u16(16);
    b.append("data");
    u32(data);
    for (quint32 i = 0; i < samples; ++i) {
        u16(static_cast<quint16>(value));
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
}

struct Datagram {
    qint64 ns; // CLOCK_REALTIME, stamped by the kernel
    int sample;
};

// Receives the sink's datagrams on a thread of its own.
class Receiver {
public:
    Receiver() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        int size = 8 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        timeval tv{0, 200000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~Receiver() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    int Port() const { return port_; }
    std::vector<Datagram> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(got_, {});
    }

private:
    void Run() {
        std::vector<char> buf(1 << 16);
        char control[256];
        while (!stop_) {
            iovec iov{buf.data(), buf.size()};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(fd_, &msg, 0);
            if (n < 2) {
                continue;
            }
            qint64 ns = -1;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec ts;
                    std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                    ns = qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
                }
            }
            qint16 sample;
            std::memcpy(&sample, buf.data(), 2);
            std::lock_guard<std::mutex> lock(mutex_);
            got_.push_back({ns, sample});
        }
    }
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Datagram> got_;
};

struct Planned {
    int kind; // 0 same file, 1 alternating files, 2 break music's first song
    qint64 targetNs;
    int marker;
};

const char* kKinds[] = {"same file repeated", "alternating files", "break music, first song"};

// A fresh store in dir; null, said on standard error, when it cannot be made.
std::unique_ptr<Conn> OpenStore(const QTemporaryDir& dir) {
    QString error;
    std::unique_ptr<Conn> conn = Conn::Open(dir.path() + "/Music.db", &error);
    if (!conn) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
    }
    return conn;
}

// One run of 3 × perKind events, 2 s apart; prints a table row per kind.
void RunOnce(const char* label, int perKind, Receiver& receiver) {
    QTemporaryDir dir;
    std::unique_ptr<Conn> conn = OpenStore(dir);
    if (!conn) {
        return;
    }
    const QString bell = dir.path() + "/bell.wav";
    const QString a = dir.path() + "/a.wav";
    const QString b = dir.path() + "/b.wav";
    const QString filler = dir.path() + "/filler.wav";
    MakeMarkedWav(bell, 0.3, 1000);
    MakeMarkedWav(a, 0.3, 1500);
    MakeMarkedWav(b, 0.3, 2000);
    MakeMarkedWav(filler, 3, 200); // still playing at the next event's second

    SystemClock clock;
    const QDateTime start =
        QDateTime(clock.Now().date(), QTime(clock.Now().time().hour(), clock.Now().time().minute(),
                                            clock.Now().time().second()))
            .addSecs(6);
    if (start.addSecs(6 * perKind + 10).date() != start.date()) {
        std::fprintf(stderr, "too close to midnight; run again later\n");
        return;
    }
    const QString week = WeekdayName(start.date());
    std::vector<Planned> plan;
    for (int i = 0; i < 3 * perKind; ++i) {
        const QDateTime at = start.addSecs(2 * i);
        EventRow r{0, week, QStringLiteral("e%1").arg(i), TimeText(at.time()), {}, {}, "√", {}, {}};
        const int kind = i / perKind;
        const int k = i % perKind;
        int marker = 0;
        if (kind == 0) {
            r.musicFile = bell;
            marker = 1000;
        } else if (kind == 1) {
            r.musicFile = k % 2 ? b : a;
            marker = k % 2 ? 2000 : 1500;
        } else {
            // A library of its own per event: its first song is told apart from the last's.
            marker = 3000 + 50 * k;
            const QString first = dir.path() + QStringLiteral("/first%1.wav").arg(k);
            MakeMarkedWav(first, 0.3, static_cast<qint16>(marker));
            r.musicFile = kBreakMusicFile;
            r.event = QStringLiteral("曲库_%1").arg(k);
            qint64 id = 0;
            conn->AddSong(r.event, first, "00:00:01", &id);
            conn->AddSong(r.event, filler, "00:00:01", &id);
        }
        qint64 id = 0;
        conn->AddEvent(r, &id);
        plan.push_back({kind, at.toMSecsSinceEpoch() * 1000000, marker});
    }

    ProgramVars vars;
    vars.PlayOrder = PlayOrder::Sequential;
    GstPlayer player;
    // What the player reports as each first sample's time, which the log's fire line prints.
    std::vector<qint64> reportedUs;
    QObject::connect(&player, &Player::FirstSample,
                     [&](const QString&, qint64 wallUs) { reportedUs.push_back(wallUs); });
    ScheduleEngine engine(vars, *conn, clock, player, nullptr);
    engine.LoadTodayEvents();
    receiver.Take();
    QTimer::singleShot(6000 + 2000 * 3 * perKind + 1500, qApp, &QCoreApplication::quit);
    qApp->exec();
    engine.StopSchedule();
    player.Halt();
    const std::vector<Datagram> got = receiver.Take();

    std::vector<double> late[3];
    std::vector<double> misreport[3]; // |reported − kernel time stamp| of each first sample
    int missing[3] = {0, 0, 0};
    int overlap[3] = {0, 0, 0}; // events during whose first 250 ms another file still sounded
    for (const Planned& p : plan) {
        if (std::any_of(got.begin(), got.end(), [&](const Datagram& d) {
                return d.ns > p.targetNs + 2000000 && d.ns < p.targetNs + 250000000 &&
                       std::abs(d.sample - p.marker) > 2;
            })) {
            ++overlap[p.kind];
        }
        auto it = std::find_if(got.begin(), got.end(), [&](const Datagram& d) {
            return d.ns >= p.targetNs - 900000000 && d.ns < p.targetNs + 1500000000 &&
                   std::abs(d.sample - p.marker) <= 2;
        });
        if (it == got.end()) {
            ++missing[p.kind];
        } else {
            late[p.kind].push_back((it->ns - p.targetNs) / 1e6);
            const auto reported =
                std::find_if(reportedUs.begin(), reportedUs.end(), [&](qint64 us) {
                    return us * 1000 >= p.targetNs - 900000000 &&
                           us * 1000 < p.targetNs + 1500000000;
                });
            if (reported != reportedUs.end()) {
                misreport[p.kind].push_back(std::abs(LoggedNs(*reported, p.targetNs) - it->ns) /
                                            1e6);
            }
        }
    }
    std::vector<double> all, allMisreport;
    for (int kind = 0; kind < 3; ++kind) {
        all.insert(all.end(), late[kind].begin(), late[kind].end());
        allMisreport.insert(allMisreport.end(), misreport[kind].begin(), misreport[kind].end());
    }
    for (int kind = 0; kind < 3; ++kind) {
        std::printf("%-5s %-24s %8.1f %8.1f %8.1f %6.1f %5d %7d %9.1f\n", label, kKinds[kind],
                    Pick(late[kind], 0.5), Pick(late[kind], 0.99), Pick(late[kind], 1.0),
                    Pick(late[kind], 0.0), missing[kind], overlap[kind],
                    Pick(misreport[kind], 1.0));
    }
    std::printf("%-5s %-24s %8.1f %8.1f %8.1f %6.1f %5d %7d %9.1f\n", label, "all events",
                Pick(all, 0.5), Pick(all, 0.99), Pick(all, 1.0), Pick(all, 0.0),
                missing[0] + missing[1] + missing[2], overlap[0] + overlap[1] + overlap[2],
                Pick(allMisreport, 1.0));
    std::fflush(stdout);
}

// One run of count events gap seconds apart, each on three zones at once, every zone a
// udpsink of its own: how late each output's first sample is, how far apart the three are,
// and how far the first sample's reported time is from the earliest output's kernel stamp.
void RunZones(const char* label, int count, int gap, Receiver* outputs[3]) {
    QTemporaryDir dir;
    std::unique_ptr<Conn> conn = OpenStore(dir);
    if (!conn) {
        return;
    }
    QVector<ZoneRow> zones;
    conn->Zones(&zones);
    for (int z = 0; z < 3; ++z) {
        zones[z].sink =
            QStringLiteral("udpsink host=127.0.0.1 port=%1 sync=true").arg(outputs[z]->Port());
    }
    conn->SetZones(zones);
    const QString bell = dir.path() + "/bell.wav";
    MakeMarkedWav(bell, 0.3, 1000);
    SystemClock clock;
    const QDateTime now = clock.Now();
    const QDateTime start =
        QDateTime(now.date(), QTime(now.time().hour(), now.time().minute(), now.time().second()))
            .addSecs(6);
    std::vector<qint64> targets;
    for (int i = 0; i < count; ++i) {
        const QDateTime at = start.addSecs(gap * i);
        EventRow r{0,
                   WeekdayName(at.date()),
                   QStringLiteral("z%1").arg(i),
                   TimeText(at.time()),
                   bell,
                   {},
                   "√",
                   {},
                   "111000"};
        qint64 id = 0;
        conn->AddEvent(r, &id);
        targets.push_back(at.toMSecsSinceEpoch() * 1000000);
    }
    ProgramVars vars;
    GstPlayer player;
    std::vector<qint64> reportedUs;
    QObject::connect(&player, &Player::FirstSample,
                     [&](const QString&, qint64 wallUs) { reportedUs.push_back(wallUs); });
    ScheduleEngine engine(vars, *conn, clock, player, nullptr);
    engine.LoadTodayEvents();
    for (Receiver* r : std::initializer_list<Receiver*>{outputs[0], outputs[1], outputs[2]}) {
        r->Take();
    }
    QTimer::singleShot(6000 + 1000 * gap * count + 1500, qApp, &QCoreApplication::quit);
    qApp->exec();
    engine.StopSchedule();
    player.Halt();
    std::vector<Datagram> got[3];
    for (int z = 0; z < 3; ++z) {
        got[z] = outputs[z]->Take();
    }
    std::vector<double> late, spread, misreport;
    int lost = 0;
    const qint64 window = std::min<qint64>(900, 500 * gap) * 1000000;
    for (qint64 target : targets) {
        std::vector<qint64> firsts;
        for (int z = 0; z < 3; ++z) {
            auto it = std::find_if(got[z].begin(), got[z].end(), [&](const Datagram& d) {
                return d.ns >= target - window && d.ns < target + 2 * window &&
                       std::abs(d.sample - 1000) <= 2;
            });
            if (it == got[z].end()) {
                ++lost;
                continue;
            }
            firsts.push_back(it->ns);
            late.push_back((it->ns - target) / 1e6);
        }
        if (firsts.size() == 3) {
            const auto [lo, hi] = std::minmax_element(firsts.begin(), firsts.end());
            spread.push_back((*hi - *lo) / 1e6);
            const auto reported =
                std::find_if(reportedUs.begin(), reportedUs.end(),
                             [&](qint64 us) { return std::abs(us * 1000 - target) < window; });
            if (reported != reportedUs.end()) {
                misreport.push_back(std::abs(LoggedNs(*reported, target) - *lo) / 1e6);
            }
        }
    }
    std::printf("%-5s %-24s %8.1f %8.1f %8.1f %6.1f %5d %7s %9.1f\n", label, "zones: each output",
                Pick(late, 0.5), Pick(late, 0.99), Pick(late, 1.0), Pick(late, 0.0), lost, "",
                Pick(misreport, 1.0));
    std::printf("%-5s %-24s %8.1f %8.1f %8.1f %6.1f %5s\n", label, "zones: spread of three",
                Pick(spread, 0.5), Pick(spread, 0.99), Pick(spread, 1.0), Pick(spread, 0.0), "");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("both");
    const int perKind = argc > 2 ? std::max(2, atoi(argv[2])) : 30;
    // A third argument: only the zones run, its events that many seconds apart.
    const int zonesGap = argc > 3 ? std::max(1, atoi(argv[3])) : 0;
    Receiver receiver;
    qputenv(
        "BELVORAN_AUDIO_SINK",
        QStringLiteral("udpsink host=127.0.0.1 port=%1 sync=true").arg(receiver.Port()).toUtf8());
    EnsureGstInit();

    rlimit rt{};
    const bool realTime =
        geteuid() == 0 || (getrlimit(RLIMIT_RTPRIO, &rt) == 0 && rt.rlim_cur >= rlim_t(10));
    std::printf("first sample at the sink behind the event's second, ms (%d events %d s apart; "
                "streaming threads %s)\n",
                zonesGap ? perKind : 3 * perKind, zonesGap ? zonesGap : 2,
                realTime ? "real-time by the process's own limit"
                         : "real-time only through RealtimeKit, as the log says");
    // "log error": the largest difference between the time the log gives a first sample
    // (its second and the fire line's figure, to a tenth of a millisecond) and the kernel's
    // stamp of it.
    std::printf("%-5s %-24s %8s %8s %8s %6s %5s %7s %9s\n", "load", "events", "p50", "p99", "max",
                "min", "lost", "overlap", "log error");
    Receiver zone1, zone2, zone3;
    Receiver* zoneOutputs[3] = {&zone1, &zone2, &zone3};
    const bool ran = RunUnderLoads(mode, [&](const char* load) {
        if (!zonesGap) {
            RunOnce(load, perKind, receiver);
        }
        RunZones(load, perKind, zonesGap ? zonesGap : 2, zoneOutputs);
    });
    return ran ? 0 : 1;
}
