// SPDX-License-Identifier: GPL-3.0-or-later
// The central PostgreSQL timetable: its connections (opened, upgraded, cut when stuck), a
// site's copy, and the settings window's view of one site.
#include "central/central.h"

#include "central/call.h"
#include "central/central_schema.h"
#include "core/play_log.h"
#include "store/conn.h"
#include "store/dialect.h"
#include "store/tables.h"
#include "store/transaction.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <chrono>
#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Channel of the change notifications; the payload is the site.
const QString kChannel = QStringLiteral("belvoran");

// Whether the session's role may change the rows of site: it owns the tables, passes
// row-level security, is the district's administrator, or is given the site to change.
const QString kMayChangeSql = QStringLiteral(
    "SELECT has_table_privilege('public.作息表', 'INSERT, UPDATE, DELETE') AND ("
    "(SELECT rolsuper OR rolbypassrls FROM pg_roles WHERE rolname = current_user) OR "
    "pg_has_role((SELECT tableowner FROM pg_tables WHERE schemaname = 'public' AND tablename = "
    "'作息表'), 'MEMBER') OR pg_has_role('belvoran_admin', 'MEMBER') OR EXISTS (SELECT 1 FROM "
    "public.站点权限 WHERE 角色 = current_user AND 站点 = ? AND 可修改)), current_user");

// A refused connection in words that name the cause: a server certificate that does not
// verify is not a network fault.
QString ConnectionRefused(const QString& text) {
    const QString t = text.trimmed();
    if (t.contains(QLatin1String("certificate"))) { // libpq's words for each such failure
        return QStringLiteral("服务器的证书未通过验证，连接被拒绝（%1）").arg(t);
    }
    return t;
}

qint64 SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The socket of an open QPSQL connection, or -1.
int SocketOf(const QSqlDatabase& db) {
    const QVariant handle = db.driver()->handle();
    // Qt 6 names the type by libpq's struct tag.
    const char* type = handle.typeName();
    if (qstrcmp(type, "PGconn*") != 0 && qstrcmp(type, "pg_conn*") != 0) {
        return -1;
    }
    return PQsocket(*static_cast<PGconn* const*>(handle.constData()));
}

} // namespace

QString Why(const QSqlQuery& q, const QString& connection) {
    const QString text = q.lastError().text().trimmed();
    if (!text.isEmpty()) {
        return text;
    }
    const QString lost = QSqlDatabase::database(connection, false).lastError().text().trimmed();
    return lost.isEmpty() ? QStringLiteral("与服务器的连接已断开") : lost;
}

CentralSocket::~CentralSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void CentralSocket::CutForGood() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    CutLocked();
}

bool CentralSocket::Ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

bool CentralSocket::CutWhenStuck(qint64 ms) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0 || cut_ || callSince_ < 0 || SteadyMs() - callSince_ < ms) {
        return false;
    }
    CutLocked();
    return true;
}

bool CentralSocket::TakeCut() {
    std::lock_guard lock(mutex_);
    return std::exchange(cut_, false);
}

void CentralSocket::Publish(int fd) {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    cut_ = false;
    if (ended_) {
        CutLocked();
    }
}

void CentralSocket::Withdraw() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    callSince_ = -1;
}

void CentralSocket::BeginCall() {
    std::lock_guard lock(mutex_);
    callSince_ = SteadyMs();
}

void CentralSocket::EndCall() {
    std::lock_guard lock(mutex_);
    callSince_ = -1;
}

void CentralSocket::CutLocked() {
    if (fd_ >= 0) {
        // The blocked read returns at once; the socket stays ours until withdrawn.
        ::shutdown(fd_, SHUT_RDWR);
        cut_ = true;
    }
}

QString CentralFailure(const QSqlQuery& q, const QString& connection) {
    return Why(q, connection);
}

QString UnknownSiteText(const QString& site) {
    // Row-level security hides a site the role is not given as if it did not exist.
    return QStringLiteral("中心时间表中没有站点“%1”，或本机的中心账号无权查看它").arg(site);
}

bool OpenCentralDatabase(const QString& central, const QString& name, int* version, QString* error,
                         CentralSocket* socket) {
    QString options;
    if (!CentralConnectOptions(central, &options, error)) {
        return false;
    }
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setConnectOptions(options);
        if (!db.isValid()) {
            Failed(error, QStringLiteral("没有 PostgreSQL 数据库驱动（Debian：libqt6sql6-psql）"));
        } else if (!db.open()) {
            Failed(error, ConnectionRefused(db.lastError().text()));
        } else {
            if (socket) {
                socket->Publish(SocketOf(db));
            }
            Call call(socket);
            // The first clients to meet an empty database must not create it twice.
            QSqlQuery q(db);
            ok = q.exec(QStringLiteral("SELECT pg_advisory_lock(4242)")) &&
                 ReadSchemaVersion(db, version, error);
            if (!ok && error && error->isEmpty()) {
                *error = q.lastError().text();
            }
            const int latest = CentralMigrations().last().to;
            if (ok && *version > latest) {
                ok = Failed(error, QStringLiteral("%1（第 %2 版），请升级本机的 Belvoran")
                                       .arg(kNewerCentralText)
                                       .arg(*version));
            } else if (ok && *version < latest && !KeepOlderSchema(db, *version)) {
                ok = UpgradeSchema(db, *version, CentralMigrations(), error);
                *version = latest;
            }
            q.exec(QStringLiteral("SELECT pg_advisory_unlock(4242)"));
        }
    }
    if (!ok) {
        if (socket) {
            socket->Withdraw();
        }
        QSqlDatabase::removeDatabase(name);
    }
    return ok;
}

std::unique_ptr<CentralStore> CentralStore::Open(const QString& central, QString* error,
                                                 CentralSocket* socket) {
    const QString name = QStringLiteral("belvoran-central-") + QUuid::createUuid().toString();
    int version = 0;
    if (!OpenCentralDatabase(central, name, &version, error, socket)) {
        return nullptr;
    }
    return std::unique_ptr<CentralStore>(new CentralStore(name, socket));
}

CentralStore::~CentralStore() {
    if (socket_) {
        socket_->Withdraw();
    }
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name_);
}

bool CentralStore::ReadSite(const QString& site, SiteCopy* copy, QString* error) {
    Call call(socket_);
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    Transaction tx(name_);
    QSqlQuery q(db);
    if (!tx.Begin(error)) {
        return false;
    }
    if (!q.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"))) {
        return Failed(error, Why(q, name_));
    }
    SiteCopy result;
    result.site = site;
    for (const ReplicatedTable& t : ReplicatedTables()) {
        if (!q.prepare(ReplicaSelectSql(t, QStringLiteral("public.") + t.table,
                                        QStringLiteral(" WHERE 站点=?")))) {
            return Failed(error, Why(q, name_));
        }
        q.addBindValue(site);
        if (!q.exec()) {
            return Failed(error, Why(q, name_));
        }
        result.rows.push_back(ReplicaRows(q, t.columns.size()));
        if (t.oneRow && result.rows.last().isEmpty()) {
            return Failed(error, UnknownSiteText(site));
        }
    }
    q.finish();
    if (!tx.Commit(error)) {
        return false;
    }
    *copy = std::move(result);
    return true;
}

bool CentralStore::Sites(QStringList* sites, QString* error) {
    Call call(socket_);
    QSqlQuery q(QSqlDatabase::database(name_, false));
    if (!q.exec(QStringLiteral("SELECT 站点 FROM public.config ORDER BY 站点"))) {
        return Failed(error, Why(q, name_));
    }
    sites->clear();
    while (q.next()) {
        *sites << q.value(0).toString();
    }
    return true;
}

bool CentralStore::AddSite(const QString& site, QString* error) {
    Call call(socket_);
    QSqlQuery q(QSqlDatabase::database(name_, false));
    q.prepare(QStringLiteral("INSERT INTO public.config (站点) VALUES (?) ON CONFLICT DO NOTHING"));
    q.addBindValue(site);
    return q.exec() || Failed(error, Why(q, name_));
}

bool CentralStore::MayWrite(bool* may, QString* error) {
    Call call(socket_);
    QSqlQuery q(QSqlDatabase::database(name_, false));
    QStringList any;
    for (const TableDecl& t : Tables()) {
        if (!t.Central()) {
            continue;
        }
        any << QStringLiteral("has_table_privilege('public.%1', 'INSERT, UPDATE, DELETE')")
                   .arg(t.name);
    }
    if (!q.exec(QStringLiteral("SELECT ") + any.join(QStringLiteral(" OR "))) || !q.next()) {
        return Failed(error, Why(q, name_));
    }
    *may = q.value(0).toBool();
    return true;
}

bool CentralStore::Ping(QString* error) {
    Call call(socket_);
    QSqlQuery q(QSqlDatabase::database(name_, false));
    return q.exec(QStringLiteral("SELECT 1")) || Failed(error, Why(q, name_));
}

bool CentralStore::ClockOffset(qint64* offsetMs, QString* error) {
    Call call(socket_);
    QSqlQuery q(QSqlDatabase::database(name_, false));
    if (!q.prepare(
            QStringLiteral("SELECT (extract(epoch FROM clock_timestamp()) * 1000000)::bigint"))) {
        return Failed(error, Why(q, name_));
    }
    qint64 bestTrip = -1;
    for (int i = 0; i < 4; ++i) {
        using namespace std::chrono;
        const qint64 sent =
            duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
        const auto start = steady_clock::now();
        if (!q.exec() || !q.next()) {
            return Failed(error, Why(q, name_));
        }
        const qint64 tripUs = duration_cast<microseconds>(steady_clock::now() - start).count();
        const qint64 serverUs = q.value(0).toLongLong();
        if (bestTrip < 0 || tripUs < bestTrip) {
            bestTrip = tripUs;
            *offsetMs = (sent + tripUs / 2 - serverUs) / 1000;
        }
    }
    return true;
}

bool CentralStore::Listen(QObject* receiver, std::function<void(const QString&)> onChange,
                          QString* error) {
    Call call(socket_);
    QSqlDriver* driver = QSqlDatabase::database(name_, false).driver();
    if (!driver->subscribeToNotification(kChannel)) {
        return Failed(error, driver->lastError().text());
    }
    QObject::connect(driver, &QSqlDriver::notification, receiver,
                     [onChange](const QString& channel, QSqlDriver::NotificationSource,
                                const QVariant& payload) {
                         if (channel == kChannel) {
                             onChange(payload.toString());
                         }
                     });
    return true;
}

std::unique_ptr<Conn> OpenCentralSite(const QString& central, const QString& site, QString* error) {
    const QString name = QStringLiteral("belvoran-central-") + QUuid::createUuid().toString();
    int version = 0;
    if (!OpenCentralDatabase(central, name, &version, error)) {
        return nullptr;
    }
    QSqlDatabase db = QSqlDatabase::database(name, false);
    // The session's views of the site shadow the shared tables (temporary relations come
    // first), so every statement of the store works on this site's rows alone.
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT set_config('belvoran.site', ?, false), count(*) FROM "
                             "public.config WHERE 站点=?"));
    q.addBindValue(site);
    q.addBindValue(site);
    QString reason;
    if (!q.exec() || !q.next()) {
        reason = q.lastError().text();
    } else if (q.value(1).toLongLong() == 0) {
        reason = UnknownSiteText(site);
    }
    QString readOnly;
    if (reason.isEmpty()) {
        q.prepare(kMayChangeSql);
        q.addBindValue(site);
        if (!q.exec() || !q.next()) {
            reason = q.lastError().text();
        } else if (!q.value(0).toBool()) {
            readOnly = QStringLiteral("中心账号“%1”只能查看站点“%2”，不能修改")
                           .arg(q.value(1).toString(), site);
        }
    }
    for (const TableDecl& t : Tables()) {
        if (reason.isEmpty() && t.Central() &&
            !q.exec(QStringLiteral("CREATE TEMP VIEW %1 AS SELECT %2 FROM public.%1 WHERE 站点 = "
                                   "current_setting('belvoran.site') WITH CHECK OPTION")
                        .arg(t.name, ColumnList(t.name)))) {
            reason = q.lastError().text();
        }
    }
    // What the windows remember stays with this session.
    const TableDecl& memory = Table(QStringLiteral("记忆"));
    if (reason.isEmpty() && !q.exec(QStringLiteral("CREATE TEMP TABLE %1 %2")
                                        .arg(memory.name, LocalTableColumns(memory)))) {
        reason = q.lastError().text();
    }
    if (!reason.isEmpty()) {
        q = QSqlQuery();
        db = QSqlDatabase();
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
        Failed(error, reason);
        return nullptr;
    }
    q = QSqlQuery();
    db = QSqlDatabase();
    return Conn::OnCentralSite(name, central, version, site, readOnly);
}
