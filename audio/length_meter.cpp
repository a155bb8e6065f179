// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/length_meter.h"

#include "audio/formats.h"
#include "core/own_files.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <mpg123.h>

namespace {

constexpr GstClockTime kDiscoverTimeout = 5 * GST_SECOND;
// How often the waiting caller reports progress and asks whether to stop.
constexpr auto kPollStep = std::chrono::milliseconds(15);

void EnsureInit() {
    static const bool done = [] {
        gst_init(nullptr, nullptr);
        mpg123_init();
        return true;
    }();
    Q_UNUSED(done);
}

// --- MP3: a scan of every frame gives the exact number of samples.

bool LooksLikeMpegAudio(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray head = f.read(3);
    if (head.startsWith("ID3")) {
        return true;
    }
    return head.size() >= 2 && quint8(head[0]) == 0xFF && (quint8(head[1]) & 0xE0) == 0xE0;
}

bool HasMpegEnding(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    return ext == QLatin1String("mp3") || ext == QLatin1String("mp2") ||
           ext == QLatin1String("mpga");
}

// mpg123 reads the file from memory: a scan through its own file reader makes a system call
// per frame and takes ten times as long.
struct MappedFile {
    const uchar* data = nullptr;
    qint64 size = 0;
    qint64 pos = 0;
};

mpg123_ssize_t ReadMapped(void* handle, void* buffer, size_t bytes) {
    auto* m = static_cast<MappedFile*>(handle);
    const qint64 n = std::min<qint64>(static_cast<qint64>(bytes), m->size - m->pos);
    memcpy(buffer, m->data + m->pos, n);
    m->pos += n;
    return n;
}

off_t SeekMapped(void* handle, off_t offset, int whence) {
    auto* m = static_cast<MappedFile*>(handle);
    const qint64 to = whence == SEEK_SET   ? offset
                      : whence == SEEK_CUR ? m->pos + offset
                                           : m->size + offset;
    if (to < 0 || to > m->size) {
        return -1;
    }
    m->pos = to;
    return to;
}

double MpegLength(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0) {
        return -1;
    }
    MappedFile mapped{file.map(0, file.size()), file.size(), 0};
    if (!mapped.data) {
        return -1;
    }
    int err = MPG123_OK;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (!h) {
        return -1;
    }
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    double seconds = -1;
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_replace_reader_handle(h, ReadMapped, SeekMapped, nullptr) == MPG123_OK &&
        mpg123_open_handle(h, &mapped) == MPG123_OK) {
        if (mpg123_getformat(h, &rate, &channels, &encoding) == MPG123_OK &&
            mpg123_scan(h) == MPG123_OK) {
            const off_t samples = mpg123_length(h);
            if (samples > 0 && rate > 0) {
                seconds = static_cast<double>(samples) / rate;
            }
        }
        mpg123_close(h);
    }
    mpg123_delete(h);
    return seconds;
}

// --- MIDI: the length follows from the file's events, timed the way GStreamer's MIDI parser
// times them for playback; no soundfont to load, nothing to render.
//
// That parser keeps no tempo map: it places the next event at its pulse times the tempo in
// force at that moment (starting with the last tempo of the file), so at a tempo change its
// clock jumps. What is heard lasts until the furthest time it reaches: that is the length.

class SmfReader {
public:
    explicit SmfReader(const QByteArray& bytes) : b_(bytes) {}

    // Seconds of playback; -1 for anything this reader does not take (format 2, a damaged
    // file), which then goes to the discoverer.
    double Length() {
        const int at = b_.indexOf("MThd"); // a RIFF "RMID" wrapper holds the file further on
        if (at < 0 || at > 64 || !Has(at, 14) || U32(at + 4) != 6) {
            return -1;
        }
        const int format = U16(at + 8);
        const int tracks = U16(at + 10);
        const int division = U16(at + 12);
        if (format > 1 || tracks == 0 || division == 0) {
            return -1;
        }
        pos_ = at + 14;
        for (int t = 0; t < tracks; ++t) {
            if (!Track()) {
                return -1;
            }
        }
        return (division & 0x8000) ? SmpteSeconds(division) : PlayedSeconds(division);
    }

private:
    // One event of a track: its pulse, and its tempo when it sets one (0 otherwise).
    struct Event {
        quint64 pulse;
        quint32 tempo;
    };

    bool Has(qint64 at, qint64 n) const { return at >= 0 && at + n <= b_.size(); }
    quint32 U8(qint64 at) const { return quint8(b_[at]); }
    quint32 U16(qint64 at) const { return U8(at) << 8 | U8(at + 1); }
    quint32 U32(qint64 at) const { return U16(at) << 16 | U16(at + 2); }

    bool Vlq(qint64* at, qint64 end, quint32* value) const {
        *value = 0;
        for (int i = 0; i < 4; ++i) {
            if (*at >= end) {
                return false;
            }
            const quint32 c = U8((*at)++);
            *value = (*value << 7) | (c & 0x7F);
            if (!(c & 0x80)) {
                return true;
            }
        }
        return false;
    }

    bool Track() {
        if (!Has(pos_, 8) || b_.mid(pos_, 4) != "MTrk") {
            return false;
        }
        qint64 at = pos_ + 8;
        const qint64 end = std::min<qint64>(at + U32(pos_ + 4), b_.size());
        pos_ = at + U32(pos_ + 4);
        std::vector<Event> events;
        quint64 pulse = 0;
        quint32 status = 0;
        while (at < end) {
            quint32 delta = 0;
            if (!Vlq(&at, end, &delta) || at >= end) {
                return false;
            }
            pulse += delta;
            if (U8(at) & 0x80) {
                status = U8(at++);
            } else if (status == 0) {
                return false; // running status with nothing to run on
            }
            quint32 tempo = 0;
            bool endOfTrack = false;
            if (status == 0xFF) {
                if (at >= end) {
                    return false;
                }
                const quint32 type = U8(at++);
                quint32 len = 0;
                if (!Vlq(&at, end, &len) || at + len > end) {
                    return false;
                }
                if (type == 0x51 && len == 3) {
                    tempo = U8(at) << 16 | U16(at + 1);
                    lastTempo_ = tempo;
                }
                endOfTrack = type == 0x2F;
                at += len;
                status = 0;
            } else if (status == 0xF0 || status == 0xF7) {
                quint32 len = 0;
                if (!Vlq(&at, end, &len)) {
                    return false;
                }
                at += len;
                status = 0;
            } else {
                const quint32 kind = status & 0xF0;
                at += (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            }
            events.push_back({pulse, tempo});
            if (endOfTrack) {
                break;
            }
        }
        tracks_.push_back(std::move(events));
        return true;
    }

    // Steps from pulse to pulse as the parser plays: every track's events at this pulse (in
    // track order, tempo changes taking effect at once), then the time of the next pulse.
    double PlayedSeconds(int division) const {
        std::vector<size_t> next(tracks_.size(), 0);
        quint32 tempo = lastTempo_;
        quint64 pulse = 0;
        double furthest = 0;
        for (;;) {
            quint64 nextPulse = std::numeric_limits<quint64>::max();
            for (size_t t = 0; t < tracks_.size(); ++t) {
                const std::vector<Event>& events = tracks_[t];
                size_t& i = next[t];
                for (; i < events.size() && events[i].pulse == pulse; ++i) {
                    tempo = events[i].tempo ? events[i].tempo : tempo;
                }
                if (i < events.size()) {
                    nextPulse = std::min(nextPulse, events[i].pulse);
                }
            }
            if (nextPulse == std::numeric_limits<quint64>::max()) {
                return furthest;
            }
            furthest = std::max(furthest, double(nextPulse) * tempo / 1e6 / division);
            pulse = nextPulse;
        }
    }

    // SMPTE timing: frames a second and pulses a frame, no tempo.
    double SmpteSeconds(int division) const {
        quint64 last = 0;
        for (const std::vector<Event>& events : tracks_) {
            last = events.empty() ? last : std::max(last, events.back().pulse);
        }
        const int fps = -static_cast<qint8>(division >> 8);
        const double perSecond = (fps == 29 ? 29.97 : fps) * (division & 0xFF);
        return perSecond > 0 ? last / perSecond : -1;
    }

    const QByteArray& b_;
    qint64 pos_ = 0;
    quint32 lastTempo_ = 500000; // 120 beats a minute until the file says otherwise
    std::vector<std::vector<Event>> tracks_;
};

double MidiLength(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024 * 1024) {
        return -1;
    }
    const QByteArray bytes = file.readAll();
    return SmfReader(bytes).Length();
}

bool HasMidiEnding(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    return ext == QLatin1String("mid") || ext == QLatin1String("midi") ||
           ext == QLatin1String("rmi") || ext == QLatin1String("kar");
}

// --- Everything else: GStreamer's discoverer.

void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer) {
    GstElementFactory* f = gst_element_get_factory(element);
    if (f && g_strcmp0(GST_OBJECT_NAME(f), "fluiddec") == 0) {
        // Playback's soundfont: MIDI must be rendered as it will be heard.
        g_object_set(element, "soundfont", MidiSoundFont().constData(), nullptr);
    }
}

// The discoverer keeps its decoding bin from file to file; the source's parent is that bin.
// Watching it for fluiddec gives MIDI the playback soundfont.
void OnSourceSetup(GstDiscoverer*, GstElement* source, gpointer) {
    GstObject* parent = gst_object_get_parent(GST_OBJECT(source));
    if (!parent) {
        return;
    }
    if (GST_IS_BIN(parent) && !g_object_get_data(G_OBJECT(parent), "belvoran-soundfont")) {
        g_object_set_data(G_OBJECT(parent), "belvoran-soundfont", GINT_TO_POINTER(1));
        g_signal_connect(parent, "deep-element-added", G_CALLBACK(OnDeepElementAdded), nullptr);
    }
    gst_object_unref(parent);
}

// One discoverer, used for one file after another by one thread; made at its first use,
// since making one costs more than scanning an MP3.
class Discoverer {
public:
    Discoverer() = default;
    ~Discoverer() {
        if (d_) {
            g_object_unref(d_);
        }
    }
    Discoverer(const Discoverer&) = delete;
    Discoverer& operator=(const Discoverer&) = delete;

    double Length(const QString& path) {
        if (!d_ && !Make()) {
            return -1;
        }
        GError* err = nullptr;
        gchar* uri = gst_filename_to_uri(QFile::encodeName(path).constData(), &err);
        double seconds = -1;
        if (uri) {
            GstDiscovererInfo* info = gst_discoverer_discover_uri(d_, uri, &err);
            if (info) {
                seconds = AudioLength(info);
                g_object_unref(info);
            }
            g_free(uri);
        }
        g_clear_error(&err);
        return seconds;
    }

private:
    bool Make() {
        GError* err = nullptr;
        d_ = gst_discoverer_new(kDiscoverTimeout, &err);
        g_clear_error(&err);
        if (d_) {
            g_signal_connect(d_, "source-setup", G_CALLBACK(OnSourceSetup), nullptr);
        }
        return d_ != nullptr;
    }

    static double AudioLength(GstDiscovererInfo* info) {
        if (gst_discoverer_info_get_result(info) != GST_DISCOVERER_OK) {
            return -1;
        }
        GList* audio = gst_discoverer_info_get_audio_streams(info);
        const GstClockTime d = gst_discoverer_info_get_duration(info);
        const double seconds =
            (audio && GST_CLOCK_TIME_IS_VALID(d)) ? static_cast<double>(d) / GST_SECOND : -1;
        gst_discoverer_stream_info_list_free(audio);
        return seconds;
    }

    GstDiscoverer* d_ = nullptr;
};

double MeasureWith(Discoverer& discoverer, const QString& file) {
    const QFileInfo info(file);
    if (file.isEmpty() || !info.isFile() || !info.isReadable() || KeptUnopened(file)) {
        return -1; // opening the store would drop its locks
    }
    const QString path = info.absoluteFilePath();
    if (HasMpegEnding(path) && LooksLikeMpegAudio(path)) {
        const double seconds = MpegLength(path);
        if (seconds > 0) {
            return seconds;
        }
    }
    if (HasMidiEnding(path)) {
        const double seconds = MidiLength(path);
        if (seconds > 0) {
            return seconds;
        }
    }
    return discoverer.Length(path);
}

// The work shared by the measuring threads and the waiting caller.
struct Batch {
    explicit Batch(const QStringList& f) : files(f), lengths(f.size(), -1.0) {}

    const QStringList& files;
    QVector<double> lengths;
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    int done = 0; // guarded by mutex

    void Work() {
        Discoverer discoverer;
        for (;;) {
            const int i = next.fetch_add(1);
            if (i >= files.size() || stop.load()) {
                return;
            }
            lengths[i] = MeasureWith(discoverer, files[i]);
            std::lock_guard<std::mutex> lock(mutex);
            ++done;
            changed.notify_all();
        }
    }
};

} // namespace

double LengthMeter::Measure(const QString& file) {
    EnsureInit();
    Discoverer discoverer;
    return MeasureWith(discoverer, file);
}

bool LengthMeter::MeasureAll(const QStringList& files, QVector<double>* lengths,
                             const Progress& progress, const Cancelled& cancelled, int workers) {
    EnsureInit();
    lengths->clear();
    Batch batch(files);
    if (workers <= 0) {
        workers = std::max(2, static_cast<int>(std::thread::hardware_concurrency()));
    }
    workers = std::min(workers, static_cast<int>(files.size()));
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) {
        threads.emplace_back([&batch] { batch.Work(); });
    }

    int reported = -1;
    for (;;) {
        int done = 0;
        {
            std::unique_lock<std::mutex> lock(batch.mutex);
            batch.changed.wait_for(lock, kPollStep);
            done = batch.done;
        }
        if (progress && done != reported) {
            progress(done, files.size());
            reported = done;
        }
        if (cancelled && cancelled()) {
            // Files being measured now finish; no new one is started.
            batch.stop = true;
            break;
        }
        if (done == files.size()) {
            break;
        }
    }
    for (std::thread& t : threads) {
        t.join();
    }
    if (batch.stop.load()) {
        return false;
    }
    *lengths = std::move(batch.lengths);
    return true;
}
