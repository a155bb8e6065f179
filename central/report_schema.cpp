// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/report_schema.h"

namespace {

// A follower's row: its own account, one of its sites.
const QString kOwnRow = QStringLiteral(
    "(账户 = current_user AND EXISTS (SELECT 1 FROM public.站点权限 p WHERE p.角色 = "
    "current_user AND p.站点 = %1.站点))");

// Who reads which rows: a computer its own (an upsert must see the row it replaces), an
// editor those of its sites, the administrator all.
const QString kReader = QStringLiteral(
    "(账户 = current_user OR pg_has_role('belvoran_admin', 'MEMBER') OR "
    "(pg_has_role('belvoran_editor', 'MEMBER') AND EXISTS (SELECT 1 FROM public.站点权限 p "
    "WHERE p.角色 = current_user AND p.站点 = %1.站点)))");

const QString kAdmin = QStringLiteral("(pg_has_role('belvoran_admin', 'MEMBER'))");

// Row-level security of a table a follower writes its own rows to.
QStringList Policies(const QString& table, bool updated) {
    QStringList sql = {
        QStringLiteral("ALTER TABLE %1 ENABLE ROW LEVEL SECURITY").arg(table),
        QStringLiteral("CREATE POLICY 读 ON %1 FOR SELECT USING %2").arg(table, kReader.arg(table)),
        QStringLiteral("CREATE POLICY 报 ON %1 FOR INSERT WITH CHECK %2")
            .arg(table, kOwnRow.arg(table)),
        QStringLiteral("CREATE POLICY 清理 ON %1 FOR DELETE USING %2").arg(table, kAdmin)};
    if (updated) {
        sql << QStringLiteral("CREATE POLICY 改 ON %1 FOR UPDATE USING (账户 = current_user) "
                              "WITH CHECK %2")
                   .arg(table, kOwnRow.arg(table));
    }
    return sql;
}

} // namespace

QStringList ReportTables() {
    QStringList sql = {
        QStringLiteral(
            "CREATE TABLE 播放报告 (id BIGSERIAL PRIMARY KEY, 账户 TEXT NOT NULL DEFAULT "
            "current_user, 站点 TEXT NOT NULL, 计算机 TEXT NOT NULL, 日期 DATE NOT NULL, 时间 "
            "TEXT NOT NULL, 事件 TEXT NOT NULL, 结果 TEXT NOT NULL, 迟到毫秒 INTEGER, 原因 TEXT "
            "NOT NULL DEFAULT '', 文件 TEXT NOT NULL DEFAULT '', 收到 TIMESTAMPTZ NOT NULL "
            "DEFAULT now(), UNIQUE (账户, 日期, 时间, 事件))"),
        QStringLiteral("CREATE INDEX ON 播放报告 (日期, 站点)"),
        QStringLiteral(
            "CREATE TABLE 计算机状态 (账户 TEXT PRIMARY KEY DEFAULT current_user, 站点 TEXT NOT "
            "NULL, 计算机 TEXT NOT NULL, 版本 TEXT NOT NULL, 下一铃 TEXT NOT NULL DEFAULT '', "
            "首铃 TEXT, 末铃 TEXT, 中断 TEXT NOT NULL DEFAULT '', 问题 TEXT NOT NULL DEFAULT '', "
            "时钟同步 BOOLEAN, 时钟偏差毫秒 INTEGER, 心跳 TIMESTAMPTZ NOT NULL DEFAULT now())")};
    sql << Policies(QStringLiteral("播放报告"), false)
        << Policies(QStringLiteral("计算机状态"), true)
        // The server's times (收到, 心跳) are the server's own: a computer writes the rest.
        << QStringLiteral("GRANT SELECT, INSERT (账户, 站点, 计算机, 日期, 时间, 事件, 结果, "
                          "迟到毫秒, 原因, 文件) ON 播放报告 TO belvoran_follower")
        << QStringLiteral("GRANT USAGE ON SEQUENCE 播放报告_id_seq TO belvoran_follower")
        << QStringLiteral("GRANT SELECT, INSERT (账户, 站点, 计算机, 版本, 下一铃, 首铃, 末铃, "
                          "中断, 问题, 时钟同步, 时钟偏差毫秒), UPDATE (站点, 计算机, 版本, "
                          "下一铃, 首铃, 末铃, 中断, 问题, 时钟同步, 时钟偏差毫秒, 心跳) ON "
                          "计算机状态 TO belvoran_follower")
        << QStringLiteral("GRANT SELECT ON 播放报告, 计算机状态 TO belvoran_editor")
        << QStringLiteral("GRANT SELECT, DELETE ON 播放报告, 计算机状态 TO belvoran_admin");
    return sql;
}
