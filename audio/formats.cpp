// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/formats.h"

#include "audio/gst_init.h"

#include <QFile>
#include <QStandardPaths>

#include <gst/gst.h>

namespace {

bool Has(const char* factory) {
    GstElementFactory* f = gst_element_factory_find(factory);
    if (f) {
        gst_object_unref(f);
    }
    return f != nullptr;
}

} // namespace

QStringList ExtraSoundEndings() {
    EnsureGstInit();
    QStringList endings;
    if (Has("oggdemux") && Has("vorbisdec")) {
        endings << QStringLiteral("oga");
    }
    if (Has("oggdemux") && Has("opusdec")) {
        endings << QStringLiteral("opus");
    }
    if (Has("qtdemux") && (Has("avdec_aac") || Has("faad") || Has("fdkaacdec"))) {
        endings << QStringLiteral("m4a");
    }
    return endings;
}

QByteArray MidiSoundFont() {
    QString path = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                          QStringLiteral("sounds/sf2/TimGM6mb.sf2"));
    if (path.isEmpty()) {
        path = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
    }
    return QFile::encodeName(path);
}
