// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>

class ControlServer;

// Holds the per-user lock that keeps a second copy of the program from running, and the
// lock beside the database, which keeps two copies from ringing one timetable even where
// they do not share a runtime folder. A later start asks the running copy, through the
// control socket beside the per-user lock, to show its window; other requests (status, play,
// stop) go to whoever answers them.
class SingleInstance {
public:
    // lockPath empty: the runtime folder + "/belvoran.lock".
    explicit SingleInstance(const QString& lockPath = QString());
    ~SingleInstance();
    enum Result { Acquired, HeldByAnother, Unavailable };
    // Acquired: this process holds the lock. HeldByAnother: another copy runs.
    // Unavailable: the lock file cannot be made (a broken runtime folder); the caller runs
    // anyway rather than leave the school without bells.
    Result TryLock();
    // The same for the database at path: a lock file beside it (path + ".lock").
    Result TryLockDatabase(const QString& path);
    QString ErrorText() const;
    const QString& LockPath() const { return lockPath_; }
    static QString DefaultLockPath();
    // Where the running copy of this user listens for requests.
    static QString DefaultSocketPath();

    // A service's lock: in the folder systemd made for it ($RUNTIME_DIRECTORY, the first of
    // several), else the default one.
    static QString ServiceLockPath();

    // Asks the copy holding the lock to show its window; false when none answered within
    // a few seconds.
    bool AskToShow();
    // From now on, every later start's request calls show. Needs the lock.
    bool ListenForShow(std::function<void()> show);
    // From now on, every request but "show" gets answer's reply. Needs the lock.
    bool AnswerRequests(std::function<QByteArray(const QString& request)> answer);
    // Lets go of both locks and the socket, as the destructor does.
    void Release();

private:
    QString SocketPath() const;
    bool Listen();
    QByteArray Answer(const QString& request);

    QString lockPath_;
    std::unique_ptr<QLockFile> databaseLock_;
    std::function<void()> show_;
    std::function<QByteArray(const QString&)> answer_;
    std::unique_ptr<ControlServer> server_;
    std::unique_ptr<QLockFile> lock_;
};
