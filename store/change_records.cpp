// SPDX-License-Identifier: GPL-3.0-or-later
// The central timetable's record of changes to a site, and how one reads to a person.
#include "store/conn.h"
#include "store/dialect.h"
#include "store/statement.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

namespace {

// The columns that say nothing to a person reading a change.
bool Bookkeeping(const QString& column) {
    return column == QStringLiteral("id") || column == QStringLiteral("站点");
}

QString ValueText(const QJsonValue& v) {
    if (v.isNull() || v.isUndefined()) {
        return QStringLiteral("（空）");
    }
    return v.isString() ? v.toString()
                        : QString::fromUtf8(
                              QJsonDocument(QJsonObject{{"v", v}}).toJson(QJsonDocument::Compact))
                              .mid(5)
                              .chopped(1);
}

QJsonObject Row(const QString& json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

// "column value, column value" of a whole row.
QString WholeRow(const QJsonObject& row) {
    QStringList parts;
    for (auto it = row.begin(); it != row.end(); ++it) {
        if (!Bookkeeping(it.key())) {
            parts << it.key() + QLatin1Char(' ') + ValueText(it.value());
        }
    }
    return parts.join(QStringLiteral("，"));
}

} // namespace

QString ChangeSummary(const ChangeRecordRow& change) {
    const QJsonObject before = Row(change.oldRow), after = Row(change.newRow);
    if (change.op == QLatin1String("INSERT")) {
        return QStringLiteral("添加：") + WholeRow(after);
    }
    if (change.op == QLatin1String("DELETE")) {
        return QStringLiteral("删除：") + WholeRow(before);
    }
    QStringList parts;
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (!Bookkeeping(it.key()) && before.value(it.key()) != it.value()) {
            parts << QStringLiteral("%1 %2 → %3")
                         .arg(it.key(), ValueText(before.value(it.key())), ValueText(it.value()));
        }
    }
    return QStringLiteral("修改：") +
           (parts.isEmpty() ? QStringLiteral("（无变化）") : parts.join(QStringLiteral("，")));
}

bool Conn::ChangeRecords(QVector<ChangeRecordRow>* rows, QString* error) {
    if (dialect_ != SqlDialect::Postgres) {
        rows->clear();
        return true; // a computer's own store keeps no such record
    }
    return Select(
        QStringLiteral("SELECT 时间, 用户, 表, 操作, coalesce(旧值::text, ''), "
                       "coalesce(新值::text, '') FROM public.修改记录 WHERE 站点 = ? ORDER BY id "
                       "DESC LIMIT %1")
            .arg(kChangeRecordsShown),
        {site_}, rows,
        [](const QSqlQuery& q) {
            return ChangeRecordRow{q.value(0).toDateTime(), ColumnText(q, 1), ColumnText(q, 2),
                                   ColumnText(q, 3),        ColumnText(q, 4), ColumnText(q, 5)};
        },
        error);
}
