// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/single_instance.h"

#include "system/control_socket.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

#include <cerrno>
#include <csignal>

namespace {

// A later start of the program asks the running copy to show its window.
const char kShow[] = "show";

// Whether the lock file names a process of this machine that has ended.
bool LeftByEndedCopy(const QLockFile& lock) {
    qint64 pid = 0;
    QString host, app;
    if (!lock.getLockInfo(&pid, &host, &app) || pid <= 0) {
        return false;
    }
    return host == QSysInfo::machineHostName() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// Takes lock, also from a copy that ended without letting go of it. QLockFile takes such a
// lock over only when it can write a second file to guard the removal, which a full disk
// refuses: the lock would then read as held by another copy.
SingleInstance::Result Take(QLockFile& lock, const QString& path) {
    if (lock.tryLock(0)) {
        return SingleInstance::Acquired;
    }
    if (lock.error() == QLockFile::LockFailedError && LeftByEndedCopy(lock)) {
        QFile::remove(path);
        if (lock.tryLock(0)) {
            return SingleInstance::Acquired;
        }
    }
    return lock.error() == QLockFile::LockFailedError && !LeftByEndedCopy(lock)
               ? SingleInstance::HeldByAnother
               : SingleInstance::Unavailable;
}

} // namespace

SingleInstance::SingleInstance(const QString& lockPath)
    : lockPath_(lockPath.isEmpty() ? DefaultLockPath() : lockPath),
      lock_(std::make_unique<QLockFile>(lockPath_)) {
    // A lock left by a crashed copy is taken over at once, not after the default 30 s.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::Release() {
    lock_.reset();
    server_.reset();
    databaseLock_.reset();
}

SingleInstance::Result SingleInstance::TryLockDatabase(const QString& path) {
    databaseLock_ = std::make_unique<QLockFile>(QFileInfo(path).absoluteFilePath() + ".lock");
    databaseLock_->setStaleLockTime(0);
    return Take(*databaseLock_, QFileInfo(path).absoluteFilePath() + ".lock");
}

QString SingleInstance::SocketPath() const {
    return lockPath_ + QStringLiteral(".socket");
}

bool SingleInstance::AskToShow() {
    // The running copy may hold the lock a moment before it listens.
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        QByteArray reply;
        QString error;
        if (AskControl(SocketPath(), kShow, &reply, &error, 1000) == ControlAsk::Answered) {
            return true;
        }
        QThread::msleep(100);
    }
    return false;
}

bool SingleInstance::ListenForShow(std::function<void()> show) {
    show_ = std::move(show);
    return Listen();
}

bool SingleInstance::AnswerRequests(std::function<QByteArray(const QString&)> answer) {
    answer_ = std::move(answer);
    return Listen();
}

bool SingleInstance::Listen() {
    if (!server_) {
        server_ = std::make_unique<ControlServer>([this](const QString& r) { return Answer(r); });
    }
    return server_->Listen(SocketPath());
}

QByteArray SingleInstance::Answer(const QString& request) {
    if (request == QLatin1String(kShow)) {
        if (show_) {
            show_();
        }
        return QByteArrayLiteral(R"({"ok":true})");
    }
    return answer_ ? answer_(request) : ControlErrorReply(QStringLiteral("unknown request"));
}

QString SingleInstance::DefaultLockPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        dir = QDir::tempPath();
    }
    return dir + QStringLiteral("/belvoran.lock");
}

QString SingleInstance::DefaultSocketPath() {
    return DefaultLockPath() + QStringLiteral(".socket");
}

QString SingleInstance::ServiceLockPath() {
    const QString dirs = qEnvironmentVariable("RUNTIME_DIRECTORY");
    const QString dir = dirs.section(QLatin1Char(':'), 0, 0);
    return dir.isEmpty() ? DefaultLockPath() : dir + QStringLiteral("/belvoran.lock");
}

SingleInstance::Result SingleInstance::TryLock() {
    return Take(*lock_, lockPath_);
}

QString SingleInstance::ErrorText() const {
    return lock_->error() == QLockFile::PermissionError
               ? QStringLiteral("no permission to write the lock file")
               : QStringLiteral("the lock file cannot be written");
}
