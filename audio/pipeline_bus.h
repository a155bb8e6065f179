// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A pipeline's bus, handled on whichever thread posts. Only for audio/'s own sources.

#include <QtGlobal>

typedef struct _GstMessage GstMessage;
class GstPlayer;
struct PlayPipeline;

// Hands a message on to the player's thread; the call owns msg.
using DeliverFn = void (*)(GstPlayer* player, quint64 serial, GstMessage* msg);

// Handles p's bus messages as they are posted: playbin reaching PLAYING is noted (playingNs)
// and delivered, an output that fails stops being fed before its error reaches the tee, new
// streaming threads are made real-time; end of stream and errors are delivered unchanged to
// p's owner. Every other message is dropped.
void WatchBus(PlayPipeline& p, DeliverFn deliver);
