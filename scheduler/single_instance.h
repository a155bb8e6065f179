#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// Holds the per-user lock that keeps a second copy of the program from running.
class SingleInstance {
public:
    // lockPath empty: the runtime folder + "/belvoran.lock".
    explicit SingleInstance(const QString& lockPath = QString());
    // True when this process now holds the lock; false when another copy does.
    bool TryLock();
    static QString DefaultLockPath();

private:
    std::unique_ptr<QLockFile> lock_;
};
