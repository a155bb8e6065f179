// SPDX-License-Identifier: GPL-3.0-or-later
// Statements on config, the one row of options.
#include "core/time_text.h"
#include "store/conn.h"
#include "store/split_list.h"
#include "store/statement.h"
#include "store/transaction.h"

#include <QSqlQuery>

namespace {

bool Flag(const QVariant& v, bool whenNull) {
    if (v.isNull()) {
        return whenNull;
    }
    // Stored as 0/1; a text "True"/"False" from an imported file reads the same way.
    const QString s = v.toString().trimmed().toLower();
    if (s == QLatin1String("true")) {
        return true;
    }
    if (s == QLatin1String("false") || s.isEmpty()) {
        return false;
    }
    return v.toLongLong() != 0;
}

ConfigRow ReadConfigRow(const QSqlQuery& q) {
    ConfigRow r;
    bool ok = false;
    const int order = q.value(0).toInt(&ok);
    r.playOrder = PlayOrderFromStored(ok ? order : 0);
    r.libraryList = ColumnText(q, 1);
    r.shutDownTime = q.value(2).isNull() ? kNoShutdownTime : q.value(2).toString();
    r.rememberRain = Flag(q.value(3), false);
    r.rainMode = Flag(q.value(4), false);
    r.minToTray = Flag(q.value(5), false);
    r.showClock = Flag(q.value(6), true);
    r.startWithSystem = Flag(q.value(7), false);
    return r;
}

const QString kNoConfigRow = QStringLiteral("表 config 中没有设置记录");

} // namespace

bool Conn::ReadConfig(ConfigRow* row, QString* error) {
    QVector<ConfigRow> rows;
    if (!Select(QStringLiteral("SELECT %1 FROM config LIMIT 1")
                    .arg(ColumnList(QStringLiteral("config"))),
                {}, &rows, ReadConfigRow, error)) {
        return false;
    }
    if (rows.isEmpty()) {
        return Failed(error, kNoConfigRow);
    }
    *row = rows.first();
    return true;
}

bool Conn::ReadLibraryList(QString* text, QString* error) {
    QVector<QString> rows;
    if (!Select(
            QStringLiteral("SELECT 课间音乐 FROM config LIMIT 1"), {}, &rows,
            [](const QSqlQuery& q) { return ColumnText(q, 0); }, error)) {
        return false;
    }
    if (rows.isEmpty()) {
        return Failed(error, kNoConfigRow);
    }
    *text = rows.first();
    return true;
}

bool Conn::SetShowClock(bool showClock, QString* error) {
    return Exec(QStringLiteral("UPDATE config SET 倒计时=?"), {showClock ? 1 : 0}, error);
}

bool Conn::SetRainMode(bool rain, QString* error) {
    return Exec(QStringLiteral("UPDATE config SET 替代音乐=?"), {rain ? 1 : 0}, error);
}

bool Conn::SetLibraryList(const QString& text, QString* error) {
    return Exec(QStringLiteral("UPDATE config SET 课间音乐=?"), {NotNull(text)}, error);
}

bool Conn::CreateLibrary(const QString& library, QString* error) {
    if (library.contains(QLatin1Char('|'))) {
        return Failed(error, QStringLiteral("曲库名不能含有“|”"));
    }
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    QString list;
    if (!ReadLibraryList(&list, error)) {
        return false;
    }
    QStringList names = SplitList(list);
    if (names.contains(library)) {
        return Failed(error, QStringLiteral("该曲库名已经有了"));
    }
    names << library;
    return SetLibraryList(names.join(QLatin1Char('|')), error) && tx.Commit(error);
}

bool Conn::DeleteLibrary(const QString& library, QString* error) {
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    QString list;
    if (!DeleteLibraryEvents(library, error) || !DeleteLibrarySongs(library, error) ||
        !ReadLibraryList(&list, error)) {
        return false;
    }
    QStringList names = SplitList(list);
    names.removeAll(library);
    return SetLibraryList(names.join(QLatin1Char('|')), error) && tx.Commit(error);
}

bool Conn::WriteOptions(const ConfigRow& row, QString* error) {
    QSqlQuery q;
    if (!Run(&q,
             QStringLiteral("UPDATE config SET 播放顺序=?, 记住替代音乐=?, 开机启动=?, 最小化=?, "
                            "关机时间=?"),
             {static_cast<int>(row.playOrder), row.rememberRain ? 1 : 0,
              row.startWithSystem ? 1 : 0, row.minToTray ? 1 : 0, NotNull(row.shutDownTime)},
             error)) {
        return false;
    }
    // Without its row nothing was stored, which must not pass for success.
    return q.numRowsAffected() > 0 || Failed(error, kNoConfigRow);
}

bool Conn::LastFolder(QString* folder, QString* error) {
    QVector<QString> rows;
    if (!Select(
            QStringLiteral("SELECT coalesce(值, '') FROM 记忆 WHERE 名称='上次目录'"), {}, &rows,
            [](const QSqlQuery& q) { return q.value(0).toString(); }, error)) {
        return false;
    }
    *folder = rows.value(0);
    return true;
}

bool Conn::Remember(const QString& name, const QString& value, QString* error) {
    return Exec(QStringLiteral("INSERT INTO 记忆 (名称, 值) VALUES (?, ?) ON CONFLICT (名称) DO "
                               "UPDATE SET 值=excluded.值"),
                {name, value}, error);
}

bool Conn::SetLastFolder(const QString& folder, QString* error) {
    return Remember(QStringLiteral("上次目录"), folder, error);
}
