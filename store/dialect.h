// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QSqlDatabase;

// The two SQL engines the store speaks to: the computer's own SQLite file and the central
// PostgreSQL timetable. Every difference between them that a statement meets is here, so the
// statements themselves are written once.
enum class SqlDialect { Sqlite, Postgres };

// The dialect of an open Qt SQL connection.
SqlDialect DialectOf(const QSqlDatabase& db);

// The declaration of a table's row key, assigned by the database when a row is added.
QString KeyColumn(SqlDialect dialect);

// The tail an INSERT needs so that the key of the added row can be read back: SQLite reports
// it on its own, PostgreSQL returns it as the statement's one result row.
QString ReturningKey(SqlDialect dialect);

// The schema version a store holds (SQLite: PRAGMA user_version; PostgreSQL: the one row of
// belvoran_schema, made when missing), and writing a new one inside a migration step.
bool ReadSchemaVersion(QSqlDatabase& db, int* version, QString* error);
bool WriteSchemaVersion(QSqlDatabase& db, int version, QString* error);
