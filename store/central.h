#pragma once

#include "store/replica.h"
#include "store/rows.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QObject;

// The libpq connection options for central: a service name ("belvoran", found in
// ~/.pg_service.conf or the system's pg_service.conf), a connection string ("host=… dbname=…")
// or a postgresql:// URL. A password is refused: it belongs in ~/.pgpass (mode 0600) or the
// service file, never on a command line or in the autostart entry. Timeouts are added so a
// server that stops answering fails a statement instead of holding it for good.
bool CentralConnectOptions(const QString& central, QString* options, QString* error);

// Why a site cannot be copied when the server answers but does not know it.
QString UnknownSiteText(const QString& site);
// How a refusal by a central timetable of a newer program begins.
inline const QString kNewerCentralText = QStringLiteral("中心时间表来自更新版本的 Belvoran");

// The central timetable's schema: the local tables with a site column (站点), a notification
// on channel "belvoran" carrying the site of every change, one version row and its steps.
const QVector<Migration>& CentralMigrations();

// Opens the Qt SQL connection `name` to the central timetable and brings its schema up to
// date (one client at a time). On failure the connection is removed and false returned.
bool OpenCentralDatabase(const QString& central, const QString& name, int* version, QString* error);

// A following computer's connection to the central timetable: it reads one site's copy in
// one snapshot and hears of changes to it. Lives on one thread, the one that opened it.
class CentralStore {
public:
    static std::unique_ptr<CentralStore> Open(const QString& central, QString* error);
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
    bool Ping(QString* error = nullptr);
    // Whether the session's role could write any site table (a follower's should not).
    bool MayWrite(bool* may, QString* error = nullptr);
    // Calls onChange with the site of every committed change, on this thread, in receiver's
    // context, until this store is destroyed.
    bool Listen(QObject* receiver, std::function<void(const QString& site)> onChange,
                QString* error = nullptr);

private:
    explicit CentralStore(QString name) : name_(std::move(name)) {}
    QString name_;
};
