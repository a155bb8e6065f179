// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/play_pipeline.h"

#include "audio/formats.h"
#include "audio/route_sink.h"

#include <QFile>
#include <QFileInfo>

namespace {

// playbin flags: audio only. No software volume: the program never changes the volume, and
// with it playsink (GStreamer 1.22) leaks its volume element and two pads on every play.
constexpr guint kPlayFlagAudio = 1 << 1;
constexpr double kMidiGain = 0.8;

void OnElementSetup(GstElement*, GstElement* element, gpointer) {
    GstElementFactory* f = gst_element_get_factory(element);
    if (f && g_strcmp0(GST_OBJECT_NAME(f), "fluiddec") == 0) {
        // MIDI: the installed General MIDI soundfont, loud enough to be heard over a bell.
        g_object_set(element, "soundfont", MidiSoundFont().constData(), "synth-gain", kMidiGain,
                     nullptr);
    }
}

void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
    if (g_strcmp0(GST_OBJECT_NAME(element), kFallbackSink) == 0) {
        static_cast<std::atomic<bool>*>(data)->store(true);
    }
}

// Audio only, no display sinks, and the file to play.
void SetUpPlaybin(GstElement* playbin, const QString& file) {
    g_object_set(playbin, "flags", kPlayFlagAudio, nullptr);
    // A file holding pictures or video must never make playbin look for a display sink
    // (some, like DirectFB's, crash without a screen).
    g_object_set(playbin, "video-sink", gst_element_factory_make("fakesink", nullptr), "text-sink",
                 gst_element_factory_make("fakesink", nullptr), nullptr);
    GError* err = nullptr;
    gchar* uri = gst_filename_to_uri(
        QFile::encodeName(QFileInfo(file).absoluteFilePath()).constData(), &err);
    if (uri) {
        g_object_set(playbin, "uri", uri, nullptr);
        g_free(uri);
    } else {
        g_clear_error(&err);
    }
}

} // namespace

PlayPipeline::~PlayPipeline() {
    if (gatePad) {
        gst_object_unref(gatePad);
    }
    for (auto& b : branches) {
        if (b->bin) {
            gst_object_unref(b->bin);
        }
        if (b->teePad) {
            gst_object_unref(b->teePad);
        }
    }
}

qint64 PlayPipeline::Earliest(std::atomic<qint64> SinkBranch::*field) const {
    qint64 best = -1;
    for (const auto& b : branches) {
        const qint64 ns = ((*b).*field).load();
        if (ns >= 0 && (best < 0 || ns < best)) {
            best = ns;
        }
    }
    return best;
}

int PlayPipeline::Working() const {
    return int(std::count_if(branches.begin(), branches.end(),
                             [](const auto& b) { return !b->failed.load(); }));
}

SinkBranch* PlayPipeline::BranchOf(GstObject* obj) const {
    for (const auto& b : branches) {
        if (b->bin &&
            (obj == GST_OBJECT(b->bin) || gst_object_has_as_ancestor(obj, GST_OBJECT(b->bin)))) {
            return b.get();
        }
    }
    return nullptr;
}

GstElement* NewPlaybin(PlayPipeline& p) {
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    if (!playbin) {
        return nullptr;
    }
    gst_object_ref_sink(playbin);
    SetUpPlaybin(playbin, p.file);
    g_signal_connect(playbin, "element-setup", G_CALLBACK(OnElementSetup), nullptr);
    g_signal_connect(playbin, "deep-element-added", G_CALLBACK(OnDeepElementAdded),
                     &p.fallbackSink);
    return playbin;
}
