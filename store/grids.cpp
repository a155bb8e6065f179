// Statements of the settings grids: a grid's rows, and the delete of a block of rows.
#include "store/conn.h"

#include "store/transaction.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace {

// An identifier that was checked against the tables' own names, quoted for SQLite.
QString Quoted(const QString& name) {
    return QLatin1Char('"') + name + QLatin1Char('"');
}

// Builds the statement of a grid query, or explains why the query is not a valid one.
bool GridStatement(const GridQuery& query, QString* sql, QVariantList* values, QString* error) {
    const QStringList columns = TableColumns(query.table);
    if (columns.isEmpty() || !columns.contains(QStringLiteral("id"))) {
        return Failed(error, QStringLiteral("没有可以显示的表：%1").arg(query.table));
    }
    for (const QString& column : {query.filterColumn, query.orderBy}) {
        if (!column.isEmpty() && !columns.contains(column)) {
            return Failed(error, QStringLiteral("表 %1 没有列 %2").arg(query.table, column));
        }
    }
    *sql = QStringLiteral("SELECT %1 FROM %2")
               .arg(columns.join(QStringLiteral(", ")), Quoted(query.table));
    values->clear();
    if (!query.filterColumn.isEmpty()) {
        *sql += QStringLiteral(" WHERE %1 = ?").arg(Quoted(query.filterColumn));
        values->append(query.filterValue);
    }
    *sql += query.orderBy.isEmpty() ? QStringLiteral(" ORDER BY id")
                                    : QStringLiteral(" ORDER BY %1, id").arg(Quoted(query.orderBy));
    return true;
}

} // namespace

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

bool Conn::DeleteRows(const QString& table, const QVector<qint64>& ids, QString* error) {
    if (table == QStringLiteral("config") || !TableColumns(table).contains(QStringLiteral("id"))) {
        return Failed(error, QStringLiteral("不能从表 %1 删除记录").arg(table));
    }
    const QString sql = QStringLiteral("DELETE FROM %1 WHERE id = ?").arg(Quoted(table));
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
