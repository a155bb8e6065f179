#include "audio/output_devices.h"

#include "audio/gst_init.h"

#include <QFile>
#include <QtMath>

#include <gst/gst.h>

namespace {

// The property by which the device's own sink finds it again, whatever order the devices
// are listed in next time: an ALSA device name, a sound server's sink name.
QString StableSink(GstDevice* device) {
    GstElement* element = gst_device_create_element(device, nullptr);
    if (!element) {
        return {};
    }
    gst_object_ref_sink(element);
    QString sink = QString::fromUtf8(GST_OBJECT_NAME(gst_element_get_factory(element)));
    for (const char* property : {"device", "target-object", "path"}) {
        if (!g_object_class_find_property(G_OBJECT_GET_CLASS(element), property)) {
            continue;
        }
        gchar* value = nullptr;
        g_object_get(element, property, &value, nullptr);
        if (value && *value) {
            sink += QStringLiteral(" %1=\"%2\"")
                        .arg(QString::fromUtf8(property), QString::fromUtf8(value));
            g_free(value);
            break;
        }
        g_free(value);
    }
    gst_object_unref(element);
    return sink;
}

int MostChannels(GstDevice* device) {
    GstCaps* caps = gst_device_get_caps(device);
    int most = 0;
    for (guint i = 0; caps && i < gst_caps_get_size(caps); ++i) {
        const GValue* v = gst_structure_get_value(gst_caps_get_structure(caps, i), "channels");
        if (v && G_VALUE_HOLDS_INT(v)) {
            most = std::max(most, g_value_get_int(v));
        } else if (v && GST_VALUE_HOLDS_INT_RANGE(v)) {
            most = std::max(most, gst_value_get_int_range_max(v));
        }
    }
    if (caps) {
        gst_caps_unref(caps);
    }
    return most;
}

} // namespace

QVector<OutputDevice> ListOutputDevices() {
    EnsureGstInit();
    QVector<OutputDevice> found;
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Audio/Sink", nullptr);
    if (!gst_device_monitor_start(monitor)) {
        gst_object_unref(monitor);
        return found;
    }
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* d = devices; d; d = d->next) {
        auto* device = GST_DEVICE(d->data);
        gchar* name = gst_device_get_display_name(device);
        const QString sink = StableSink(device);
        if (!sink.isEmpty()) {
            found.push_back({QString::fromUtf8(name), sink, MostChannels(device)});
        }
        g_free(name);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_device_monitor_stop(monitor);
    gst_object_unref(monitor);
    return found;
}

bool WriteTestTone(const QString& path) {
    constexpr int kRate = 44100;
    constexpr int kSamples = kRate * 6 / 10; // 0.6 s
    QByteArray b;
    auto u32 = [&](quint32 v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](quint16 v) { b.append(reinterpret_cast<const char*>(&v), 2); };
    b.append("RIFF");
    u32(36 + kSamples * 2);
    b.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(kRate);
    u32(kRate * 2);
    u16(2);
    u16(16);
    b.append("data");
    u32(kSamples * 2);
    for (int i = 0; i < kSamples; ++i) {
        // 880 Hz, faded in and out so it does not click.
        const double fade = std::min({1.0, i / 2000.0, (kSamples - i) / 2000.0});
        u16(quint16(qint16(12000 * fade * std::sin(2 * M_PI * 880 * i / kRate))));
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
}
