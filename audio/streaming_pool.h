// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

typedef struct _GstTaskPool GstTaskPool;

// The player's streaming threads, kept for the life of the process: each play's and each
// zone branch's tasks run on threads made for an earlier play, so a thread is raised to
// real time once (RealtimeKit allows a user only a few requests a second), not at every
// bell. The pool grows to the most threads that ever ran at once (a six-zone route, break
// music, a play armed beside one still sounding) and never blocks a task waiting for one.
namespace streaming_pool {

// The pool; owned by the process (never freed). Give it to a task as the task is created
// (the CREATE stream-status message, on the bus's sync handler).
GstTaskPool* Get();

// How many threads the pool has made so far.
int ThreadsMade();

} // namespace streaming_pool
