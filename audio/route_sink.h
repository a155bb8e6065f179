// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a pipeline plays into: the default output's sink, or a tee with a branch per output
// of the route (each with its own queue, conversion and channel matrix), behind a gate that
// holds what is decoded ahead until the play starts. Only for audio/'s own sources.

#include <QString>

#include <functional>

typedef struct _GstBus GstBus;
typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
struct PlayPipeline;

// Told of one output of a play with several that cannot be opened or has failed.
using OutputFailedFn = std::function<void(const QString& output, const QString& reason)>;

// autoaudiosink's fallback when it finds no device it can open.
inline constexpr char kFallbackSink[] = "fake-audio-sink";

// The default output: BELVORAN_AUDIO_SINK (gst-launch syntax), or autoaudiosink.
QString SinkDescription();
// The default output's sink; floating, may be null.
GstElement* MakeAudioSink();
// The factory names of the sinks inside sink, e.g. "pulsesink".
QString SinkNames(GstElement* sink);
// The text of the first error waiting on bus; empty when none is.
QString PendingError(GstBus* bus);
// The text of an error message.
QString ErrorText(GstMessage* msg);

// Gives p's playbin its audio sink for p's route, every output's sink watched for the first
// sample, the gate closed. An output that cannot be opened is left out and told to failed,
// unless none can: then the play fails as a play to the default output does.
void AttachAudioSink(PlayPipeline& p, const OutputFailedFn& failed);
// Lets what waits in front of the sink through: the sink opens its stream now.
void OpenGate(PlayPipeline& p);
// Shifts every sink's running time by offsetNs (their ts-offset).
void ShiftSinks(PlayPipeline& p, qint64 offsetNs);
// An error of one output while others work: that output is taken out and told to failed,
// the play goes on. False when msg is no such error.
bool TakeOutFailedBranch(PlayPipeline& p, GstMessage* msg, const OutputFailedFn& failed);
