// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Why file cannot be played, in words for the log after the file name: "does not exist",
// "is a folder, not a sound file", "cannot be read (…)", "is empty (0 bytes)", "is not a
// sound file (it holds text/plain)". Empty when the file may be played; whether it really
// plays is known only when the player has tried. It runs GStreamer's type finding on the
// first bytes of the file (what playback would do first) and opens no sound device: a few
// milliseconds, so it can run right before an event's second.
QString CheckPlayableFile(const QString& file);
