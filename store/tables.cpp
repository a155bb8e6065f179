// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/tables.h"

#include "store/dialect.h"

#include <QSqlQuery>

#include <algorithm>

namespace {

// The timetable: the week's events, break-music libraries, rain replacements, special days.
QVector<TableDecl> TimetableTables() {
    return {
        {QStringLiteral("作息表"),
         kIdKey,
         {1, 1},
         {{"星期名", "TEXT"},
          {"事件", "TEXT"},
          {"开始时间", "TEXT"},
          {"音乐文件", "TEXT"},
          {"音乐总长", "TEXT"},
          {"是否播放", "TEXT"},
          {"替代音乐", "TEXT"},
          {"播放区域", "TEXT"}},
         {{"作息表_星期_时间", "星期名, 开始时间", 1}}},
        {QStringLiteral("课间音乐"),
         kIdKey,
         {1, 1},
         {{"组名", "TEXT"}, {"音乐文件", "TEXT"}, {"音乐总长", "TEXT"}},
         // A library's songs are read by group name at every break-music start.
         {{"课间音乐_组名", "组名", 2}}},
        {QStringLiteral("替代音乐"),
         kIdKey,
         {1, 1},
         {{"替代名称", "TEXT"}, {"音乐文件", "TEXT"}, {"音乐总长", "TEXT"}}},
        // Holidays with no bells and make-up days that run another weekday's timetable.
        {QStringLiteral("特殊日期"),
         kIdKey,
         {3, 1},
         {{"日期", "TEXT", kNotNull | kUnique}, {"类型", "TEXT", kNotNull}, {"备注", "TEXT"}}},
    };
}

// The options, what the windows remember, and the play zones.
QVector<TableDecl> OtherTables() {
    return {
        // The one row of options: of the computer, or of the site. A following computer
        // copies only the site's library list.
        {QStringLiteral("config"),
         {},
         {1, 1},
         {{"播放顺序", "INTEGER", kOwn, "0"},
          {"课间音乐", "TEXT", 0, "''"},
          {"关机时间", "TEXT", kOwn, "'00:00:00'"},
          {"记住替代音乐", "BOOLEAN", kOwn, "0", "INTEGER"},
          {"替代音乐", "BOOLEAN", kOwn, "0", "INTEGER"},
          {"最小化", "BOOLEAN", kOwn, "0", "INTEGER"},
          {"倒计时", "BOOLEAN", kOwn, "1", "INTEGER"},
          {"开机启动", "BOOLEAN", kOwn, "0", "INTEGER"}}},
        // Small things the windows remember by name, such as the folder the file dialogs
        // open in.
        {QStringLiteral("记忆"),
         QStringLiteral("名称"),
         {5, 0},
         {{"名称", "TEXT"}, {"值", "TEXT"}}},
        // Where each play zone sounds, and the command that switches it on. A zone's output
        // is copied by its device's name, never a sink description or a command: what comes
        // from the server is not run or parsed here.
        {QStringLiteral("区域设置"),
         QStringLiteral("序号"),
         {6, 2},
         {{"序号", "INTEGER"},
          {"名称", "TEXT"},
          {"输出", "TEXT", kOwn},
          {"输出名称", "TEXT"},
          {"声道数", "INTEGER"},
          {"声道", "INTEGER"},
          {"切换命令", "TEXT", kOwn}}},
    };
}

// What was played, and what of it a following computer has still to send.
QVector<TableDecl> RecordTables() {
    return {
        // What became of every event, read by date in the records window.
        {QStringLiteral("播放记录"),
         kIdKey,
         {4, 0},
         {{"日期", "TEXT", kNotNull},
          {"时间", "TEXT", kNotNull},
          {"事件", "TEXT"},
          {"音乐文件", "TEXT"},
          {"结果", "INTEGER", kNotNull},
          {"延迟毫秒", "INTEGER"},
          {"原因", "TEXT"}},
         {{"播放记录_日期", "日期, 时间", 4}}},
        // The play records a following computer has still to send to the central timetable,
        // each written with its record; a row the server refused keeps the server's reason.
        {QStringLiteral("待发送记录"),
         kIdKey,
         {7, 0},
         {{"站点", "TEXT", kNotNull},
          {"日期", "TEXT", kNotNull},
          {"时间", "TEXT", kNotNull},
          {"事件", "TEXT"},
          {"音乐文件", "TEXT"},
          {"结果", "INTEGER", kNotNull},
          {"延迟毫秒", "INTEGER"},
          {"原因", "TEXT"},
          {"拒绝", "TEXT"}}},
    };
}

} // namespace

const QVector<TableDecl>& Tables() {
    static const QVector<TableDecl> tables = TimetableTables() + OtherTables() + RecordTables();
    return tables;
}

const TableDecl& Table(const QString& name) {
    const QVector<TableDecl>& tables = Tables();
    const auto t = std::find_if(tables.begin(), tables.end(),
                                [&](const TableDecl& d) { return d.name == name; });
    Q_ASSERT(t != tables.end());
    return *t;
}

namespace {

QStringList Names(const QVector<ColumnDecl>& columns) {
    QStringList names;
    for (const ColumnDecl& c : columns) {
        names << c.name;
    }
    return names;
}

// Whether the column is in the local table of version.
bool LocalAt(const TableDecl& t, const ColumnDecl& c, int version) {
    return std::max(t.since.local, c.since.local) <= version;
}

QString LocalColumn(const TableDecl& t, const ColumnDecl& c) {
    QString sql = c.name + QLatin1Char(' ') + c.type;
    if (c.name == t.key) {
        sql += QStringLiteral(" PRIMARY KEY");
    }
    if (c.flags & kNotNull) {
        sql += QStringLiteral(" NOT NULL");
    }
    if (c.flags & kUnique) {
        sql += QStringLiteral(" UNIQUE");
    }
    return sql;
}

// "(…)": the columns of the local table as version made it.
QString LocalColumns(const TableDecl& t, int version) {
    QStringList parts;
    if (t.IdKeyed()) {
        parts << KeyColumn(SqlDialect::Sqlite);
    }
    for (const ColumnDecl& c : t.columns) {
        if (LocalAt(t, c, version)) {
            parts << LocalColumn(t, c);
        }
    }
    return QStringLiteral("(%1)").arg(parts.join(QStringLiteral(", ")));
}

// The default row of a one-row table as version made it.
QString DefaultRow(const TableDecl& t, int version) {
    QStringList names, values;
    for (const ColumnDecl& c : t.columns) {
        if (LocalAt(t, c, version)) {
            names << c.name;
            values << c.byDefault;
        }
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(t.name, names.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
}

// What local schema version makes: its tables (with their indexes and default rows), then
// the columns and indexes it adds to older ones. The steps after the first make a table or
// index only if it is missing.
QStringList LocalStatements(int version) {
    const QString ifMissing = version > 1 ? QStringLiteral("IF NOT EXISTS ") : QString();
    QStringList sql, rows;
    for (const TableDecl& t : Tables()) {
        if (t.since.local == version) {
            sql << QStringLiteral("CREATE TABLE %1%2 %3")
                       .arg(ifMissing, t.name, LocalColumns(t, version));
            if (t.OneRow()) {
                rows << DefaultRow(t, version);
            }
        } else if (t.since.local > 0 && t.since.local < version) {
            for (const ColumnDecl& c : t.columns) {
                if (c.since.local == version) {
                    // The rows already there (a one-row table's row) take the default.
                    const QString value = c.byDefault.isEmpty()
                                              ? QString()
                                              : QStringLiteral(" DEFAULT ") + c.byDefault;
                    sql << QStringLiteral("ALTER TABLE %1 ADD COLUMN %2%3")
                               .arg(t.name, LocalColumn(t, c), value);
                }
            }
        }
        for (const IndexDecl& i : t.indexes) {
            if (t.since.local > 0 && i.since == version) {
                sql << QStringLiteral("CREATE INDEX %1%2 ON %3 (%4)")
                           .arg(ifMissing, i.name, t.name, i.columns);
            }
        }
    }
    return sql + rows;
}

int LatestLocalVersion() {
    int latest = 1;
    for (const TableDecl& t : Tables()) {
        latest = std::max(latest, t.since.local);
        for (const ColumnDecl& c : t.columns) {
            latest = std::max(latest, c.since.local);
        }
        for (const IndexDecl& i : t.indexes) {
            latest = std::max(latest, i.since);
        }
    }
    return latest;
}

} // namespace

QStringList TableColumns(const QString& table) {
    for (const TableDecl& t : Tables()) {
        if (t.name == table) {
            return (t.IdKeyed() ? QStringList{kIdKey} : QStringList()) + Names(t.columns);
        }
    }
    return {};
}

QString ColumnList(const QString& table) {
    return TableColumns(table).join(QStringLiteral(", "));
}

QStringList WrittenColumns(const TableDecl& table) {
    QStringList names = Names(table.columns);
    if (names.removeOne(table.key)) {
        names << table.key;
    }
    return names;
}

QString InsertSql(const QString& table) {
    const QStringList columns = WrittenColumns(Table(table));
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(table, columns.join(QStringLiteral(", ")),
             QStringList(columns.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
}

QString UpdateSql(const QString& table) {
    const TableDecl& t = Table(table);
    QStringList sets;
    for (const QString& c : WrittenColumns(t)) {
        if (c != t.key) {
            sets << c + QStringLiteral("=?");
        }
    }
    return QStringLiteral("UPDATE %1 SET %2 WHERE %3=?")
        .arg(table, sets.join(QStringLiteral(", ")), t.key);
}

QStringList CopiedColumns(const TableDecl& table) {
    QStringList names = table.IdKeyed() ? QStringList{kIdKey} : QStringList();
    for (const ColumnDecl& c : table.columns) {
        if (!(c.flags & kOwn)) {
            names << c.name;
        }
    }
    return names;
}

QString SelectRowsSql(const TableDecl& table, const QStringList& columns, const QString& from,
                      const QString& where) {
    return QStringLiteral("SELECT %1 FROM %2%3%4")
        .arg(columns.join(QStringLiteral(", ")), from, where,
             table.OneRow() ? QStringLiteral(" LIMIT 1")
                            : QStringLiteral(" ORDER BY ") + columns.first());
}

QVector<QVector<QVariant>> PlainRows(QSqlQuery& q, int count) {
    QVector<QVector<QVariant>> rows;
    while (q.next()) {
        QVector<QVariant> row(count);
        for (int i = 0; i < count; ++i) {
            row[i] = q.value(i);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

QVector<TableShape> Version1Tables() {
    QVector<TableShape> tables;
    for (const TableDecl& t : Tables()) {
        if (t.since.local == 1) {
            TableShape shape{t.name, t.IdKeyed() ? QStringList{kIdKey} : QStringList()};
            for (const ColumnDecl& c : t.columns) {
                if (LocalAt(t, c, 1)) {
                    shape.columns << c.name;
                }
            }
            tables << shape;
        }
    }
    return tables;
}

QStringList LocalVersion1() {
    return LocalStatements(1);
}

QVector<Migration> LocalSchemaSteps() {
    QVector<Migration> steps;
    for (int v = 2; v <= LatestLocalVersion(); ++v) {
        steps.push_back({v, LocalStatements(v)});
    }
    return steps;
}

QString LocalTableColumns(const TableDecl& table) {
    return LocalColumns(table, LatestLocalVersion());
}
