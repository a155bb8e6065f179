// SPDX-License-Identifier: GPL-3.0-or-later
// Two stand-ins for the real-time test, run on the test's own system bus:
//   realtime_kit_helper authority   answers polkit's CheckAuthorization with "yes", as a
//                                   desktop session's polkit does for RealtimeKit's action
//   realtime_kit_helper play        plays a sound with the program's player and prints each of
//                                   its threads' scheduling policy while it plays, after a
//                                   raised thread that runs on without blocking
//   realtime_kit_helper bells N     rings N short bells a second apart on three zones and
//                                   prints how many streaming threads were made
#include "audio/gst_player.h"
#include "audio/realtime_threads.h"
#include "audio/streaming_pool.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr char kAuthorityXml[] = R"xml(<node>
  <interface name="org.freedesktop.PolicyKit1.Authority">
    <method name="CheckAuthorization">
      <arg type="(sa{sv})" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{ss}" direction="in"/><arg type="u" direction="in"/>
      <arg type="s" direction="in"/><arg type="(bba{ss})" direction="out"/>
    </method>
  </interface>
</node>)xml";

int RunAuthority() {
    GError* err = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &err);
    GDBusNodeInfo* node = bus ? g_dbus_node_info_new_for_xml(kAuthorityXml, &err) : nullptr;
    if (!node) {
        std::fprintf(stderr, "authority: %s\n", err ? err->message : "?");
        return 1;
    }
    static const GDBusInterfaceVTable vtable{
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
           GDBusMethodInvocation* call, gpointer) {
            g_dbus_method_invocation_return_value(
                call, g_variant_new_parsed("((true, false, @a{ss} {}),)"));
        },
        nullptr,
        nullptr,
        {}};
    g_dbus_connection_register_object(bus, "/org/freedesktop/PolicyKit1/Authority",
                                      node->interfaces[0], &vtable, nullptr, nullptr, &err);
    g_bus_own_name_on_connection(
        bus, "org.freedesktop.PolicyKit1", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer) {
            std::printf("ready\n");
            std::fflush(stdout);
        },
        nullptr, nullptr, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, false));
    return 0;
}

// A mono 16-bit WAV file of silence.
bool MakeWav(const QString& path, int ms) {
    const quint32 data = 441u * 2u * quint32(ms / 10);
    QByteArray b("RIFF");
    auto u32 = [&](quint32 v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](quint16 v) { b.append(reinterpret_cast<const char*>(&v), 2); };
    u32(36 + data);
    b.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(44100);
    u32(88200);
    u16(2);
    u16(16);
    b.append("data");
    u32(data);
    b.append(QByteArray(int(data), '\0'));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
}

int RunPlay(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString file = dir.path() + "/bell.wav";
    // Longer than the helper runs: its threads are listed while the sound still plays, however
    // slowly a busy or sanitized build gets there.
    if (!MakeWav(file, 10000)) {
        return 1;
    }
    GstPlayer player;
    player.CheckOutput();
    player.SetFileName(file, AudioRoute());
    player.Play();
    // A real-time thread that runs on without blocking, past RLIMIT_RTTIME's hard limit: it
    // must end up back on ordinary scheduling, not killed with the program.
    std::thread runaway([] {
        realtime::RaiseThisThread();
        QElapsedTimer t;
        t.start();
        while ((sched_getscheduler(0) & 0xff) == SCHED_OTHER && t.elapsed() < 3000) {
            QThread::msleep(10); // until RealtimeKit has raised it
        }
        const int raised = sched_getscheduler(0) & 0xff;
        t.restart();
        while (t.elapsed() < 500) {
        }
        std::printf("runaway raised %d then %d\n", raised, sched_getscheduler(0) & 0xff);
    });
    runaway.join();
    QTimer::singleShot(1000, [] {
        for (const QString& tid :
             QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            std::printf("thread %s policy %d\n", qPrintable(tid), sched_getscheduler(tid.toInt()));
        }
        std::fflush(stdout);
        QCoreApplication::quit();
    });
    return app.exec();
}

// Short bells a second apart, each on three zones: between two of them the streaming
// threads wait idle longer than GLib's shared pool keeps a thread for its pool.
int RunBells(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString file = dir.path() + "/bell.wav";
    if (!MakeWav(file, 300)) {
        return 1;
    }
    const AudioRoute zones = {{"一", "fakesink sync=true", 0, {}},
                              {"二", "fakesink sync=true", 0, {}},
                              {"三", "fakesink sync=true", 0, {}}};
    GstPlayer player;
    player.CheckOutput();
    const int bells = std::atoi(argv[2]);
    int rung = 0;
    QTimer next;
    QObject::connect(&next, &QTimer::timeout, &app, [&] {
        if (rung == bells) {
            std::printf("threads made %d\n", streaming_pool::ThreadsMade());
            std::fflush(stdout);
            QCoreApplication::quit();
            return;
        }
        ++rung;
        player.SetFileName(file, zones);
        player.Play();
    });
    next.start(1000);
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "authority") == 0) {
        return RunAuthority();
    }
    if (argc > 2 && std::strcmp(argv[1], "bells") == 0) {
        return RunBells(argc, argv);
    }
    return RunPlay(argc, argv);
}
