// SPDX-License-Identifier: GPL-3.0-or-later
// Statements on 课间音乐, the break-music library songs.
#include "store/conn.h"
#include "store/statement.h"
#include "store/transaction.h"

#include <QSqlQuery>

namespace {

const QString kSongs = QStringLiteral("课间音乐");

SongRow ReadSong(const QSqlQuery& q) {
    return {q.value(0).toLongLong(), ColumnText(q, 1), ColumnText(q, 2), ColumnText(q, 3)};
}

} // namespace

bool Conn::LibrarySongs(const QString& library, QVector<SongRow>* rows, QString* error) {
    return Select(
        QStringLiteral("SELECT %1 FROM 课间音乐 WHERE 组名=? ORDER BY id").arg(ColumnList(kSongs)),
        {library}, rows, ReadSong, error);
}

bool Conn::AddSong(const QString& group, const QString& file, const QString& length, qint64* id,
                   QString* error) {
    return Insert(InsertSql(kSongs), {NotNull(group), NotNull(file), NotNull(length)}, id, error);
}

bool Conn::AddSongs(const QString& group, const QVector<SongRow>& songs, QString* error) {
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    qint64 id = 0;
    for (const SongRow& s : songs) {
        if (!AddSong(group, s.file, s.length, &id, error)) {
            return false;
        }
    }
    return tx.Commit(error);
}

bool Conn::DeleteLibrarySongs(const QString& library, QString* error) {
    return Exec(QStringLiteral("DELETE FROM 课间音乐 WHERE 组名=?"), {library}, error);
}

bool Conn::AllSongs(QVector<SongRow>* rows, QString* error) {
    return Select(QStringLiteral("SELECT %1 FROM 课间音乐 ORDER BY id").arg(ColumnList(kSongs)), {},
                  rows, ReadSong, error);
}
