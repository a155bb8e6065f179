// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A PulseAudio server of a test's own, with null sinks, and a recorder of a sink's monitor that
// says when each recorded sample was heard. The player reaches the server through PULSE_SERVER,
// which Start sets for the whole process.

#include "audio/gst_init.h"
#include "audio/monotonic_clock.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <mutex>
#include <vector>

class PulseServer {
public:
    static constexpr int kRate = 48000;

    // Why this machine cannot run one (for QSKIP), or "" when the server is up with the sinks.
    // BELVORAN_PULSE_SERVER names a running server to use instead (PipeWire's PulseAudio
    // service, say): the sinks are added to it as null sinks.
    QString Start(const QStringList& sinks) {
        if (const QByteArray other = qgetenv("BELVORAN_PULSE_SERVER"); !other.isEmpty()) {
            return UseRunning(QString::fromLocal8Bit(other), sinks);
        }
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (daemon.isEmpty()) {
            return QStringLiteral("PulseAudio is not installed (scripts/setup installs it)");
        }
        EnsureGstInit();
        if (!gst_element_factory_find("pulsesink") || !gst_element_factory_find("pulsesrc")) {
            return QStringLiteral("GStreamer's PulseAudio elements are missing "
                                  "(gstreamer1.0-pulseaudio)");
        }
        QFile config(dir_.filePath(QStringLiteral("server.pa")));
        QByteArray script =
            "load-module module-native-protocol-unix socket=" + QFile::encodeName(Socket()) +
            " auth-anonymous=1\n";
        for (const QString& sink : sinks) {
            script += QStringLiteral("load-module module-null-sink sink_name=%1 rate=%2\n")
                          .arg(sink)
                          .arg(kRate)
                          .toUtf8();
        }
        if (!sinks.isEmpty()) {
            script += "set-default-sink " + sinks.first().toUtf8() + "\n";
        }
        if (!config.open(QIODevice::WriteOnly) || config.write(script) != script.size()) {
            return QStringLiteral("cannot write the server's script");
        }
        config.close();
        QStringList env = QProcess::systemEnvironment();
        env << QStringLiteral("XDG_RUNTIME_DIR=%1").arg(dir_.path())
            << QStringLiteral("HOME=%1").arg(dir_.path());
        server_.setEnvironment(env);
        server_.setProcessChannelMode(QProcess::MergedChannels);
        // -n: no default script; no autospawn, no idle exit, the null sinks never suspend.
        server_.start(daemon, {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                               "--use-pid-file=no", "--system=no", "--log-target=stderr", "-F",
                               config.fileName()});
        if (!server_.waitForStarted(10000)) {
            return QStringLiteral("pulseaudio did not start");
        }
        for (int i = 0; i < 200 && !QFile::exists(Socket()); ++i) {
            if (server_.state() != QProcess::Running) {
                return QStringLiteral("pulseaudio ended: %1")
                    .arg(QString::fromLocal8Bit(server_.readAll()).right(400));
            }
            QThread::msleep(50);
        }
        if (!QFile::exists(Socket())) {
            return QStringLiteral("pulseaudio opened no socket");
        }
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + Socket()));
        return {};
    }
    ~PulseServer() {
        for (const QString& module : modules_) {
            QProcess::execute(QStringLiteral("pactl"), {"unload-module", module});
        }
        server_.terminate();
        if (!server_.waitForFinished(5000)) {
            server_.kill();
            server_.waitForFinished(5000);
        }
        qunsetenv("PULSE_SERVER");
    }

private:
    QString Socket() const { return dir_.filePath(QStringLiteral("native")); }
    QString UseRunning(const QString& server, const QStringList& sinks) {
        EnsureGstInit();
        qputenv("PULSE_SERVER", QFile::encodeName(server));
        for (const QString& sink : sinks) {
            QProcess pactl;
            pactl.start(QStringLiteral("pactl"),
                        {"load-module", "module-null-sink", "sink_name=" + sink,
                         QStringLiteral("rate=%1").arg(kRate)});
            if (!pactl.waitForFinished(10000) || pactl.exitCode() != 0) {
                return QStringLiteral("pactl cannot add the sink %1 to %2").arg(sink, server);
            }
            modules_ << QString::fromLocal8Bit(pactl.readAllStandardOutput()).trimmed();
        }
        if (!sinks.isEmpty()) {
            QProcess::execute(QStringLiteral("pactl"), {"set-default-sink", sinks.first()});
        }
        return {};
    }

    QTemporaryDir dir_;
    QProcess server_;
    QStringList modules_; // null sinks added to a server of someone else's
};

// Records a null sink's monitor: mono, 16 bit, PulseServer::kRate, in blocks of kFragmentUs,
// each sample with the time it was heard on the monotonic clock (the pipeline runs on the
// system clock, which is monotonic).
class MonitorRecorder {
public:
    static constexpr int kFragmentUs = 5000;

    explicit MonitorRecorder(const QString& sink) {
        const QString desc =
            QStringLiteral("pulsesrc device=%1.monitor buffer-time=40000 latency-time=%2 "
                           "provide-clock=false ! audio/x-raw,format=S16LE,channels=1,rate=%3 ! "
                           "appsink name=out sync=false emit-signals=false")
                .arg(sink)
                .arg(kFragmentUs)
                .arg(PulseServer::kRate);
        pipeline_ = gst_parse_launch(desc.toUtf8().constData(), nullptr);
        GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline_), "out");
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = [](GstAppSink* sink, gpointer self) {
            return static_cast<MonitorRecorder*>(self)->OnSample(sink);
        };
        gst_app_sink_set_callbacks(GST_APP_SINK(out), &callbacks, this, nullptr);
        gst_object_unref(out);
        gst_element_set_state(pipeline_, GST_STATE_PLAYING);
        gst_element_get_state(pipeline_, nullptr, nullptr, 10 * GST_SECOND);
    }
    ~MonitorRecorder() {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
    }

    // One stretch of sound: when its first sample was heard (monotonic ns) and how long it is.
    struct Sound {
        qint64 startNs;
        double seconds;
    };
    // The sounds heard from fromNs on; gaps of silence shorter than minGap join two.
    std::vector<Sound> Sounds(qint64 fromNs, double minGap = 0.1) const {
        std::lock_guard lock(mutex_);
        std::vector<Sound> sounds;
        qint64 lastLoudNs = -1;
        for (const Block& b : blocks_) {
            const qint64 startNs = HeardNs(b, 0);
            for (size_t i = 0; i < b.samples.size(); ++i) {
                if (std::abs(int(b.samples[i])) < kThreshold) {
                    continue;
                }
                const qint64 ns = startNs + qint64(i) * 1000000000 / PulseServer::kRate;
                if (ns < fromNs) {
                    continue;
                }
                if (lastLoudNs < 0 || ns - lastLoudNs > qint64(minGap * 1e9)) {
                    sounds.push_back({ns, 0});
                }
                sounds.back().seconds = (ns - sounds.back().startNs) / 1e9;
                lastLoudNs = ns;
            }
        }
        return sounds;
    }

private:
    static constexpr int kThreshold = 300;
    struct Block {
        qint64 capturedNs; // its first sample, on the monotonic clock
        std::vector<qint16> samples;
    };
    static qint64 HeardNs(const Block& b, size_t index) {
        return b.capturedNs + qint64(index) * 1000000000 / PulseServer::kRate;
    }
    // Each block is stamped by the source with its first sample's capture time (the sound
    // server's timing, on the pipeline's monotonic clock), not by this thread's wake-up.
    GstFlowReturn OnSample(GstAppSink* sink) {
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) {
            return GST_FLOW_EOS;
        }
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        const GstClockTime running = gst_segment_to_running_time(
            gst_sample_get_segment(sample), GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        const qint64 captured = GST_CLOCK_TIME_IS_VALID(running)
                                    ? qint64(gst_element_get_base_time(pipeline_) + running)
                                    : MonotonicNs();
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            const auto* data = reinterpret_cast<const qint16*>(map.data);
            std::lock_guard lock(mutex_);
            blocks_.push_back({captured, std::vector<qint16>(data, data + map.size / 2)});
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    GstElement* pipeline_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Block> blocks_;
};
