// SPDX-License-Identifier: GPL-3.0-or-later
// Statements of the settings grids: a grid's rows, and the delete of a block of rows.
#include "store/conn.h"

#include "store/transaction.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

// Where a grid's rows come from: a table, optionally only the rows whose filterColumn holds
// the query's key, ordered by orderBy and then by id.
struct GridSource {
    QString table;
    QString filterColumn; // empty: every row of the table
    QString orderBy;      // empty: by id alone
};

bool SourceOf(const GridQuery& query, GridSource* source, QString* error) {
    switch (query.kind) {
    case GridKind::WeekDay:
        *source = {QStringLiteral("作息表"), QStringLiteral("星期名"), QStringLiteral("开始时间")};
        return true;
    case GridKind::LibrarySongs:
        *source = {QStringLiteral("课间音乐"), QStringLiteral("组名"), {}};
        return true;
    case GridKind::AllSongs:
        *source = {QStringLiteral("课间音乐"), {}, {}};
        return true;
    case GridKind::Replacements:
        *source = {QStringLiteral("替代音乐"), {}, {}};
        return true;
    case GridKind::None:
        break;
    }
    return Failed(error, QStringLiteral("没有可以显示的表格"));
}

// An identifier of the schema, quoted for SQLite.
QString Quoted(const QString& name) {
    return QLatin1Char('"') + name + QLatin1Char('"');
}

// Builds the statement of a grid query, or explains why the query is not a valid one.
bool GridStatement(const GridQuery& query, QString* sql, QVariantList* values, QString* error) {
    GridSource source;
    if (!SourceOf(query, &source, error)) {
        return false;
    }
    *sql = QStringLiteral("SELECT %1 FROM %2")
               .arg(TableColumns(source.table).join(QStringLiteral(", ")), Quoted(source.table));
    values->clear();
    if (!source.filterColumn.isEmpty()) {
        *sql += QStringLiteral(" WHERE %1 = ?").arg(Quoted(source.filterColumn));
        values->append(query.key);
    }
    *sql += source.orderBy.isEmpty()
                ? QStringLiteral(" ORDER BY id")
                : QStringLiteral(" ORDER BY %1, id").arg(Quoted(source.orderBy));
    return true;
}

// The text of a cell by its column name; null when the row or column does not exist.
QString Cell(const GridData& data, int row, const QString& column) {
    const int c = data.columns.indexOf(column);
    if (row < 0 || row >= data.rows.size() || c < 0) {
        return {};
    }
    const QVariant& v = data.rows[row][c];
    return v.isNull() ? QString() : v.toString();
}

} // namespace

QStringList GridColumns(const GridQuery& query) {
    GridSource source;
    return SourceOf(query, &source, nullptr) ? TableColumns(source.table) : QStringList();
}

qint64 GridRowId(const GridData& data, int row) {
    return Cell(data, row, QStringLiteral("id")).toLongLong();
}

EventRow GridEvent(const GridData& data, int row) {
    const auto cell = [&](const char* column) {
        return Cell(data, row, QString::fromUtf8(column));
    };
    return {GridRowId(data, row), cell("星期名"),   cell("事件"),
            cell("开始时间"),     cell("音乐文件"), cell("音乐总长"),
            cell("是否播放"),     cell("替代音乐"), cell("播放区域")};
}

QString GridRowName(const GridQuery& query, const GridData& data, int row) {
    switch (query.kind) {
    case GridKind::WeekDay:
        return Cell(data, row, QStringLiteral("事件"));
    case GridKind::LibrarySongs:
    case GridKind::AllSongs:
        return QFileInfo(Cell(data, row, QStringLiteral("音乐文件"))).fileName();
    case GridKind::Replacements:
        return Cell(data, row, QStringLiteral("替代名称"));
    case GridKind::None:
        break;
    }
    return {};
}

int GridZoneColumn(const GridData& data) {
    return data.columns.indexOf(QStringLiteral("播放区域"));
}

bool Conn::GridRows(const GridQuery& query, GridData* data, QString* error) {
    QString sql;
    QVariantList values;
    if (!GridStatement(query, &sql, &values, error)) {
        return false;
    }
    QSqlQuery q;
    if (!Run(&q, sql, values, error)) {
        return false;
    }
    GridData result;
    const QSqlRecord record = q.record();
    for (int i = 0; i < record.count(); ++i) {
        result.columns << record.fieldName(i);
    }
    while (q.next()) {
        QVector<QVariant> row(record.count());
        for (int i = 0; i < record.count(); ++i) {
            row[i] = q.value(i);
        }
        result.rows.push_back(std::move(row));
    }
    *data = std::move(result);
    return true;
}

bool Conn::DeleteRows(const GridQuery& grid, const QVector<qint64>& ids, QString* error) {
    GridSource source;
    if (!SourceOf(grid, &source, error)) {
        return false;
    }
    const QString sql = QStringLiteral("DELETE FROM %1 WHERE id = ?").arg(Quoted(source.table));
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    for (qint64 id : ids) {
        if (!Exec(sql, {id}, error)) {
            return false;
        }
    }
    return tx.Commit(error);
}
