// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/failed.h"
#include "store/rows.h"
#include "store/tables.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>

class QDateTime;
class QSqlDatabase;
class QSqlQuery;
enum class SqlDialect;

// What a settings grid reads of a grid query's result (store/grids.cpp): the columns it shows,
// in table order (the titles of an empty grid), a row's id (0 for none) and a week grid's row
// as the event it is.
QStringList GridColumns(const GridQuery& query);
qint64 GridRowId(const GridData& data, int row);
EventRow GridEvent(const GridData& data, int row);
// What a row of query's grid is called in a question: an event's name, a song's file name, a
// replacement's name.
QString GridRowName(const GridQuery& query, const GridData& data, int row);
// The column of a week grid that holds the zone code; -1 in other grids.
int GridZoneColumn(const GridData& data);

// The migration steps of this program, oldest first. Version 1 is the original four tables.
const QVector<Migration>& SchemaMigrations();

// Runs every step of steps above version from on db, each in its own transaction that also
// writes its version: the local file and the central timetable are upgraded the same way.
bool UpgradeSchema(QSqlDatabase& db, int from, const QVector<Migration>& steps, QString* error);

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

    // A store on the Qt SQL connection `connectionName` to one site of the central PostgreSQL
    // timetable, open and with the site's views (central/ makes it: OpenCentralSite): every
    // statement of this class then reads and changes that site's rows alone. readOnlyReason:
    // why its session may not change the site, or empty.
    static std::unique_ptr<Conn> OnCentralSite(const QString& connectionName,
                                               const QString& central, int version,
                                               const QString& site, const QString& readOnlyReason);
    // The site a central store works on; empty for the local file.
    const QString& Site() const { return site_; }
    // Why this session may not change its central site (its role may only read it); empty
    // when it may, and for a computer's own store.
    const QString& ReadOnlyReason() const { return readOnlyReason_; }
    // The latest changes of the central site, newest first (none for a computer's own store).
    static constexpr int kChangeRecordsShown = 200;
    bool ChangeRecords(QVector<ChangeRecordRow>* rows, QString* error = nullptr);

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
    // The name of the Qt SQL connection to the file, for tests that look at it with
    // statements of their own (QSqlDatabase::database(name)).
    const QString& ConnectionName() const { return connectionName_; }

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
    // longer exists, so a change made to a deleted event is never reported as saved. With
    // before (the row as the editor read it), it also fails when the row has been changed
    // since: the later of two overlapping edits never silently undoes the earlier.
    bool UpdateEvent(const EventRow& row, QString* error = nullptr,
                     const EventRow* before = nullptr);
    // Makes each target weekday a copy of weekName: the targets' events are deleted and every
    // row of weekName (switched-off and break-music events too) is inserted under each target's
    // name, all in one transaction, so a failure leaves every target as it was. A target equal
    // to weekName is refused.
    bool CopyDay(const QString& weekName, const QStringList& targets, QString* error = nullptr);

    // --- the settings grids, by their named queries (store/grids.cpp)
    bool GridRows(const GridQuery& query, GridData* data, QString* error = nullptr);
    // Deletes the rows with these ids from the table the grid shows in one transaction: all
    // of them or, on failure, none.
    bool DeleteRows(const GridQuery& grid, const QVector<qint64>& ids, QString* error = nullptr);

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

    // --- a following computer's copy of its central site (store/site_copy.cpp)
    // Makes these columns of table hold exactly rows (as SelectRowsSql reads them, the key
    // first), writing only the rows that differ; a one-row table's row takes the values.
    // *changes counts the rows that differed (by key: an edited row once). Inside a
    // Transaction, with the rest of a copy.
    bool MatchRows(const TableDecl& table, const QStringList& columns,
                   const QVector<QVector<QVariant>>& rows, int* changes, QString* error = nullptr);
    // The central timetable and site this computer follows, remembered across runs; both
    // empty when it keeps its own timetable. Empty texts stop following.
    bool FollowedSite(QString* central, QString* site, QString* error = nullptr);
    bool SetFollowedSite(const QString& central, const QString& site, QString* error = nullptr);
    // When the last copy was made (invalid when none was).
    bool LastCentralCopy(QDateTime* when, QString* error = nullptr);
    bool SetLastCentralCopy(const QDateTime& when, QString* error = nullptr);

    // --- 区域设置: where each play zone sounds (store/zones.cpp)
    // The kZoneCount zones in order; a zone never stored reads as its defaults.
    bool Zones(QVector<ZoneRow>* rows, QString* error = nullptr);
    // Stores the zones in one transaction, all or none. A zone number outside 1 … kZoneCount,
    // or a channel beyond the output's channels, is refused before anything is written.
    bool SetZones(const QVector<ZoneRow>& rows, QString* error = nullptr);
    // SetZones inside a transaction already open, channel settings written as given (a
    // site's, which the schedule then plays on the whole output and reports): only a zone
    // number is checked.
    bool WriteZonesAsGiven(const QVector<ZoneRow>& rows, QString* error = nullptr);

    // --- 播放记录: what became of each event, kept for the records window (store/records.cpp)
    bool AddPlayRecord(const PlayRecordRow& row, qint64* id = nullptr, QString* error = nullptr);
    // The record, and in the same transaction its copy queued in 待发送记录 for site of the
    // central timetable: a record is never kept without its copy to send, or the other way.
    bool AddPlayRecordToSend(const PlayRecordRow& row, const QString& site,
                             QString* error = nullptr);
    // Up to limit queued records, oldest first: those the server has not refused, or only
    // those it has.
    bool QueuedRecords(int limit, bool refused, QVector<QueuedRecordRow>* rows,
                       QString* error = nullptr);
    // Removes sent records from the queue, in one transaction.
    bool DropQueuedRecords(const QVector<qint64>& ids, QString* error = nullptr);
    // Keeps a queued record with the server's reason for refusing it.
    bool RefuseQueuedRecord(qint64 id, const QString& reason, QString* error = nullptr);
    // The records of one date "yyyy-MM-dd", in time order.
    bool PlayRecordsOn(const QString& date, QVector<PlayRecordRow>* rows, QString* error = nullptr);
    // The dates that have records, oldest first.
    bool PlayRecordDates(QStringList* dates, QString* error = nullptr);
    // Deletes the records more than keepDays days older than today; *removed (when given)
    // says how many went.
    bool PrunePlayRecords(const QDate& today, int keepDays, int* removed = nullptr,
                          QString* error = nullptr);

private:
    friend class Transaction; // counts itself in transactions_
    Conn(const QSqlDatabase& db, QString path, bool created, int version);
    QSqlDatabase Database() const;
    // Prepares sql into q, binds values in order and runs it; false (with the reason) on failure.
    bool Run(QSqlQuery* q, const QString& sql, const QVariantList& values, QString* error);
    bool Exec(const QString& sql, const QVariantList& values, QString* error);
    // Keeps value under name in 记忆, replacing what was there.
    bool Remember(const QString& name, const QString& value, QString* error);
    bool Insert(const QString& sql, const QVariantList& values, qint64* id, QString* error);
    // Runs a SELECT and hands every result row to read (defined in store/statement.h).
    template <typename Row, typename Read>
    bool Select(const QString& sql, const QVariantList& values, QVector<Row>* rows, Read read,
                QString* error);

    // SetZones inside a transaction already open: the rows are checked, then written. asGiven:
    // channel settings that cannot be used are written as they are (a site's, which the
    // schedule then plays on the whole output and reports), only a zone number is checked.
    bool WriteZones(const QVector<ZoneRow>& rows, QString* error, bool asGiven = false);

    // Notes which write-ahead log the connection uses, to tell when another program deleted it.
    void NoteLog();

    QString connectionName_;
    QString path_;
    quint64 logInode_ = 0;
    int transactions_ = 0; // open Transaction objects: no reopening under them
    bool created_ = false;
    int version_ = 1;
    SqlDialect dialect_{};
    QString site_;
    QString readOnlyReason_;
};
