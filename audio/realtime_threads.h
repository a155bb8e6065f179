// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Real-time scheduling for the player's streaming threads, so that a busy computer does not
// delay the sink's wake-up at an armed start. A process whose RLIMIT_RTPRIO allows it (root,
// or a limit of 10 or more) raises its threads itself. An ordinary desktop user's threads are
// raised by RealtimeKit (org.freedesktop.RealtimeKit1 on the system bus), as the sound
// servers' are; it is asked on a thread of its own, never by a streaming thread or the tick.
namespace realtime {

// Says once in the log which way the audio threads run: by the process's own limit, through
// RealtimeKit, or neither and why.
void Start();

// On a streaming thread as it starts: raises it, or has it raised.
void RaiseThisThread();

} // namespace realtime
