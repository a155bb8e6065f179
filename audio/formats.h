// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QStringList>

// The endings of sound files the installed GStreamer can play beyond the program's own
// (wav, mp3, mid, wma, ogg, flac): "oga", "opus", "m4a" where their demuxer and decoder
// are present.
QStringList ExtraSoundEndings();

// The General MIDI soundfont MIDI files are rendered with, by playback and by measurement
// alike: TimGM6mb from the data folders (~/.local/share first), else Debian's path. As a
// file name for GStreamer.
QByteArray MidiSoundFont();
