#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// Holds the per-user lock that keeps a second copy of the program from running.
class SingleInstance {
public:
    // lockPath empty: the runtime folder + "/belvoran.lock".
    explicit SingleInstance(const QString& lockPath = QString());
    enum Result { Acquired, HeldByAnother, Unavailable };
    // Acquired: this process holds the lock. HeldByAnother: another copy runs.
    // Unavailable: the lock file cannot be made (a broken runtime folder); the caller runs
    // anyway rather than leave the school without bells.
    Result TryLock();
    QString ErrorText() const;
    static QString DefaultLockPath();

private:
    std::unique_ptr<QLockFile> lock_;
};
