// SPDX-License-Identifier: GPL-3.0-or-later
// Statements on 作息表, the weekly timetable.
#include "store/conn.h"
#include "store/statement.h"

#include "store/transaction.h"

#include <QSqlQuery>

namespace {

const QString kEvents = QStringLiteral("作息表");
const QString kEventColumns = ColumnList(kEvents);

EventRow ReadEvent(const QSqlQuery& q) {
    EventRow r;
    r.id = q.value(0).toLongLong();
    r.weekName = ColumnText(q, 1);
    r.event = ColumnText(q, 2);
    r.startTime = ColumnText(q, 3);
    r.musicFile = ColumnText(q, 4);
    r.musicLength = ColumnText(q, 5);
    r.playFlag = ColumnText(q, 6);
    r.replace = ColumnText(q, 7);
    r.zones = ColumnText(q, 8);
    return r;
}

} // namespace

bool Conn::TodayEvents(const QString& weekName, const QString& after, QVector<EventRow>* rows,
                       QString* error) {
    return Select(QStringLiteral("SELECT %1 FROM 作息表 WHERE 是否播放='√' AND 星期名=? AND "
                                 "开始时间>? ORDER BY 开始时间, id")
                      .arg(kEventColumns),
                  {weekName, after}, rows, ReadEvent, error);
}

bool Conn::DayEvents(const QString& weekName, QVector<EventRow>* rows, QString* error) {
    return Select(QStringLiteral("SELECT %1 FROM 作息表 WHERE 是否播放='√' AND 星期名=? "
                                 "ORDER BY 开始时间, id")
                      .arg(kEventColumns),
                  {weekName}, rows, ReadEvent, error);
}

bool Conn::AddEvent(const EventRow& r, qint64* id, QString* error) {
    return Insert(InsertSql(kEvents),
                  {NotNull(r.weekName), NotNull(r.event), NotNull(r.startTime),
                   NotNull(r.musicFile), NotNull(r.musicLength), NotNull(r.playFlag),
                   NotNull(r.replace), NotNull(r.zones)},
                  id, error);
}

bool Conn::DeleteLibraryEvents(const QString& library, QString* error) {
    return Exec(QStringLiteral("DELETE FROM 作息表 WHERE 事件=?"), {library}, error);
}

bool Conn::ClearVanishedReplace(const QString& name, QString* error) {
    return Exec(QStringLiteral("UPDATE 作息表 SET 替代音乐='' WHERE 替代音乐=? AND NOT EXISTS "
                               "(SELECT 1 FROM 替代音乐 WHERE 替代名称=?)"),
                {name, name}, error);
}

bool Conn::AllEvents(QVector<EventRow>* rows, QString* error) {
    return Select(QStringLiteral("SELECT %1 FROM 作息表 ORDER BY id").arg(kEventColumns), {}, rows,
                  ReadEvent, error);
}

bool Conn::EventById(qint64 id, EventRow* row, QString* error) {
    QVector<EventRow> rows;
    if (!Select(QStringLiteral("SELECT %1 FROM 作息表 WHERE id=?").arg(kEventColumns), {id}, &rows,
                ReadEvent, error)) {
        return false;
    }
    if (rows.isEmpty()) {
        return Failed(error, QStringLiteral("该播放事件已不存在（编号 %1），可能已被删除").arg(id));
    }
    *row = rows.first();
    return true;
}

bool Conn::UpdateEvent(const EventRow& r, QString* error, const EventRow* before) {
    QString sql = UpdateSql(kEvents);
    QVariantList values = {NotNull(r.weekName),  NotNull(r.event),       NotNull(r.startTime),
                           NotNull(r.musicFile), NotNull(r.musicLength), NotNull(r.playFlag),
                           NotNull(r.replace),   NotNull(r.zones),       r.id};
    if (before) {
        // Only while it still holds what the editor read (NULL matching NULL).
        for (const QString& c : WrittenColumns(Table(kEvents))) {
            sql += QStringLiteral(" AND %1 IS NOT DISTINCT FROM ?").arg(c);
        }
        for (const QString* v :
             {&before->weekName, &before->event, &before->startTime, &before->musicFile,
              &before->musicLength, &before->playFlag, &before->replace, &before->zones}) {
            values << (v->isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(*v));
        }
    }
    QSqlQuery q;
    if (!Run(&q, sql, values, error)) {
        return false;
    }
    if (q.numRowsAffected() >= 1) {
        return true;
    }
    EventRow now;
    if (before && EventById(r.id, &now)) {
        return Failed(error, QStringLiteral("该播放事件（编号 %1）在打开之后已被别处修改，没有覆盖"
                                            "它；请重新打开再改")
                                 .arg(r.id));
    }
    return Failed(error, QStringLiteral("该播放事件已不存在（编号 %1），可能已被删除").arg(r.id));
}

bool Conn::CopyDay(const QString& weekName, const QStringList& targets, QString* error) {
    if (targets.contains(weekName)) {
        return Failed(error, QStringLiteral("不能把%1复制到它自己").arg(weekName));
    }
    QStringList days = targets;
    days.removeDuplicates(); // a day named twice would get every row twice
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    for (const QString& target : days) {
        if (!Exec(QStringLiteral("DELETE FROM 作息表 WHERE 星期名 = ?"), {target}, error)) {
            return false;
        }
    }
    // Every column of weekName's rows but the id, under the target's name.
    const QStringList columns = WrittenColumns(Table(kEvents));
    QStringList values = columns;
    values[columns.indexOf(QStringLiteral("星期名"))] = QStringLiteral("?");
    const QString copy =
        QStringLiteral("INSERT INTO 作息表 (%1) SELECT %2 FROM 作息表 WHERE 星期名 = "
                       "? ORDER BY 开始时间, id")
            .arg(columns.join(", "), values.join(", "));
    for (const QString& target : days) {
        if (!Exec(copy, {target, weekName}, error)) {
            return false;
        }
    }
    return tx.Commit(error);
}
