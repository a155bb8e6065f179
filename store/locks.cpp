// SPDX-License-Identifier: GPL-3.0-or-later
// The store's file locks: noticing that this process lost them, and opening the store again.
#include "store/conn.h"
#include "store/statement.h"

#include "core/play_log.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The inode of path, or 0 when it does not exist.
quint64 InodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Whether /proc/locks lists a POSIX lock of this process on the inode. Its lines read
// "1: POSIX  ADVISORY  READ 1234 fe:00:5678 128 128". True when the list cannot be read:
// then nothing is known, and reopening on a guess would only cost.
bool ListedAsLocked(quint64 inode) {
    QFile locks(QStringLiteral("/proc/locks"));
    if (inode == 0 || !locks.open(QIODevice::ReadOnly)) {
        return true;
    }
    const QByteArray pid = QByteArray::number(::getpid());
    const QByteArray suffix = ':' + QByteArray::number(inode);
    const QList<QByteArray> lines = locks.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 6 && f[1] == "POSIX" && f[4] == pid && f[5].endsWith(suffix)) {
            return true;
        }
    }
    return false;
}

// SQLite's lock bytes on the database file (os_unix.c): an exclusive lock, which closing
// the last connection takes before it folds the log into the file and deletes it, is a
// write lock on this range.
constexpr off_t kSharedFirst = 0x40000000 + 2;
constexpr off_t kSharedSize = 510;

} // namespace

bool Conn::HoldsLocks() const {
    return ListedAsLocked(InodeOf(path_));
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
    PlayLog(QStringLiteral("error the database %1 lost its locks (a program of this computer "
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
