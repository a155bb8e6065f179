// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/enums.h"
#include "core/time_text.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// The 是否播放 text of an event that plays; any other text switches it off.
inline const QString kPlayFlag = QStringLiteral("√");

// One line of today's record (table 播放记录): what became of one event at its second.
struct PlayRecordRow {
    qint64 id = 0;
    QString date;                             // 日期 "yyyy-MM-dd"
    QString time;                             // 时间: the event's "hh:mm:ss"
    QString event;                            // 事件
    QString file;                             // 音乐文件: what played, or was to play
    PlayOutcome outcome = PlayOutcome::Fired; // 结果
    int lateMs = -1; // 延迟毫秒: first sample behind the second; -1: unknown
    QString reason;  // 原因: why it was skipped, missed or failed
};

// A play record waiting in 待发送记录 to be sent to a site of the central timetable.
struct QueuedRecordRow {
    qint64 id = 0; // the queue's row, not the record's
    QString site;
    PlayRecordRow record;
    QString refusal; // why the server refused it, when it did; else empty
};

// One play event of the weekly timetable (table 作息表). Text fields keep SQL Null as a
// null QString so the schedule can tell a missing value from an empty one.
struct EventRow {
    qint64 id = 0;
    QString weekName;    // 星期名
    QString event;       // 事件
    QString startTime;   // 开始时间 "hh:mm:ss"
    QString musicFile;   // 音乐文件, or the break-music pseudo file
    QString musicLength; // 音乐总长
    QString playFlag;    // 是否播放: "√" plays
    QString replace;     // 替代音乐: a replacement name or empty
    QString zones;       // 播放区域
};

// The single config row, with the defaults a Null value stands for.
struct ConfigRow {
    ::PlayOrder playOrder = ::PlayOrder::Sequential; // 播放顺序
    QString libraryList;                             // 课间音乐, "" when Null
    QString shutDownTime = kNoShutdownTime;          // 关机时间
    bool rememberRain = false;                       // 记住替代音乐
    bool rainMode = false;                           // 替代音乐
    bool minToTray = false;                          // 最小化
    bool showClock = true;                           // 倒计时
    bool startWithSystem = false;                    // 开机启动
};

// One rain-day replacement (table 替代音乐).
struct ReplaceRow {
    qint64 id = 0;
    QString name;   // 替代名称
    QString file;   // 音乐文件
    QString length; // 音乐总长
};

// One break-music song (table 课间音乐).
struct SongRow {
    qint64 id = 0;
    QString group;  // 组名
    QString file;   // 音乐文件
    QString length; // 音乐总长
};

// One special day (table 特殊日期): a date on which the weekly timetable does not run as
// usual. kind is kNoBellsKind, or the weekday name ("星期一" … "星期日") whose timetable the
// date runs instead of its own.
struct SpecialDayRow {
    qint64 id = 0;
    QString date; // 日期 "yyyy-MM-dd"
    QString kind; // 类型
    QString note; // 备注
    bool operator==(const SpecialDayRow&) const = default;
};

// The kind of a day with no bells at all.
inline const QString kNoBellsKind = QStringLiteral("无铃声");

// The play zones, in the order of their characters in a zone code (播放区域).
inline constexpr int kZoneCount = 6;
// The most channels of an output a zone can pick one from (GStreamer's channel mixing stops
// short of 64).
inline constexpr int kMaxZoneChannels = 32;
// The output name of a zone that plays to the default output.
inline const QString kDefaultOutputName = QStringLiteral("默认输出");
inline const QStringList& DefaultZoneNames() {
    static const QStringList names = {QStringLiteral("教学楼一"), QStringLiteral("教学楼二"),
                                      QStringLiteral("教学楼三"), QStringLiteral("寝室楼一"),
                                      QStringLiteral("寝室楼二"), QStringLiteral("操场")};
    return names;
}

// Where one play zone sounds (table 区域设置). A zone never configured reads as its default
// name on the default output, with no command.
struct ZoneRow {
    int zone = 0;       // 序号: 1 … kZoneCount, its character in a zone code
    QString name;       // 名称
    QString sink;       // 输出: a sink in gst-launch syntax; "" the default output
    QString outputName; // 输出名称: the output as its list showed it
    int channels = 0;   // 声道数: the channels of the output, with channel
    int channel = 0;    // 声道: the one channel (1-based) that feeds the zone; 0: all
    QString command;    // 切换命令: run with the zone code before a sound and after it
    bool operator==(const ZoneRow&) const = default;
    // A following computer's zone whose site names an output this computer does not have:
    // it plays to the default output.
    bool OutputMissing() const {
        return sink.isEmpty() && !outputName.isEmpty() && outputName != kDefaultOutputName;
    }
    // Whether channel and channels make sense: a zone on one channel of an output of at most
    // kMaxZoneChannels, or on all of it. Others (from another tool, a central row) play on
    // the whole output.
    bool ChannelsUsable() const {
        return channels >= 0 && channels <= kMaxZoneChannels && channel >= 0 && channel <= channels;
    }
};

// The settings grids the store fills. A window names the rows it shows; the store knows
// their table, filter and order, so no window names a table or column and no text a user
// typed ever becomes part of a statement.
enum class GridKind {
    None,         // no query yet
    WeekDay,      // one weekday's events, by start time
    LibrarySongs, // one break-music library's songs
    AllSongs,     // the songs of every library
    Replacements, // the rain-day replacements
};

struct GridQuery {
    GridKind kind = GridKind::None;
    QString key; // the weekday of WeekDay, the library of LibrarySongs

    static GridQuery WeekDay(const QString& weekName) { return {GridKind::WeekDay, weekName}; }
    static GridQuery LibrarySongs(const QString& library) {
        return {GridKind::LibrarySongs, library};
    }
    static GridQuery AllSongs() { return {GridKind::AllSongs, {}}; }
    static GridQuery Replacements() { return {GridKind::Replacements, {}}; }
    bool IsEmpty() const { return kind == GridKind::None; }
    bool operator==(const GridQuery&) const = default;
};

// The result of a grid query: every column of the table in table order, and the rows.
struct GridData {
    QStringList columns;
    QVector<QVector<QVariant>> rows;
};

// One change of a central site's rows, as the central timetable recorded it (修改记录).
struct ChangeRecordRow {
    QDateTime when; // 时间
    QString user;   // 用户: the login role that made it
    QString table;  // 表
    QString op;     // 操作: INSERT, UPDATE or DELETE
    QString oldRow; // 旧值, JSON; empty for an insert
    QString newRow; // 新值, JSON; empty for a delete
};

// What a change did, in a line a person reads: the row's columns for an insert or a delete,
// the columns that changed ("开始时间 08:00:00 → 08:05:00") for an update.
QString ChangeSummary(const ChangeRecordRow& change);

// One migration step: brings a store of version `to - 1` to version `to`. Each runs once, in
// a transaction, when a file of an older version is opened.
struct Migration {
    int to;
    QStringList statements;
};
