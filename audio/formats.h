#pragma once

#include <QStringList>

// The endings of sound files the installed GStreamer can play beyond the program's own
// (wav, mp3, mid, wma, ogg, flac): "oga", "opus", "m4a" where their demuxer and decoder
// are present.
QStringList ExtraSoundEndings();
