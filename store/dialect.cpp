// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/dialect.h"

#include "store/failed.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

SqlDialect DialectOf(const QSqlDatabase& db) {
    return db.driver() && db.driver()->dbmsType() == QSqlDriver::PostgreSQL ? SqlDialect::Postgres
                                                                            : SqlDialect::Sqlite;
}

QString KeyColumn(SqlDialect dialect) {
    return dialect == SqlDialect::Postgres ? QStringLiteral("id BIGSERIAL PRIMARY KEY")
                                           : QStringLiteral("id INTEGER PRIMARY KEY AUTOINCREMENT");
}

QString ReturningKey(SqlDialect dialect) {
    return dialect == SqlDialect::Postgres ? QStringLiteral(" RETURNING id") : QString();
}

bool ReadSchemaVersion(QSqlDatabase& db, int* version, QString* error) {
    QSqlQuery q(db);
    if (DialectOf(db) == SqlDialect::Postgres) {
        if (!q.exec(QStringLiteral("SELECT to_regclass('belvoran_schema') IS NULL")) || !q.next()) {
            return Failed(error, q.lastError().text());
        }
        if (q.value(0).toBool() &&
            !q.exec(QStringLiteral("CREATE TABLE belvoran_schema (version INTEGER NOT NULL)"))) {
            return Failed(error, q.lastError().text());
        }
        if (!q.exec(QStringLiteral("SELECT coalesce(max(version), 0) FROM belvoran_schema")) ||
            !q.next()) {
            return Failed(error, q.lastError().text());
        }
        *version = q.value(0).toInt();
        return true;
    }
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
        return Failed(error, q.lastError().text());
    }
    *version = q.value(0).toInt();
    return true;
}

bool WriteSchemaVersion(QSqlDatabase& db, int version, QString* error) {
    QSqlQuery q(db);
    const bool ok =
        DialectOf(db) == SqlDialect::Postgres
            ? q.exec(QStringLiteral("DELETE FROM belvoran_schema")) &&
                  q.exec(QStringLiteral("INSERT INTO belvoran_schema VALUES (%1)").arg(version))
            : q.exec(QStringLiteral("PRAGMA user_version = %1").arg(version));
    return ok || Failed(error, q.lastError().text());
}
