// Statements on 课间音乐, the break-music library songs.
#include "store/conn.h"

#include <QSqlQuery>

namespace {

SongRow ReadSong(const QSqlQuery& q) {
    return {q.value(0).toLongLong(), ColumnText(q, 1), ColumnText(q, 2), ColumnText(q, 3)};
}

} // namespace

bool Conn::LibrarySongs(const QString& library, QVector<SongRow>* rows, QString* error) {
    return Select(QStringLiteral("SELECT id, 组名, 音乐文件, 音乐总长 FROM 课间音乐 WHERE 组名=? "
                                 "ORDER BY id"),
                  {library}, rows, ReadSong, error);
}

bool Conn::AddSong(const QString& group, const QString& file, const QString& length, qint64* id,
                   QString* error) {
    return Insert(
        QStringLiteral("INSERT INTO 课间音乐 (组名, 音乐文件, 音乐总长) VALUES (?, ?, ?)"),
        {NotNull(group), NotNull(file), NotNull(length)}, id, error);
}
