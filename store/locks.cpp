// SPDX-License-Identifier: GPL-3.0-or-later
// The store's file locks: noticing that this process lost them, and opening the store again.
#include "store/conn.h"
#include "store/statement.h"

#include "core/play_log.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The inode of path, or 0 when it does not exist.
quint64 InodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Whether fd is open on file, by the device and inode the kernel holds for it: a network or
// FUSE file system is not asked (one that hangs would hang every change).
bool OpenOn(int fd, const struct stat& file) {
    struct statx st {};
    return ::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_INO, &st) == 0 &&
           st.stx_ino == file.st_ino && makedev(st.stx_dev_major, st.stx_dev_minor) == file.st_dev;
}

// Whether a descriptor of this process on the file at path holds a POSIX lock: each
// descriptor's fdinfo lists the locks taken through it. (/proc/locks, the machine's whole
// list, is read a page at a time, so a line is skipped when other locks come and go
// meanwhile, and every read stalls each lock taken on the machine.) True when nothing can be
// known: reopening on a guess would only cost.
bool LockedThroughOwnDescriptor(const QString& path) {
    struct stat file {};
    if (::stat(QFile::encodeName(path).constData(), &file) != 0) {
        return true;
    }
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds) {
        return true;
    }
    bool locked = false;
    while (const dirent* entry = ::readdir(fds)) {
        const int fd = ::atoi(entry->d_name);
        if (entry->d_name[0] == '.' || !OpenOn(fd, file)) {
            continue;
        }
        // A lock's line reads "lock: 1: POSIX  ADVISORY  READ 1234 fe:00:5678 128 128".
        QFile info(QStringLiteral("/proc/self/fdinfo/%1").arg(fd));
        if (info.open(QIODevice::ReadOnly) && info.readAll().contains(" POSIX ")) {
            locked = true;
            break;
        }
    }
    ::closedir(fds);
    return locked;
}

// SQLite's lock bytes on the database file (os_unix.c): an exclusive lock, which closing
// the last connection takes before it folds the log into the file and deletes it, is a
// write lock on this range.
constexpr off_t kSharedFirst = 0x40000000 + 2;
constexpr off_t kSharedSize = 510;

} // namespace

bool Conn::HoldsLocks() const {
    return LockedThroughOwnDescriptor(path_);
}

void Conn::NoteLog() {
    logInode_ = InodeOf(path_ + QStringLiteral("-wal"));
}

bool Conn::KeepLocks(QString* error) {
    if (!IsOpen() || !site_.isEmpty() || HoldsLocks()) { // the central store has no file
        return true;
    }
    // The log this connection writes to was deleted by another program that found the store
    // unlocked; what it holds is older than the file, and must not be folded into it.
    const bool stale = logInode_ != 0 && InodeOf(path_ + QStringLiteral("-wal")) != logInode_;
    PlayLog(QStringLiteral("error the database %1 lost its locks (a part of this program "
                           "opened and closed its files)%2; opening it again")
                .arg(path_,
                     stale ? QStringLiteral(" and another program deleted its log") : QString()));
    QSqlDatabase db = Database();
    int guard = -1;
    if (stale) {
        // A read lock of an open file description conflicts even with this process's own
        // record locks: closing cannot take the exclusive lock, so it leaves the file alone.
        // (This descriptor may be closed: the locks it would drop are gone already.)
        guard = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC);
        struct flock fl {};
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = kSharedFirst;
        fl.l_len = kSharedSize;
        if (guard >= 0) {
            ::fcntl(guard, F_OFD_SETLK, &fl);
        }
    }
    db.close();
    if (guard >= 0) {
        ::close(guard);
    }
    if (!db.open()) {
        const QString reason = db.lastError().text();
        PlayLog(QStringLiteral("error cannot open the database %1 again: %2").arg(path_, reason));
        return Failed(error, QStringLiteral("无法重新打开数据库 %1：%2").arg(path_, reason));
    }
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA foreign_keys=OFF"));
    q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")); // takes the locks again
    q.finish();
    NoteLog();
    return true;
}
