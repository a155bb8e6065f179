#pragma once

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

// The program's one connection to its SQLite store and every statement run against it.
// Windows never build SQL of their own; every value is a bound parameter.
class Conn {
public:
    ~Conn();
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;

    // Opens the store at path. A missing file is created with the four tables and the
    // default config row, and so is a 0-byte file (it holds no data); any other existing
    // file is checked and never recreated. On failure
    // returns null and sets *error to a message naming the file and the reason.
    static std::unique_ptr<Conn> Open(const QString& path, QString* error);
    // Whether Open wrote a new empty store: the file did not exist, or was 0 bytes long.
    bool CreatedNew() const { return createdNew_; }

    // The default location: the application data folder + "/Music.db".
    static QString DefaultPath();

    const QString& Path() const { return path_; }
    // Closes the connection at the program's end; statements after it fail.
    void Close();
    bool IsOpen() const;
    QSqlDatabase Database() const;
    // The reason the last statement failed, for messages and the log.
    const QString& LastError() const { return lastError_; }

    // Today's remaining events: flagged "√", of the weekday, starting strictly later than
    // after, in start-time order.
    QVector<EventRow> TodayEvents(const QString& weekName, const QString& after);

    bool ReadConfig(ConfigRow* row);
    bool ReadLibraryList(QString* text);
    QVector<ReplaceRow> ReplaceRows(bool* ok = nullptr);
    QVector<SongRow> LibrarySongs(const QString& library, bool* ok = nullptr);

    bool SetShowClock(bool showClock);
    bool SetRainMode(bool rain);
    bool SetLibraryList(const QString& text);

    // Returns the id the store assigned, or -1 on failure.
    qint64 AddEvent(const EventRow& row);
    qint64 AddSong(const QString& group, const QString& file, const QString& length);
    qint64 AddReplace(const QString& name, const QString& file, const QString& length);

private:
    Conn(QSqlDatabase db, QString path);
    static bool CreateSchema(QSqlDatabase& db, QString* reason);
    static bool CheckSchema(QSqlDatabase& db, QString* reason);
    // Prepares sql into q, binds values in order and runs it; false (with LastError) on failure.
    bool Run(QSqlQuery& q, const QString& sql, const QVariantList& values);
    bool Exec(const QString& sql, const QVariantList& values);
    QVector<EventRow> Events(const QString& where, const QVariantList& values);
    qint64 Insert(const QString& sql, const QVariantList& values);

    QString connectionName_;
    QString path_;
    QString lastError_;
    bool createdNew_ = false;
};
