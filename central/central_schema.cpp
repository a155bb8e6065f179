// SPDX-License-Identifier: GPL-3.0-or-later
// The central timetable's schema steps, made from the store's table declarations: the site
// tables, who may read and change them, and the record of every change.
#include "central/central_schema.h"

#include "central/central.h"
#include "central/report_schema.h"
#include "core/play_log.h"
#include "store/dialect.h"
#include "store/tables.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>

namespace {

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

} // namespace

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
