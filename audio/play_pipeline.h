// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What GstPlayer knows about one playbin, shared by the files that build and watch it. Only
// for audio/'s own sources: it brings GStreamer in.

#include "audio/player.h"

#include <QString>

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

class GstPlayer;
struct PlayPipeline;

// One output of a pipeline: the default path's sink, or one branch behind the tee of a play
// with several outputs.
struct SinkBranch {
    PlayPipeline* pipe = nullptr;
    QString name;                     // the output, for the log
    GstElement* bin = nullptr;        // its elements behind the tee (a reference); null: no tee
    GstPad* teePad = nullptr;         // the tee's pad feeding it (a reference)
    std::atomic<qint64> bufferNs{-1}; // the first buffer reached the sink
    // The sink was done with the first buffer: its pad went idle after it (or, failing that,
    // the next buffer or the end reached it). A sink on the clock renders a buffer after
    // waiting for its time, so this is when the first sample really went out, late wake-ups
    // and a slow send included.
    std::atomic<qint64> renderedNs{-1};
    std::atomic<bool> failed{false}; // its sink failed: the tee feeds it nothing more
    bool removed = false;            // taken out of the pipeline (player's thread)
    // A sink with a ring buffer (a sound card, a sound server) takes data ahead of its time:
    // when its first sample is heard is read off the sink's own clock instead (HeardAt).
    GstElement* watched = nullptr;                     // the sink or bin the probe watches
    std::atomic<GstAudioBaseSink*> audioSink{nullptr}; // inside it, found with the first buffer
    GstClockTime firstRunning = GST_CLOCK_TIME_NONE;   // the first buffer's running time
    std::atomic<qint64> heardNs{-1};                   // when the first sample was heard
};

// One playbin and what is known about it.
struct PlayPipeline {
    GstElement* playbin = nullptr;
    GstElement* sink = nullptr; // the audio sink, owned by playbin
    // In front of the sink: the queue that holds what is decoded ahead, and the blocking probe
    // on its way out that keeps the sink from opening its stream until the play starts. A
    // sound server's stream opened ahead keeps a clock that runs while nothing plays, and its
    // sink would place the first sample that far after its time.
    GstPad* gatePad = nullptr;             // the queue's source pad (a reference)
    gulong gateProbe = 0;                  // 0: open
    std::atomic<bool> decodedAhead{false}; // a buffer waits in the queue
    // It reached its end while it waited for its target: outputs that take data as fast as
    // it comes (a file) are done before the play becomes the current one.
    bool endedEarly = false;
    GstElement* tee = nullptr; // with several outputs: what feeds them
    GstPlayer* owner = nullptr;
    void (*firstRendered)(GstPlayer*, quint64) = nullptr; // to the owner's thread
    quint64 serial = 0;
    QString file;
    AudioRoute route;
    std::vector<std::unique_ptr<SinkBranch>> branches; // never shrinks while it lives
    qint64 startNs = -1;    // an armed start's target on the monotonic clock
    bool announced = false; // PlayStateChange to Playing has been emitted for it
    bool reported = false;  // FirstSample has been emitted for it
    std::atomic<qint64> playingNs{-1};
    GstClock* clock = nullptr; // an armed start's: it says when the sink woke for the first sample
    std::atomic<bool> fallbackSink{false}; // no device: autoaudiosink fell back to a fake sink
    // An armed start's target on the monotonic clock: this (the previous) playback's sink
    // gets nothing that would sound past it. -1: no cut.
    std::atomic<qint64> cutNs{-1};
    // How far the sinks' running time is shifted: an armed start runs from its arming on, its
    // first sample at this offset (ts-offset of every sink).
    std::atomic<qint64> offsetNs{0};

    ~PlayPipeline();
    // The earliest time of the branches' field; -1 when none has one.
    qint64 Earliest(std::atomic<qint64> SinkBranch::*field) const;
    int Working() const;
    // The branch holding obj; null for the default path or an element outside every branch.
    SinkBranch* BranchOf(GstObject* obj) const;
};

// A playbin for file: audio only, no display sinks, MIDI through the installed soundfont.
// An automatic sink falling back to a fake one sets p's fallbackSink. A full reference.
GstElement* NewPlaybin(PlayPipeline& p);
