// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/output_devices.h"

#include "audio/gst_init.h"

#include <QFile>

#include <QFileInfo>
#include <QSet>
#include <QtMath>

#include <gst/gst.h>

#include <cstring>

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

// Whether a PulseAudio (or PipeWire's pulse) server can be there to ask. Without one, the
// pulse device provider's failed connection would leave its context behind at every look.
bool PulseServerThere() {
    if (qEnvironmentVariableIsSet("PULSE_SERVER")) {
        return true;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/pulse/native"));
}

// A device provider as asked: started, for a pulse provider only probed (not started) leaves
// its server connection behind at every look, does not say which sink is the default, and
// does not say which providers it stands for.
struct AskedProvider {
    GstDeviceProvider* provider = nullptr;
    bool started = false;
};

void Release(const AskedProvider& p) {
    if (p.started) {
        gst_device_provider_stop(p.provider);
    }
    gst_object_unref(p.provider);
}

// The device providers to ask, started, without those another one stands for (a sound
// server hides the sound cards it plays to), as a device monitor would choose them. Free
// each with Release.
QVector<AskedProvider> OutputProviders() {
    QVector<AskedProvider> providers;
    QSet<QString> hidden;
    GList* factories = gst_device_provider_factory_list_get_device_providers(GST_RANK_MARGINAL);
    for (GList* f = factories; f; f = f->next) {
        auto* factory = GST_DEVICE_PROVIDER_FACTORY(f->data);
        const QString name = QString::fromUtf8(GST_OBJECT_NAME(factory));
        if (!gst_device_provider_factory_has_classes(factory, "Audio/Sink") ||
            (name == QStringLiteral("pulsedeviceprovider") && !PulseServerThere())) {
            continue;
        }
        if (GstDeviceProvider* p = gst_device_provider_factory_get(factory)) {
            const bool started = gst_device_provider_start(p);
            gchar** hides = gst_device_provider_get_hidden_providers(p);
            for (gchar** h = hides; h && *h; ++h) {
                hidden << QString::fromUtf8(*h);
            }
            g_strfreev(hides);
            providers.push_back({p, started});
        }
    }
    gst_plugin_feature_list_free(factories);
    providers.removeIf([&](const AskedProvider& p) {
        GstDeviceProviderFactory* f = gst_device_provider_get_factory(p.provider);
        const bool drop = hidden.contains(QString::fromUtf8(GST_OBJECT_NAME(f)));
        if (drop) {
            Release(p);
        }
        return drop;
    });
    return providers;
}

} // namespace

QVector<OutputDevice> ListOutputDevices() {
    EnsureGstInit();
    QVector<OutputDevice> found;
    for (const AskedProvider& provider : OutputProviders()) {
        GList* devices = gst_device_provider_get_devices(provider.provider);
        for (GList* d = devices; d; d = d->next) {
            auto* device = GST_DEVICE(d->data);
            if (!gst_device_has_classes(device, "Audio/Sink")) {
                continue;
            }
            gchar* name = gst_device_get_display_name(device);
            const QString sink = StableSink(device);
            if (!sink.isEmpty()) {
                found.push_back({QString::fromUtf8(name), sink, MostChannels(device)});
            }
            g_free(name);
        }
        g_list_free_full(devices, gst_object_unref);
        Release(provider);
    }
    return found;
}

QStringList OutputProviderNames() {
    EnsureGstInit();
    QStringList names;
    for (const AskedProvider& p : OutputProviders()) {
        names << QString::fromUtf8(GST_OBJECT_NAME(gst_device_provider_get_factory(p.provider)));
        Release(p);
    }
    return names;
}

QString DefaultOutputSink() {
    EnsureGstInit();
    GstDeviceProvider* pulse = PulseServerThere()
                                   ? gst_device_provider_factory_get_by_name("pulsedeviceprovider")
                                   : nullptr;
    if (!pulse) {
        return {};
    }
    const AskedProvider provider{pulse, bool(gst_device_provider_start(pulse))};
    QString sink;
    GList* devices = gst_device_provider_get_devices(pulse);
    for (GList* d = devices; d && sink.isEmpty(); d = d->next) {
        auto* device = GST_DEVICE(d->data);
        gboolean isDefault = FALSE;
        if (GstStructure* props = gst_device_get_properties(device)) {
            gst_structure_get_boolean(props, "is-default", &isDefault);
            gst_structure_free(props);
        }
        if (isDefault && gst_device_has_classes(device, "Audio/Sink")) {
            sink = StableSink(device);
        }
    }
    g_list_free_full(devices, gst_object_unref);
    Release(provider);
    return sink;
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

QString WhyNotAnOutput(const QString& description) {
    if (description.trimmed().isEmpty()) {
        return QStringLiteral("没有填写");
    }
    EnsureGstInit();
    GError* err = nullptr;
    GstElement* bin = gst_parse_bin_from_description(description.toUtf8().constData(), TRUE, &err);
    if (!bin) {
        g_clear_error(&err); // GStreamer's words are English and about its syntax
        return QStringLiteral("不是声音输出的写法（应如 alsasink device=hw:1）");
    }
    g_clear_error(&err); // a warning about a property is not a refusal
    gst_object_ref_sink(bin);
    bool sink = false;
    GstIterator* it = gst_bin_iterate_sinks(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    while (!sink && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElementFactory* f = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
        const gchar* klass =
            f ? gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_KLASS) : nullptr;
        sink = klass && strstr(klass, "Sink");
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    gst_object_unref(bin);
    return sink ? QString() : QStringLiteral("其中没有声音输出（sink）");
}
