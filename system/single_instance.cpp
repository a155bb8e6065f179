#include "system/single_instance.h"

#include <QDir>
#include <QStandardPaths>

SingleInstance::SingleInstance(const QString& lockPath)
    : lock_(std::make_unique<QLockFile>(lockPath.isEmpty() ? DefaultLockPath() : lockPath)) {
    // A lock left by a crashed copy is taken over at once, not after the default 30 s.
    lock_->setStaleLockTime(0);
}

QString SingleInstance::DefaultLockPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        dir = QDir::tempPath();
    }
    return dir + QStringLiteral("/belvoran.lock");
}

SingleInstance::Result SingleInstance::TryLock() {
    if (lock_->tryLock(0)) {
        return Acquired;
    }
    return lock_->error() == QLockFile::LockFailedError ? HeldByAnother : Unavailable;
}

QString SingleInstance::ErrorText() const {
    return lock_->error() == QLockFile::PermissionError
               ? QStringLiteral("no permission to write the lock file")
               : QStringLiteral("the lock file cannot be written");
}
