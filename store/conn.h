#pragma once

#include "store/rows.h"

#include <QDate>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>

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
    int playOrder = 0;                                 // 播放顺序
    QString libraryList;                               // 课间音乐, "" when Null
    QString shutDownTime = QStringLiteral("00:00:00"); // 关机时间
    bool rememberRain = false;                         // 记住替代音乐
    bool rainMode = false;                             // 替代音乐
    bool minToTray = false;                            // 最小化
    bool showClock = true;                             // 倒计时
    bool startWithSystem = false;                      // 开机启动
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

// What a settings grid shows: the rows of one of the program's tables, optionally only those
// whose filterColumn equals filterValue, ordered by orderBy and then by id. Windows describe
// their grids this way; the store checks the names against the tables' own columns and binds
// the value, so no text a user typed ever becomes part of a statement.
struct GridQuery {
    QString table;
    QString filterColumn; // empty: every row of the table
    QString filterValue;
    QString orderBy; // empty: by id alone
    bool IsEmpty() const { return table.isEmpty(); }
    bool operator==(const GridQuery&) const = default;
};

// The result of a grid query: every column of the table in table order, and the rows.
struct GridData {
    QStringList columns;
    QVector<QVector<QVariant>> rows;
};

// The columns of one of the program's tables in table order; empty for any other name.
QStringList TableColumns(const QString& table);

// One migration step: brings a store of version `to - 1` to version `to`. Each runs once, in
// a transaction, when a file of an older version is opened.
struct Migration {
    int to;
    QStringList statements;
};

// The migration steps of this program, oldest first. Version 1 is the original four tables.
const QVector<Migration>& SchemaMigrations();

// The program's one connection to its SQLite store and every statement run against it.
// Windows never build SQL of their own; every value is a bound parameter.
//
// Every statement reports failure the same way: it returns false and writes the reason to
// its trailing `error` (which may be null). Results go through out-parameters.
class Conn {
public:
    ~Conn();
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;

    // Opens the store at path. A missing (or empty) file is created with the current schema
    // and the default config row; an existing file is checked, brought up to the current
    // version by the migration steps, and never recreated. On failure returns null and sets
    // *error to a message naming the file and the reason.
    static std::unique_ptr<Conn> Open(const QString& path, QString* error,
                                      const QVector<Migration>& migrations = SchemaMigrations());

    // The default location: the application data folder + "/Music.db".
    static QString DefaultPath();

    const QString& Path() const { return path_; }
    // True when Open made a new store rather than opening an existing one.
    bool Created() const { return created_; }
    // The schema version the file holds (PRAGMA user_version; 0 counts as 1).
    int SchemaVersion() const { return version_; }
    // Closes the connection at the program's end; statements after it fail.
    void Close();
    bool IsOpen() const;
    QSqlDatabase Database() const;

    // Whether SQLite still holds its locks on the file. They are POSIX record locks, which
    // belong to the process: closing any descriptor of the store's files, as a file dialog
    // that reads the files it lists does, drops them all, and the next program to open the
    // store (sqlite3, say) then deletes the write-ahead log this connection still writes to.
    bool HoldsLocks() const;
    // Run after anything that may have opened the store's files (every file dialog), and by
    // every change before it writes: when the locks are gone, logs it and opens the store
    // again, so that changes go to the file others see, never to a deleted log. False, with
    // the reason, when the store cannot be opened again.
    bool KeepLocks(QString* error = nullptr);

    // --- 作息表: the weekly timetable (store/events.cpp)
    // Today's remaining events: flagged "√", of the weekday, starting strictly later than
    // after, in start-time order.
    bool TodayEvents(const QString& weekName, const QString& after, QVector<EventRow>* rows,
                     QString* error = nullptr);
    // Every event of the weekday flagged "√", whatever its start time holds (Null and
    // malformed ones too, so the schedule can say what it cannot play), in start-time order.
    bool DayEvents(const QString& weekName, QVector<EventRow>* rows, QString* error = nullptr);
    bool AddEvent(const EventRow& row, qint64* id, QString* error = nullptr);
    // Every weekday's events whose 事件 is the library name (they play that library).
    bool DeleteLibraryEvents(const QString& library, QString* error = nullptr);
    // Clears 替代音乐 of every event naming the replacement, unless a replacement row still
    // carries that name.
    bool ClearVanishedReplace(const QString& name, QString* error = nullptr);
    // All events of every weekday in id order (tests and checks).
    bool AllEvents(QVector<EventRow>* rows, QString* error = nullptr);
    // The event with this id into *row; fails, saying so, when no such row exists.
    bool EventById(qint64 id, EventRow* row, QString* error = nullptr);
    // Rewrites every column but id of the event row.id; fails, saying so, when that row no
    // longer exists, so a change made to a deleted event is never reported as saved.
    bool UpdateEvent(const EventRow& row, QString* error = nullptr);
    // Makes each target weekday a copy of weekName: the targets' events are deleted and every
    // row of weekName (switched-off and break-music events too) is inserted under each target's
    // name, all in one transaction, so a failure leaves every target as it was. A target equal
    // to weekName is refused.
    bool CopyDay(const QString& weekName, const QStringList& targets, QString* error = nullptr);

    // --- the settings grids, on any of the tables (store/grids.cpp)
    bool GridRows(const GridQuery& query, GridData* data, QString* error = nullptr);
    // Deletes the rows with these ids from table (作息表, 课间音乐 or 替代音乐) in one
    // transaction: all of them or, on failure, none.
    bool DeleteRows(const QString& table, const QVector<qint64>& ids, QString* error = nullptr);

    // --- config: the one row of options (store/config.cpp)
    bool ReadConfig(ConfigRow* row, QString* error = nullptr);
    bool ReadLibraryList(QString* text, QString* error = nullptr);
    bool SetShowClock(bool showClock, QString* error = nullptr);
    bool SetRainMode(bool rain, QString* error = nullptr);
    bool SetLibraryList(const QString& text, QString* error = nullptr);
    // Appends a library to the "|"-joined list, in one transaction. Fails, writing nothing,
    // for a name already listed or one holding the separator "|".
    bool CreateLibrary(const QString& library, QString* error = nullptr);
    // Deletes a library: its events on every weekday, its songs and its entry in the list,
    // all or nothing.
    bool DeleteLibrary(const QString& library, QString* error = nullptr);
    // The folder of the file last chosen in a file dialog; "" when none was.
    bool LastFolder(QString* folder, QString* error = nullptr);
    bool SetLastFolder(const QString& folder, QString* error = nullptr);
    // Stores the options of the options page from row: 播放顺序, 记住替代音乐, 开机启动, 最小化
    // and 关机时间; the other columns keep their values.
    bool WriteOptions(const ConfigRow& row, QString* error = nullptr);

    // --- 课间音乐: break-music library songs (store/songs.cpp)
    bool LibrarySongs(const QString& library, QVector<SongRow>* rows, QString* error = nullptr);
    bool AddSong(const QString& group, const QString& file, const QString& length, qint64* id,
                 QString* error = nullptr);
    // Adds songs to a library (their group is ignored), all in one transaction.
    bool AddSongs(const QString& group, const QVector<SongRow>& songs, QString* error = nullptr);
    bool DeleteLibrarySongs(const QString& library, QString* error = nullptr);
    // Every song of every library in id order.
    bool AllSongs(QVector<SongRow>* rows, QString* error = nullptr);

    // --- 特殊日期: holidays and make-up days (store/holidays.cpp)
    // Every special day, in date order.
    bool SpecialDays(QVector<SpecialDayRow>* rows, QString* error = nullptr);
    // The special days of one date: none or one.
    bool SpecialDaysOn(const QString& date, QVector<SpecialDayRow>* rows, QString* error = nullptr);
    // Adds the days in one transaction, all of them or, on failure, none. A date already
    // special takes the new kind and note. A date that is not "yyyy-MM-dd" or a kind that is
    // neither kNoBellsKind nor a weekday name is refused before anything is written.
    bool AddSpecialDays(const QVector<SpecialDayRow>& rows, QString* error = nullptr);
    // Deletes the special days with these ids in one transaction.
    bool DeleteSpecialDays(const QVector<qint64>& ids, QString* error = nullptr);

    // --- 替代音乐: rain-day replacements (store/replacements.cpp)
    bool ReplaceRows(QVector<ReplaceRow>* rows, QString* error = nullptr);
    bool AddReplace(const QString& name, const QString& file, const QString& length, qint64* id,
                    QString* error = nullptr);
    // Deletes replacement rows by id and, in the same transaction, clears the replacement of
    // every event naming one that no remaining row carries.
    bool DeleteReplacements(const QVector<qint64>& ids, QString* error = nullptr);

    // --- 播放记录: what became of each event, kept for the records window (store/records.cpp)
    bool AddPlayRecord(const PlayRecordRow& row, qint64* id = nullptr, QString* error = nullptr);
    // The records of one date "yyyy-MM-dd", in time order.
    bool PlayRecordsOn(const QString& date, QVector<PlayRecordRow>* rows, QString* error = nullptr);
    // The dates that have records, oldest first.
    bool PlayRecordDates(QStringList* dates, QString* error = nullptr);
    // Deletes the records more than keepDays days older than today; *removed (when given)
    // says how many went.
    bool PrunePlayRecords(const QDate& today, int keepDays, int* removed = nullptr,
                          QString* error = nullptr);

private:
    friend class Transaction;
    Conn(QSqlDatabase db, QString path, bool created, int version);
    // Prepares sql into q, binds values in order and runs it; false (with the reason) on failure.
    bool Run(QSqlQuery* q, const QString& sql, const QVariantList& values, QString* error);
    bool Exec(const QString& sql, const QVariantList& values, QString* error);
    bool Insert(const QString& sql, const QVariantList& values, qint64* id, QString* error);
    // Runs a SELECT and hands every result row to read.
    template <typename Row, typename Read>
    bool Select(const QString& sql, const QVariantList& values, QVector<Row>* rows, Read read,
                QString* error);

    // Notes which write-ahead log the connection uses, to tell when another program deleted it.
    void NoteLog();

    QString connectionName_;
    QString path_;
    quint64 logInode_ = 0;
    int transactions_ = 0; // open Transaction objects: no reopening under them
    bool created_ = false;
    int version_ = 1;
};

// Reads column i as text, keeping SQL Null as a null QString.
QString ColumnText(const QSqlQuery& q, int i);
// A value to write: the program writes the empty text, never Null.
QVariant NotNull(const QString& s);
// Fills *error (when given) with reason and returns false: the store's one failure path.
bool Failed(QString* error, const QString& reason);

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
