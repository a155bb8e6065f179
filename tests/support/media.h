// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Test media made at test time with GStreamer encoders (and a MIDI file written by hand).

#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <gst/gst.h>
#include <unistd.h>

namespace media {

// Runs a gst-launch style description to its end; false on error.
inline bool Run(const QString& description) {
    GError* err = nullptr;
    GstElement* pipeline = gst_parse_launch(description.toUtf8().constData(), &err);
    if (!pipeline) {
        g_clear_error(&err);
        return false;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 120 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    if (msg) {
        gst_message_unref(msg);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

// Encoding a long tone takes seconds of CPU, and the same pipeline always gives the same
// bytes: each is encoded once per user and machine and copied from there after that. encode
// writes the file it is given, whose name ends like path's.
template <typename Encode> bool Cached(const QString& path, const QString& recipe, Encode encode) {
    const QString dir =
        QDir::tempPath() + QStringLiteral("/belvoran-test-media-%1").arg(::getuid());
    const QString name =
        QString::fromLatin1(
            QCryptographicHash::hash(recipe.toUtf8(), QCryptographicHash::Sha1).toHex()) +
        QLatin1Char('.') + QFileInfo(path).suffix();
    const QString cached = dir + QLatin1Char('/') + name;
    if (!QFileInfo::exists(cached)) {
        // Made under a name of this process, then renamed: a parallel test never sees half.
        const QString part =
            QStringLiteral("%1/%2-%3.%4")
                .arg(dir)
                .arg(QCoreApplication::applicationPid())
                .arg(name.section(QLatin1Char('.'), 0, 0), QFileInfo(path).suffix());
        if (!QDir().mkpath(dir) || !encode(part)) {
            QFile::remove(part);
            return false;
        }
        if (!QFile::rename(part, cached)) {
            QFile::remove(part); // made meanwhile by another test, with the same bytes
        }
    }
    QFile::remove(path);
    return QFile::copy(cached, path);
}

// A sine tone of whole tenths of a second at 44.1 kHz, 16-bit stereo, in the format of
// the file's ending: wav, mp3, wma, ogg, flac.
inline bool Tone(const QString& path, double seconds) {
    const int buffers = static_cast<int>(seconds * 10 + 0.5);
    const QString src = QStringLiteral("audiotestsrc wave=sine freq=440 num-buffers=%1 "
                                       "samplesperbuffer=4410 ! audio/x-raw,rate=44100,channels=2,"
                                       "format=S16LE ! audioconvert ! ")
                            .arg(buffers);
    QString enc;
    if (path.endsWith(".wav")) {
        enc = "wavenc";
    } else if (path.endsWith(".mp3")) {
        enc = "lamemp3enc target=bitrate cbr=true bitrate=128 ! id3v2mux";
    } else if (path.endsWith(".wma")) {
        enc = "avenc_wmav2 ! asfmux";
    } else if (path.endsWith(".ogg")) {
        enc = "vorbisenc ! oggmux";
    } else if (path.endsWith(".flac")) {
        enc = "flacenc";
    } else {
        return false;
    }
    return Cached(path, src + enc, [&](const QString& file) {
        QString quoted = file;
        quoted.replace("\"", "\\\"");
        return Run(src + enc + " ! filesink location=\"" + quoted + "\"");
    });
}

// A standard MIDI file holding one note for the given seconds at 120 beats a minute.
inline bool Midi(const QString& path, double seconds) {
    const quint32 division = 480; // ticks per quarter note; a quarter lasts 0.5 s
    quint32 ticks = static_cast<quint32>(seconds * 2 * division + 0.5);
    QByteArray vlq;
    vlq.prepend(char(ticks & 0x7F));
    while ((ticks >>= 7) > 0) {
        vlq.prepend(char((ticks & 0x7F) | 0x80));
    }
    QByteArray track;
    track += QByteArray::fromHex("00C000");       // program change: piano
    track += QByteArray::fromHex("00903C64");     // note on, middle C
    track += vlq + QByteArray::fromHex("803C40"); // note off after the whole length
    track += QByteArray::fromHex("00FF2F00");     // end of track
    QByteArray file = QByteArray::fromHex("4D546864000000060000000101E0"); // MThd, format 0
    file += "MTrk";
    const quint32 n = track.size();
    file += char(n >> 24);
    file += char(n >> 16);
    file += char(n >> 8);
    file += char(n);
    file += track;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return false;
    }
    return f.write(file) == file.size();
}

// A variable-bitrate MP3 without a Xing or VBRI header whose bitrate rises sharply after
// its first fifth: quiet tone first, then loud noise. An estimate of the length from the
// first frames' bitrate is far off on such a file. Length in whole tenths of a second.
inline bool VbrMp3(const QString& path, double seconds) {
    const int buffers = static_cast<int>(seconds * 10 + 0.5);
    const int quiet = buffers / 5;
    const QString caps = "audio/x-raw,rate=44100,channels=2,format=S16LE";
    const QString pipeline =
        QStringLiteral("concat name=c ! audioconvert ! lamemp3enc target=quality "
                       "quality=2 ! filesink location=\"%1\" "
                       "audiotestsrc wave=sine volume=0.05 num-buffers=%2 "
                       "samplesperbuffer=4410 ! %4 ! c. "
                       "audiotestsrc wave=white-noise num-buffers=%3 samplesperbuffer=4410 "
                       "! %4 ! c.");
    return Cached(path, pipeline.arg("").arg(quiet).arg(buffers - quiet).arg(caps),
                  [&](const QString& file) {
                      QString quoted = file;
                      quoted.replace("\"", "\\\"");
                      return Run(pipeline.arg(quoted).arg(quiet).arg(buffers - quiet).arg(caps));
                  });
}

inline bool Make(const QString& path, double seconds) {
    return path.endsWith(".mid") ? Midi(path, seconds) : Tone(path, seconds);
}

} // namespace media
