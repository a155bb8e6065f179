// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/replica.h"
#include "central/reports.h"
#include "store/rows.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>

class Conn;
class QObject;
class QSqlQuery;

// The connect options for Qt's QPSQL driver for central: a service name ("belvoran", found in
// ~/.pg_service.conf or the system's pg_service.conf), or anything libpq's parser takes as a
// connection string ("host=h1,h2 port=5432,5433 dbname=…") or postgresql:// URI. A password
// is refused: it belongs in ~/.pgpass (mode 0600) or the service file, never on a command line
// or in the autostart entry. Timeouts are added, unless the string sets its own, so a server
// that stops answering fails a statement instead of holding it for good.
bool CentralConnectOptions(const QString& central, QString* options, QString* error);

// Why a statement on the central connection `connection` failed, never empty: a lost
// connection leaves the statement's own error empty.
QString CentralFailure(const QSqlQuery& q, const QString& connection);

// Why a site cannot be copied when the server answers but does not know it.
QString UnknownSiteText(const QString& site);
// How a refusal by a central timetable of a newer program begins.
inline const QString kNewerCentralText = QStringLiteral("中心时间表来自更新版本的 Belvoran");

// The central timetable's schema: the local tables with a site column (站点), a notification
// on channel "belvoran" carrying the site of every change, one version row and its steps.
const QVector<Migration>& CentralMigrations();

// The socket of a CentralStore's connection, for another thread to cut. A server that stops
// answering (a stopped process keeps its TCP connection up, and the kernel acknowledges what
// is sent) holds a statement inside libpq for good; shutting the socket down makes it fail at
// once. The store publishes a duplicate of the socket, so its number is never reused while
// anyone may cut it, even after libpq closed its own. Thread-safe; nothing here blocks.
class CentralSocket {
public:
    CentralSocket() = default;
    ~CentralSocket();
    CentralSocket(const CentralSocket&) = delete;
    CentralSocket& operator=(const CentralSocket&) = delete;

    // Cuts the connection now and every one published from now on: the end of its user.
    void CutForGood();
    bool Ended() const;
    // Cuts the connection when a call on it has run longer than ms; true when it did.
    bool CutWhenStuck(qint64 ms);
    // Whether the connection was cut since it was published or this was last asked.
    bool TakeCut();

    // For the store: the connection's socket (from its thread), and the calls on it.
    void Publish(int fd);
    void Withdraw();
    void BeginCall();
    void EndCall();

private:
    void CutLocked();

    mutable std::mutex mutex_;
    int fd_ = -1;        // a duplicate of the connection's socket, owned here
    bool ended_ = false; // CutForGood was called
    bool cut_ = false;
    qint64 callSince_ = -1; // when the call now running began (steady ms), or -1
};

// Opens the Qt SQL connection `name` to the central timetable and brings its schema up to
// date (one client at a time). On failure the connection is removed and false returned.
// socket, when given, may cut the connection from the moment it is open.
bool OpenCentralDatabase(const QString& central, const QString& name, int* version, QString* error,
                         CentralSocket* socket = nullptr);

// Opens one site of the central PostgreSQL timetable (central: as CentralConnectOptions takes
// it) for the settings window: every statement of the store it returns then reads and
// changes that site's rows alone. The central schema is created or upgraded on the way.
// Null, with the reason, on failure.
std::unique_ptr<Conn> OpenCentralSite(const QString& central, const QString& site, QString* error);

// A following computer's connection to the central timetable: it reads one site's copy in
// one snapshot and hears of changes to it. Lives on one thread, the one that opened it.
class CentralStore {
public:
    // socket (which must outlive the store), when given, lets another thread cut the
    // connection, and sees how long each call on it runs.
    static std::unique_ptr<CentralStore> Open(const QString& central, QString* error,
                                              CentralSocket* socket = nullptr);
    ~CentralStore();
    CentralStore(const CentralStore&) = delete;
    CentralStore& operator=(const CentralStore&) = delete;

    // The site's rows of every replicated table, all read in one snapshot. Fails for a site
    // the central store does not know (so a mistyped name never empties a timetable).
    bool ReadSite(const QString& site, SiteCopy* copy, QString* error = nullptr);
    // The known sites, by name.
    bool Sites(QStringList* sites, QString* error = nullptr);
    // Makes a site with the default options and no events; an existing one is kept.
    bool AddSite(const QString& site, QString* error = nullptr);
    // A trivial statement: whether the server still answers.
    // This computer's clock less the server's (clock_timestamp()), in milliseconds: of a
    // few round trips, the shortest's, against its midpoint.
    bool ClockOffset(qint64* offsetMs, QString* error = nullptr);
    bool Ping(QString* error = nullptr);
    // Whether the session's role could write any site table (a follower's should not).
    bool MayWrite(bool* may, QString* error = nullptr);
    // Sends queued play records as this account's rows of site's 播放报告, in one
    // transaction: all or none. One the server holds already (sent before, its removal
    // from the queue lost) is not sent twice. (central/reports.cpp)
    bool SendRecords(const QVector<QueuedRecordRow>& rows, const QString& computer,
                     QString* error = nullptr);
    // Puts this account's row of 计算机状态 in the server's time.
    bool SendHeartbeat(const QString& site, const Heartbeat& beat,
                       std::optional<qint64> clockOffsetMs, QString* error = nullptr);
    // Calls onChange with the site of every committed change, on this thread, in receiver's
    // context, until this store is destroyed.
    bool Listen(QObject* receiver, std::function<void(const QString& site)> onChange,
                QString* error = nullptr);

private:
    CentralStore(QString name, CentralSocket* socket) : name_(std::move(name)), socket_(socket) {}
    QString name_;
    CentralSocket* socket_;
};
