// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// One sound output of this machine, as GStreamer's device monitor lists it.
struct OutputDevice {
    QString name;     // for people: "Built-in Audio Analog Stereo"
    QString sink;     // the sink that opens it, by a stable name, in gst-launch syntax
    int channels = 0; // the most it takes; 0 when it does not say
};

// The machine's audio outputs (sound cards, PipeWire/PulseAudio sinks, USB interfaces) now.
QVector<OutputDevice> ListOutputDevices();
// The device providers ListOutputDevices asks now, by factory name: a running sound server's
// ("pulsedeviceprovider"), which stands for the sound cards, or without one the cards'
// ("alsadeviceprovider"), as a service with no desktop session finds them.
QStringList OutputProviderNames();
// The sink of the sound server's default output, as ListOutputDevices names it: the device
// "默认输出" plays to now. Empty when there is no sound server to ask.
QString DefaultOutputSink();
// A short tone as a WAV file at path, for trying an output out.
bool WriteTestTone(const QString& path);
// Why description (gst-launch syntax, as an expert types it) cannot be a zone's output, in
// words for the window; empty when it makes elements with a sink among them. Only makes the
// elements: no device is opened.
QString WhyNotAnOutput(const QString& description);
