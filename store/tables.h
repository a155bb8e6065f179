// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/rows.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class QSqlQuery;

// The program's tables, each declared once (store/tables.cpp): the local SQLite schema and
// its steps, the central PostgreSQL schema's site tables, the columns a following computer
// copies and the column lists of the statements are all made from these declarations. A
// later column is one line in its table with the versions that add it, here and on the
// central timetable, e.g. {"音量", "INTEGER", 0, "100", {}, {7, 4}}; the schema steps follow.

// The schema version that added a table or column, counted apart in the computer's own
// file (user_version) and in the central timetable (belvoran_schema); 0 where it is not kept.
struct Since {
    int local = 0;
    int central = 0;
};

enum ColumnFlag {
    kNotNull = 1,
    kUnique = 2, // unique (on the central timetable, within its site)
    kOwn = 4,    // the computer's own setting: a following computer keeps it, never copies it
};

struct ColumnDecl {
    ColumnDecl(QString name, QString type, int flags = 0, QString byDefault = {},
               QString centralType = {}, Since since = {})
        : name(std::move(name)), type(std::move(type)), centralType(std::move(centralType)),
          flags(flags), byDefault(std::move(byDefault)), since(since) {}

    QString name;
    QString type;        // as SQLite declares it
    QString centralType; // as PostgreSQL declares it, when that differs
    int flags = 0;
    // The value of a new one-row table's row; the central timetable's DEFAULT. Empty: none.
    QString byDefault;
    Since since; // 0: with its table
};

struct IndexDecl {
    QString name; // the local index's; the central timetable indexes by site instead
    QString columns;
    int since = 1; // local schema version
};

// The row key: kIdKey, a number the database assigns; another column's name, that column;
// empty for a one-row table. On the central timetable every key is within its site (站点).
inline const QString kIdKey = QStringLiteral("id");

struct TableDecl {
    TableDecl(QString name, QString key, Since since, QVector<ColumnDecl> columns,
              QVector<IndexDecl> indexes = {})
        : name(std::move(name)), key(std::move(key)), since(since), columns(std::move(columns)),
          indexes(std::move(indexes)) {}

    QString name;
    QString key;                 // see kIdKey
    Since since;                 // the versions that made the table
    QVector<ColumnDecl> columns; // in table order, after the id of an id-keyed table
    QVector<IndexDecl> indexes;

    bool IdKeyed() const { return key == kIdKey; }
    bool OneRow() const { return key.isEmpty(); }
    bool Central() const { return since.central > 0; }
};

// Every table, in the order the central timetable makes and a copy reads them.
const QVector<TableDecl>& Tables();
// The declaration of the table called name; it must be one of Tables().
const TableDecl& Table(const QString& name);

// The columns of one of the program's tables in table order (the id first); empty for any
// other name.
QStringList TableColumns(const QString& table);
// Those columns as a statement lists them: "id, 星期名, …".
QString ColumnList(const QString& table);
// The columns a statement writes: all but the id, and a column key last.
QStringList WrittenColumns(const TableDecl& table);
// "INSERT INTO t (c1, …) VALUES (?, …)" of the written columns.
QString InsertSql(const QString& table);
// "UPDATE t SET c1=?, … WHERE key=?": every written column but the key, the key bound last.
QString UpdateSql(const QString& table);

// The columns of a table a following computer copies from its site, in table order.
QStringList CopiedColumns(const TableDecl& table);
// "SELECT columns FROM from[where]" ordered by the first column, or the one row's.
QString SelectRowsSql(const TableDecl& table, const QStringList& columns, const QString& from,
                      const QString& where = {});
// The rows of such a query, count columns each.
QVector<QVector<QVariant>> PlainRows(QSqlQuery& q, int count);

// The tables of the original release (version 1) with their columns then, the id first:
// what every store holds.
struct TableShape {
    QString name;
    QStringList columns;
};
QVector<TableShape> Version1Tables();
// The statements of the version-1 local schema, the default row of a one-row table included.
QStringList LocalVersion1();
// The local schema's later steps, oldest first: the tables, columns and indexes each version
// added.
QVector<Migration> LocalSchemaSteps();
// "(…)": the columns of a local table as SQLite declares them.
QString LocalTableColumns(const TableDecl& table);
