// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the store's own statement files share; nothing outside store/ includes it, so QtSql
// stays out of every other folder.
#include "store/conn.h"

#include <QSqlQuery>

// Reads column i as text, keeping SQL Null as a null QString.
QString ColumnText(const QSqlQuery& q, int i);
// A value to write: the program writes the empty text, never Null.
QVariant NotNull(const QString& s);

template <typename Row, typename Read>
bool Conn::Select(const QString& sql, const QVariantList& values, QVector<Row>* rows, Read read,
                  QString* error) {
    QSqlQuery q;
    if (!Run(&q, sql, values, error)) {
        return false;
    }
    QVector<Row> result;
    while (q.next()) {
        result.push_back(read(q));
    }
    *rows = std::move(result);
    return true;
}
