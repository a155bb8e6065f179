// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/realtime_threads.h"

#include "core/play_log.h"

#include <QCoreApplication>
#include <QString>

// GIO names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace realtime {
namespace {

constexpr int kPriority = 10;
constexpr char kKitName[] = "org.freedesktop.RealtimeKit1";
constexpr char kKitPath[] = "/org/freedesktop/RealtimeKit1";
constexpr int kCallTimeoutMs = 5000;

bool OwnLimitAllows() {
    rlimit limit{};
    return geteuid() == 0 ||
           (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur >= rlim_t(kPriority));
}

// Said on the thread that owns the log (the event loop's), as every other line is.
void Log(const QString& line) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            app, [line] { PlayLog(line); }, Qt::QueuedConnection);
    } else {
        PlayLog(line);
    }
}

QString Message(GError* err) {
    const QString text = QString::fromUtf8(err ? err->message : "unknown error");
    g_clear_error(&err);
    return text;
}

// The calling thread back to ordinary scheduling. RealtimeKit sets SCHED_RESET_ON_FORK, which
// an unprivileged thread may not clear.
void BackToOrdinary() {
    sched_param param{};
    sched_setscheduler(0, SCHED_OTHER | SCHED_RESET_ON_FORK, &param); // 0: this thread
}

// A thread that runs on real time for longer than RLIMIT_RTTIME's soft limit without
// blocking gets SIGXCPU: it goes back to ordinary scheduling instead of reaching the hard
// limit, where the kernel would kill the program.
void DemoteRunaway(int) {
    BackToOrdinary();
}

// Asks RealtimeKit for threads, one request at a time, on a thread that lives as long as the
// process (it sleeps while nothing is asked).
class KitBroker {
public:
    static KitBroker& Instance() {
        static KitBroker* broker = new KitBroker; // never destroyed: its thread never ends
        return *broker;
    }
    void Ask(pid_t tid) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (refused_) {
                return;
            }
            pending_.push_back(tid);
        }
        wake_.notify_one();
    }

private:
    KitBroker() {
        std::thread([this] { Run(); }).detach();
    }

    void Run() {
        QString why;
        if (!Connect(&why)) {
            Log(QStringLiteral("audio threads run without real-time priority (RLIMIT_RTPRIO is "
                               "below %1, and RealtimeKit: %2): on a busy computer a bell may "
                               "start some milliseconds after its second")
                    .arg(kPriority)
                    .arg(why));
            std::lock_guard<std::mutex> lock(mutex_);
            refused_ = true;
            pending_.clear();
            return;
        }
        Log(QStringLiteral("audio threads run real-time through RealtimeKit (priority %1)")
                .arg(priority_));
        BackToOrdinary(); // this thread only asks and sleeps
        bool failedBefore = false;
        for (;;) {
            pid_t tid = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return !pending_.empty(); });
                tid = pending_.front();
                pending_.pop_front();
            }
            QString error;
            // A thread that has ended meanwhile is no longer there to raise: not a failure.
            if (!MakeRealtime(tid, &error) && access(qPrintable(Task(tid)), F_OK) == 0 &&
                !failedBefore) {
                failedBefore = true; // once: a refusing RealtimeKit would refuse every play
                Log(QStringLiteral("error RealtimeKit did not raise an audio thread: %1")
                        .arg(error));
            }
        }
    }

    static QString Task(pid_t tid) { return QStringLiteral("/proc/self/task/%1").arg(tid); }

    // Reads RealtimeKit's limits, sets RLIMIT_RTTIME as it requires, and asks for this
    // thread: what it answers for it, it answers for the streaming threads.
    bool Connect(QString* why) {
        GError* err = nullptr;
        bus_ = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &err);
        if (!bus_) {
            *why = QStringLiteral("no system bus (%1)").arg(Message(err));
            return false;
        }
        GVariant* max = Property("MaxRealtimePriority", why);
        if (!max) {
            return false;
        }
        priority_ = std::min(kPriority, int(g_variant_get_int32(max)));
        g_variant_unref(max);
        GVariant* rttime = Property("RTTimeUSecMax", why);
        if (!rttime) {
            return false;
        }
        rlim_t hard = rlim_t(std::max<gint64>(g_variant_get_int64(rttime), 1000));
        g_variant_unref(rttime);
        if (rlimit now{}; getrlimit(RLIMIT_RTTIME, &now) == 0 && now.rlim_max < hard) {
            hard = now.rlim_max; // a limit may be lowered, never raised again
        }
        const rlimit limit{hard / 2, hard};
        if (priority_ < 1 || setrlimit(RLIMIT_RTTIME, &limit) != 0) {
            *why = priority_ < 1 ? QStringLiteral("it allows no real-time priority")
                                 : QStringLiteral("RLIMIT_RTTIME cannot be set");
            return false;
        }
        struct sigaction action {};
        action.sa_handler = DemoteRunaway;
        action.sa_flags = SA_RESTART;
        sigaction(SIGXCPU, &action, nullptr);
        return MakeRealtime(pid_t(syscall(SYS_gettid)), why);
    }

    GVariant* Property(const char* name, QString* why) {
        GError* err = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus_, kKitName, kKitPath, "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", kKitName, name), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
            kCallTimeoutMs, nullptr, &err);
        if (!reply) {
            *why = Message(err);
            return nullptr;
        }
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        g_variant_unref(reply);
        return value;
    }

    bool MakeRealtime(pid_t tid, QString* why) {
        GError* err = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus_, kKitName, kKitPath, kKitName, "MakeThreadRealtimeWithPID",
            g_variant_new("(ttu)", guint64(getpid()), guint64(tid), guint32(priority_)), nullptr,
            G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &err);
        if (!reply) {
            *why = Message(err);
            return false;
        }
        g_variant_unref(reply);
        return true;
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<pid_t> pending_;
    bool refused_ = false;
    GDBusConnection* bus_ = nullptr;
    int priority_ = kPriority;
};

} // namespace

void Start() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (OwnLimitAllows()) {
            PlayLog(QStringLiteral("audio threads run real-time (priority %1)").arg(kPriority));
        } else {
            KitBroker::Instance(); // says which way once it knows
        }
    });
}

void RaiseThisThread() {
    const int policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    if (policy == SCHED_FIFO || policy == SCHED_RR) {
        return; // a pooled thread raised for an earlier playback
    }
    if (OwnLimitAllows()) {
        sched_param param{};
        param.sched_priority = kPriority;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    } else {
        KitBroker::Instance().Ask(pid_t(syscall(SYS_gettid)));
    }
}

} // namespace realtime
