#pragma once

// Test media made at test time with GStreamer encoders (and a MIDI file written by hand).

#include <QByteArray>
#include <QFile>
#include <QString>

#include <gst/gst.h>

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
    QString quoted = path;
    quoted.replace("\"", "\\\"");
    return Run(src + enc + " ! filesink location=\"" + quoted + "\"");
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
    QString quoted = path;
    quoted.replace("\"", "\\\"");
    const QString caps = "audio/x-raw,rate=44100,channels=2,format=S16LE";
    return Run(QStringLiteral("concat name=c ! audioconvert ! lamemp3enc target=quality "
                              "quality=2 ! filesink location=\"%1\" "
                              "audiotestsrc wave=sine volume=0.05 num-buffers=%2 "
                              "samplesperbuffer=4410 ! %4 ! c. "
                              "audiotestsrc wave=white-noise num-buffers=%3 samplesperbuffer=4410 "
                              "! %4 ! c.")
                   .arg(quoted)
                   .arg(quiet)
                   .arg(buffers - quiet)
                   .arg(caps));
}

inline bool Make(const QString& path, double seconds) {
    return path.endsWith(".mid") ? Midi(path, seconds) : Tone(path, seconds);
}

} // namespace media
