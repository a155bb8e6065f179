// SPDX-License-Identifier: GPL-3.0-or-later
// The central PostgreSQL timetable: its schema (made from the store's table declarations),
// connection options, a site's copy, and the settings window's view of one site.
#include "central/central.h"

#include "central/call.h"
#include "central/report_schema.h"
#include "core/play_log.h"
#include "store/conn.h"
#include "store/dialect.h"
#include "store/tables.h"
#include "store/transaction.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Channel of the change notifications; the payload is the site.
const QString kChannel = QStringLiteral("belvoran");

// The site column every site table has after its id. Inserts through the settings window's
// view take the session's site (set by OpenCentralSite).
const QString kSiteColumn =
    QStringLiteral("站点 TEXT NOT NULL DEFAULT current_setting('belvoran.site', true)");

// A column as PostgreSQL declares it; a key column is the key within its site.
QString CentralColumn(const TableDecl& t, const ColumnDecl& c) {
    QString sql = c.name + QLatin1Char(' ') + (c.centralType.isEmpty() ? c.type : c.centralType);
    if (c.name == t.key || (c.flags & kNotNull)) {
        sql += QStringLiteral(" NOT NULL");
    }
    if (!c.byDefault.isEmpty()) {
        sql += QStringLiteral(" DEFAULT ") + c.byDefault;
    }
    return sql;
}

// Whether the column is in the central table made at version.
bool CentralAt(const TableDecl& t, const ColumnDecl& c, int version) {
    return std::max(t.since.central, c.since.central) <= version;
}

// The statements that make one site table with its index and change notification.
QStringList CreateSiteTable(const TableDecl& t) {
    QStringList parts;
    if (t.IdKeyed()) {
        parts << KeyColumn(SqlDialect::Postgres);
    }
    parts << kSiteColumn;
    QStringList unique;
    for (const ColumnDecl& c : t.columns) {
        if (CentralAt(t, c, t.since.central)) {
            parts << CentralColumn(t, c);
            if (c.flags & kUnique) {
                unique << QStringLiteral("UNIQUE (站点, %1)").arg(c.name);
            }
        }
    }
    parts << unique;
    // One row per site: the row is the site.
    if (t.OneRow()) {
        parts << QStringLiteral("PRIMARY KEY (站点)");
    } else if (!t.IdKeyed()) {
        parts << QStringLiteral("PRIMARY KEY (站点, %1)").arg(t.key);
    }
    QStringList sql = {QStringLiteral("CREATE TABLE %1 (%2)").arg(t.name, parts.join(", "))};
    if (t.IdKeyed()) {
        sql << QStringLiteral("CREATE INDEX ON %1 (站点)").arg(t.name);
    }
    sql << QStringLiteral("CREATE TRIGGER %1_通知 AFTER INSERT OR UPDATE OR DELETE ON %1 FOR EACH "
                          "ROW EXECUTE FUNCTION belvoran_notify()")
               .arg(t.name);
    return sql;
}

QStringList SecureSiteTable(const TableDecl& t);

// The site tables and columns that central schema version `version` adds, as the store's
// table declarations say.
QStringList CentralVersion(int version) {
    QStringList sql;
    for (const TableDecl& t : Tables()) {
        if (t.since.central == version) {
            sql << CreateSiteTable(t);
            if (version > 3) {
                sql << SecureSiteTable(t); // from version 3 on, every site table is held
            }
        } else if (t.Central() && t.since.central < version) {
            for (const ColumnDecl& c : t.columns) {
                if (c.since.central == version) {
                    sql << QStringLiteral("ALTER TABLE %1 ADD COLUMN %2")
                               .arg(t.name, CentralColumn(t, c));
                }
            }
        }
    }
    return sql;
}

// Who may read and change which site (version 3). Three group roles, made here when missing
// (a database administrator may make them first, then nothing here needs CREATEROLE):
// belvoran_follower reads, belvoran_editor changes, both only the sites that 站点权限 gives
// their login role; belvoran_admin changes every site, gives sites and prunes the records.
// Row-level security holds every site table to that; the owner is not held.
const QString kAccess = QStringLiteral(
    "(pg_has_role('belvoran_admin', 'MEMBER') OR EXISTS (SELECT 1 FROM public.站点权限 p "
    "WHERE p.角色 = current_user AND p.站点 = %1.站点%2))");

QString SiteAccess(const QString& table, bool write) {
    return kAccess.arg(table, write ? QStringLiteral(" AND p.可修改") : QString());
}

// A site table held to its sites, with every change recorded.
QStringList SecureSiteTable(const TableDecl& t) {
    QStringList sql = {
        QStringLiteral("ALTER TABLE %1 ENABLE ROW LEVEL SECURITY").arg(t.name),
        QStringLiteral("CREATE POLICY 读 ON %1 FOR SELECT USING %2")
            .arg(t.name, SiteAccess(t.name, false)),
        QStringLiteral("CREATE POLICY 改 ON %1 FOR ALL USING %2 WITH CHECK %2")
            .arg(t.name, SiteAccess(t.name, true)),
        QStringLiteral("GRANT SELECT ON %1 TO belvoran_follower").arg(t.name),
        QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON %1 TO belvoran_editor, "
                       "belvoran_admin")
            .arg(t.name),
        QStringLiteral("CREATE TRIGGER %1_记录 AFTER INSERT OR UPDATE OR DELETE ON %1 FOR EACH "
                       "ROW EXECUTE FUNCTION belvoran_record()")
            .arg(t.name)};
    if (t.IdKeyed()) {
        sql << QStringLiteral(
                   "GRANT USAGE ON SEQUENCE %1_id_seq TO belvoran_editor, belvoran_admin")
                   .arg(t.name);
    }
    return sql;
}

// The change record's trigger, and what every account may use beside the tables.
QStringList TriggerAndGrants() {
    return {QStringLiteral(
                // Runs as the owner: it names nothing an account could put first on its path.
                // A row moved from one site to another is recorded under both.
                "CREATE FUNCTION belvoran_record() RETURNS trigger LANGUAGE plpgsql SECURITY "
                "DEFINER SET search_path = pg_catalog, pg_temp AS $$ DECLARE old_row jsonb; "
                "new_row jsonb; BEGIN "
                "IF TG_OP <> 'INSERT' THEN old_row := to_jsonb(OLD); END IF; "
                "IF TG_OP <> 'DELETE' THEN new_row := to_jsonb(NEW); END IF; "
                "INSERT INTO public.修改记录 (用户, 站点, 表, 操作, 旧值, 新值) VALUES "
                "(session_user, coalesce(new_row->>'站点', old_row->>'站点'), TG_TABLE_NAME, "
                "TG_OP, old_row, new_row); "
                "IF TG_OP = 'UPDATE' AND (old_row->>'站点') IS DISTINCT FROM (new_row->>'站点') "
                "THEN INSERT INTO public.修改记录 (用户, 站点, 表, 操作, 旧值, 新值) VALUES "
                "(session_user, old_row->>'站点', TG_TABLE_NAME, TG_OP, old_row, new_row); END IF; "
                "RETURN NULL; END $$"),
            QStringLiteral("REVOKE ALL ON FUNCTION belvoran_record() FROM PUBLIC"),
            // No account makes objects beside the tables (PostgreSQL 15's default; an older
            // server's public schema may belong to its superuser, who can do it instead).
            QStringLiteral("DO $$ BEGIN REVOKE CREATE ON SCHEMA public FROM PUBLIC; EXCEPTION "
                           "WHEN insufficient_privilege THEN RAISE NOTICE 'public schema left "
                           "as it is'; END $$"),
            QStringLiteral("GRANT USAGE ON SCHEMA public TO belvoran_follower, belvoran_editor, "
                           "belvoran_admin"),
            QStringLiteral("GRANT SELECT ON belvoran_schema TO belvoran_follower, "
                           "belvoran_editor, belvoran_admin"),
            QStringLiteral("GRANT USAGE ON ALL SEQUENCES IN SCHEMA public TO belvoran_editor, "
                           "belvoran_admin")};
}

// Version 3: who may read and change which site, and a record of every change.
QStringList AccessControl() {
    QStringList sql;
    for (const char* role : {"belvoran_follower", "belvoran_editor", "belvoran_admin"}) {
        sql << QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = "
                              "'%1') THEN CREATE ROLE %1 NOLOGIN; END IF; END $$")
                   .arg(QLatin1String(role));
    }
    sql << QStringLiteral("CREATE TABLE 站点权限 (角色 TEXT NOT NULL, 站点 TEXT NOT NULL, 可修改 "
                          "BOOLEAN NOT NULL DEFAULT false, PRIMARY KEY (角色, 站点))")
        << QStringLiteral("ALTER TABLE 站点权限 ENABLE ROW LEVEL SECURITY")
        << QStringLiteral("CREATE POLICY 自己 ON 站点权限 FOR SELECT USING (角色 = current_user)")
        << QStringLiteral("CREATE POLICY 管理 ON 站点权限 FOR ALL USING (pg_has_role("
                          "'belvoran_admin', 'MEMBER')) WITH CHECK (pg_has_role('belvoran_admin', "
                          "'MEMBER'))")
        << QStringLiteral("GRANT SELECT ON 站点权限 TO belvoran_follower, belvoran_editor")
        << QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON 站点权限 TO belvoran_admin")
        // Filled by the owner's trigger alone: nobody else may write it; only the
        // district's administrator may prune it.
        << QStringLiteral("CREATE TABLE 修改记录 (id BIGSERIAL PRIMARY KEY, 时间 TIMESTAMPTZ NOT "
                          "NULL DEFAULT now(), 用户 TEXT NOT NULL, 站点 TEXT, 表 TEXT NOT NULL, "
                          "操作 TEXT NOT NULL, 旧值 JSONB, 新值 JSONB)")
        << QStringLiteral("CREATE INDEX ON 修改记录 (站点, id)")
        << QStringLiteral("ALTER TABLE 修改记录 ENABLE ROW LEVEL SECURITY")
        << QStringLiteral("CREATE POLICY 读 ON 修改记录 FOR SELECT USING %1")
               .arg(SiteAccess(QStringLiteral("修改记录"), false))
        << QStringLiteral("CREATE POLICY 清理 ON 修改记录 FOR DELETE USING (pg_has_role("
                          "'belvoran_admin', 'MEMBER'))")
        << QStringLiteral("GRANT SELECT ON 修改记录 TO belvoran_follower, belvoran_editor")
        << QStringLiteral("GRANT SELECT, DELETE ON 修改记录 TO belvoran_admin")
        << TriggerAndGrants();
    for (const TableDecl& t : Tables()) {
        if (t.Central() && t.since.central <= 3) {
            sql << SecureSiteTable(t);
        }
    }
    return sql;
}

// The step that adds what each following computer sends.
constexpr int kReportsVersion = 4;

// The statements of central schema version `version`.
QStringList CentralStep(int version) {
    QStringList sql;
    if (version == 1) {
        // Identical notifications of one transaction arrive once: a site's change is one
        // wake-up.
        sql << QStringLiteral(
            "CREATE FUNCTION belvoran_notify() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
            "IF TG_OP <> 'INSERT' THEN PERFORM pg_notify('belvoran', OLD.站点); END IF; "
            "IF TG_OP <> 'DELETE' THEN PERFORM pg_notify('belvoran', NEW.站点); END IF; "
            "RETURN NULL; END $$");
    }
    sql << CentralVersion(version);
    if (version == 3) {
        sql << AccessControl();
    } else if (version == kReportsVersion) {
        sql << ReportTables();
    }
    return sql;
}

// The latest version that changed what a copy reads or an editor writes: access control's,
// or a later site table's or column's.
int SiteTablesVersion() {
    int latest = 3;
    for (const TableDecl& t : Tables()) {
        latest = std::max(latest, t.since.central);
        for (const ColumnDecl& c : t.columns) {
            latest = std::max(latest, c.since.central);
        }
    }
    return latest;
}

int LatestCentralVersion() {
    return std::max(SiteTablesVersion(), kReportsVersion);
}

// A schema older than this program's, whose site tables are current, is used as it is by
// an account that may not make tables (a computer's or an editor's): what it lacks (the
// reports) is refused by the server and kept here, until the owner brings it up to date.
bool KeepOlderSchema(const QSqlDatabase& db, int version) {
    QSqlQuery q(db);
    if (version < SiteTablesVersion() ||
        !q.exec(QStringLiteral("SELECT has_schema_privilege('public', 'CREATE')")) || !q.next() ||
        q.value(0).toBool()) {
        return false;
    }
    PlayLog(QStringLiteral("warning the central timetable is at schema version %1 and this "
                           "account may not bring it to %2: the timetable is used as it is; "
                           "what this computer sends waits until the owner runs belvoran "
                           "central-schema")
                .arg(version)
                .arg(LatestCentralVersion()));
    return true;
}

// A value for a libpq connection string, quoted.
QString Quote(const QString& v) {
    QString s = v;
    s.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace('\'', QStringLiteral("\\'"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

// Why a connection string is refused for holding a password.
QString NoPasswordText(bool uri) {
    return QStringLiteral("%1中不能写密码：请写入 ~/.pgpass（权限 0600）或 libpq 服务文件")
        .arg(uri ? QStringLiteral("中心时间表地址") : QStringLiteral("连接参数"));
}

// Whether a string libpq could not parse speaks of a password: libpq's reason may quote the
// string, so it is not said back.
bool MentionsPassword(const QString& c) {
    static const QRegularExpression userInfo(QStringLiteral("^[^/?@]*//[^/?@]*:[^/?@]*@"));
    const QString decoded = QUrl::fromPercentEncoding(c.toUtf8()).toLower();
    return decoded.contains(QLatin1String("password")) || decoded.contains(userInfo);
}

// What every central connection gets unless the string says otherwise: a silent server fails
// the connection or the statement within seconds.
const QList<std::pair<QString, QString>>& ConnectDefaults() {
    static const QList<std::pair<QString, QString>> all = {
        {QStringLiteral("connect_timeout"), QStringLiteral("5")},
        {QStringLiteral("keepalives_idle"), QStringLiteral("10")},
        {QStringLiteral("keepalives_interval"), QStringLiteral("5")},
        {QStringLiteral("keepalives_count"), QStringLiteral("3")},
        {QStringLiteral("tcp_user_timeout"), QStringLiteral("20000")},
        {QStringLiteral("application_name"), QStringLiteral("belvoran")},
        {QStringLiteral("options"), QStringLiteral("-c statement_timeout=30000")}};
    return all;
}

bool IsConnectDefault(const QString& key) {
    return std::any_of(ConnectDefaults().begin(), ConnectDefaults().end(),
                       [&key](const auto& option) { return option.first == key; });
}

// One option of a connection string as QPSQL takes it; numbers (and lists of them) bare.
QString OptionText(const QString& key, const QString& value) {
    static const QRegularExpression numbers(QStringLiteral("^[0-9]+(,[0-9]+)*$"));
    return key + QLatin1Char('=') + (numbers.match(value).hasMatch() ? value : Quote(value));
}

// The options libpq parsed, as QPSQL's connect options: where to connect first, then the
// rest in libpq's order, then the defaults (those given win; session options add to ours).
bool ParsedOptions(const PQconninfoOption* parsed, bool uri, QString* options, QString* error) {
    static const QStringList where = {QStringLiteral("host"), QStringLiteral("hostaddr"),
                                      QStringLiteral("port"), QStringLiteral("dbname"),
                                      QStringLiteral("user")};
    QStringList first(where.size()), rest;
    QHash<QString, QString> given;
    for (const PQconninfoOption* o = parsed; o->keyword; ++o) {
        const QString key = QString::fromUtf8(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        if (!o->val) {
            continue;
        } else if (key == QLatin1String("password") || key == QLatin1String("sslpassword")) {
            return Failed(error, NoPasswordText(uri));
        } else if (value.contains(QLatin1Char(';'))) {
            // QPSQL splits its connect options at every semicolon, even inside quotes.
            return Failed(error, QStringLiteral("连接参数 %1 的值中不能有分号").arg(key));
        } else if (const qsizetype at = where.indexOf(key); at >= 0) {
            first[at] = OptionText(key, value);
        } else if (!IsConnectDefault(key)) {
            rest << OptionText(key, value);
        }
        given.insert(key, value);
    }
    for (const auto& [key, value] : ConnectDefaults()) {
        if (key == QLatin1String("options") && given.contains(key)) {
            rest << OptionText(key, value + QLatin1Char(' ') + given.value(key));
        } else {
            rest << OptionText(key, given.value(key, value));
        }
    }
    first.removeAll(QString());
    *options = (first + rest).join(QLatin1Char(' '));
    return true;
}

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

const QVector<Migration>& CentralMigrations() {
    static const QVector<Migration> steps = [] {
        QVector<Migration> all;
        for (int v = 1; v <= LatestCentralVersion(); ++v) {
            all.push_back({v, CentralStep(v)});
        }
        return all;
    }();
    return steps;
}

bool CentralConnectOptions(const QString& central, QString* options, QString* error) {
    QString c = central.trimmed();
    if (c.isEmpty()) {
        return Failed(error, QStringLiteral("没有给出中心时间表"));
    }
    // Never echoed back in a refusal: it may hold a password.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    const auto m = scheme.match(c);
    if (m.hasMatch()) {
        const QString name = m.captured(1).toLower();
        if (name != QLatin1String("postgresql") && name != QLatin1String("postgres")) {
            return Failed(error, QStringLiteral("中心时间表地址须以 postgresql:// 开头"));
        }
        c.replace(0, name.size(), name); // libpq knows the scheme in lower case only
    } else if (!c.contains(QLatin1Char('='))) {
        // Not a service name (those are section names of pg_service.conf): perhaps an address
        // missing its scheme, with a password in it.
        if (c.contains(QRegularExpression(QStringLiteral("[\\s@:/]")))) {
            return Failed(error, QStringLiteral("中心时间表须是服务名、“host=… dbname=…”连接参数"
                                                "或 postgresql:// 地址"));
        }
        c = QStringLiteral("service=") + Quote(c);
    }
    char* why = nullptr;
    const std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)> parsed(
        PQconninfoParse(c.toUtf8().constData(), &why), PQconninfoFree);
    if (!parsed) {
        const QString reason = why ? QString::fromUtf8(why).trimmed() : QStringLiteral("内存不足");
        PQfreemem(why);
        const QString what = m.hasMatch() ? QStringLiteral("地址") : QStringLiteral("连接参数");
        return Failed(error, MentionsPassword(c)
                                 ? NoPasswordText(m.hasMatch())
                                 : QStringLiteral("中心时间表%1有误：%2").arg(what, reason));
    }
    return ParsedOptions(parsed.get(), m.hasMatch(), options, error);
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
