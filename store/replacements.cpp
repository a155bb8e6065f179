// Statements on 替代音乐, the rain-day replacements.
#include "store/conn.h"

#include <QSqlQuery>

namespace {

ReplaceRow ReadReplace(const QSqlQuery& q) {
    return {q.value(0).toLongLong(), ColumnText(q, 1), ColumnText(q, 2), ColumnText(q, 3)};
}

} // namespace

bool Conn::ReplaceRows(QVector<ReplaceRow>* rows, QString* error) {
    return Select(
        QStringLiteral("SELECT id, 替代名称, 音乐文件, 音乐总长 FROM 替代音乐 ORDER BY id"), {},
        rows, ReadReplace, error);
}

bool Conn::AddReplace(const QString& name, const QString& file, const QString& length, qint64* id,
                      QString* error) {
    return Insert(
        QStringLiteral("INSERT INTO 替代音乐 (替代名称, 音乐文件, 音乐总长) VALUES (?, ?, ?)"),
        {NotNull(name), NotNull(file), NotNull(length)}, id, error);
}
