// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/own_files.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <mutex>
#include <sys/stat.h>

namespace {

std::mutex gMutex;
QSet<QString> gPaths;                 // absolute
QSet<QPair<quint64, quint64>> gFiles; // device and inode of those that exist

const char* const kBeside[] = {"", "-wal", "-shm", "-journal"};

bool Identify(const QString& path, QPair<quint64, quint64>* id) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return false;
    }
    *id = {quint64(st.st_dev), quint64(st.st_ino)};
    return true;
}

} // namespace

void KeepUnopened(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    std::lock_guard<std::mutex> lock(gMutex);
    for (const char* suffix : kBeside) {
        const QString p = absolute + QLatin1String(suffix);
        gPaths.insert(p);
    }
}

bool KeptUnopened(const QString& path) {
    const QFileInfo info(path);
    QPair<quint64, quint64> id;
    const bool exists = Identify(path, &id);
    std::lock_guard<std::mutex> lock(gMutex);
    if (gPaths.contains(info.absoluteFilePath()) || gPaths.contains(info.canonicalFilePath())) {
        return true;
    }
    // Another name of the same file (a hard link): compared with what the names hold now,
    // since a store closed long ago may have left its inode to another file.
    return exists && std::any_of(gPaths.begin(), gPaths.end(), [&](const QString& p) {
               QPair<quint64, quint64> kept;
               return Identify(p, &kept) && kept == id;
           });
}
