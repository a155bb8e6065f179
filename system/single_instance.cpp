#include "system/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

#include <cerrno>
#include <csignal>

namespace {

const QByteArray kShow = QByteArrayLiteral("show\n");

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
        QLocalSocket socket;
        socket.connectToServer(SocketPath());
        if (socket.waitForConnected(1000)) {
            socket.write(kShow);
            if (socket.waitForBytesWritten(1000) && socket.waitForReadyRead(2000)) {
                return true;
            }
        }
        QThread::msleep(100);
    }
    return false;
}

bool SingleInstance::ListenForShow(std::function<void()> show) {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(SocketPath()); // left by a copy that crashed; we hold the lock
    if (!server_->listen(SocketPath())) {
        return false;
    }
    QObject::connect(
        server_.get(), &QLocalServer::newConnection, server_.get(), [server = server_.get(), show] {
            while (QLocalSocket* socket = server->nextPendingConnection()) {
                QObject::connect(socket, &QLocalSocket::disconnected, socket,
                                 &QObject::deleteLater);
                QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, show] {
                    if (socket->readAll().contains("show")) {
                        socket->write("ok\n");
                        show();
                    }
                });
            }
        });
    return true;
}

QString SingleInstance::DefaultLockPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        dir = QDir::tempPath();
    }
    return dir + QStringLiteral("/belvoran.lock");
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
