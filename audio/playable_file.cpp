// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/playable_file.h"

#include "audio/gst_init.h"
#include "core/own_files.h"

#include <QFile>
#include <QFileInfo>

#include <gst/base/gsttypefindhelper.h>
#include <gst/gst.h>

namespace {

constexpr char kFileKey[] = "belvoran-file";

// Hands the type finders the bytes they ask for, straight from the file.
GstFlowReturn ReadRange(GstObject* obj, GstObject*, guint64 offset, guint length,
                        GstBuffer** buffer) {
    auto* file = static_cast<QFile*>(g_object_get_data(G_OBJECT(obj), kFileKey));
    if (!file->seek(qint64(offset))) {
        return GST_FLOW_EOS;
    }
    const QByteArray bytes = file->read(length);
    if (bytes.isEmpty()) {
        return GST_FLOW_EOS;
    }
    *buffer = gst_buffer_new_memdup(bytes.constData(), gsize(bytes.size()));
    return GST_FLOW_OK;
}

// The kind of content GStreamer finds in file ("audio/mpeg", "text/plain"), the way the
// player's own type finding does; empty when it finds none.
QString ContentType(QFile& file, const QString& extension) {
    GstObject* holder = GST_OBJECT(gst_object_ref_sink(gst_bin_new(nullptr)));
    g_object_set_data(G_OBJECT(holder), kFileKey, &file);
    GstTypeFindProbability probability = GST_TYPE_FIND_NONE;
    const QByteArray ext = extension.toUtf8();
    GstCaps* caps =
        gst_type_find_helper_get_range(holder, nullptr, ReadRange, guint64(file.size()),
                                       ext.isEmpty() ? nullptr : ext.constData(), &probability);
    gst_object_unref(holder);
    QString type;
    if (caps && !gst_caps_is_empty(caps) && !gst_caps_is_any(caps)) {
        type = QString::fromUtf8(gst_structure_get_name(gst_caps_get_structure(caps, 0)));
    }
    if (caps) {
        gst_caps_unref(caps);
    }
    return type;
}

} // namespace

QString CheckPlayableFile(const QString& file) {
    if (file.isEmpty()) {
        return QStringLiteral("is not named");
    }
    const QFileInfo info(file);
    if (!info.exists()) {
        return QStringLiteral("does not exist");
    }
    if (info.isDir()) {
        return QStringLiteral("is a folder, not a sound file");
    }
    if (!info.isFile()) {
        return QStringLiteral("is not a regular file");
    }
    if (KeptUnopened(file)) {
        return QStringLiteral("is the program's own database, not a sound file");
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        return QStringLiteral("cannot be read (%1)").arg(f.errorString());
    }
    if (info.size() == 0) {
        return QStringLiteral("is empty (0 bytes)");
    }
    // What the player could not recognise either, or is surely not sound, is refused here;
    // anything else is left to the player, which reports its own error if it cannot play it.
    EnsureGstInit();
    const QString type = ContentType(f, info.suffix().toLower());
    if (type.isEmpty()) {
        return QStringLiteral("is not a sound file (its content is of no known kind)");
    }
    if (type.startsWith(QLatin1String("text/")) || type.startsWith(QLatin1String("image/")) ||
        type == QLatin1String("application/xml")) {
        return QStringLiteral("is not a sound file (it holds %1)").arg(type);
    }
    return {};
}
