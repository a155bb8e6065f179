#include "store/conn.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QUuid>
#include <QVariant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TableShape {
    QString name;
    QStringList columns;
};

// The four tables with their columns in table order; the settings grids show them as they are.
const QVector<TableShape>& Tables() {
    static const QVector<TableShape> tables = {
        {QStringLiteral("作息表"),
         {"id", "星期名", "事件", "开始时间", "音乐文件", "音乐总长", "是否播放", "替代音乐",
          "播放区域"}},
        {QStringLiteral("config"),
         {"播放顺序", "课间音乐", "关机时间", "记住替代音乐", "替代音乐", "最小化", "倒计时",
          "开机启动"}},
        {QStringLiteral("课间音乐"), {"id", "组名", "音乐文件", "音乐总长"}},
        {QStringLiteral("替代音乐"), {"id", "替代名称", "音乐文件", "音乐总长"}},
    };
    return tables;
}

const char* const kSchema[] = {
    "CREATE TABLE 作息表 (id INTEGER PRIMARY KEY AUTOINCREMENT, 星期名 TEXT, 事件 TEXT, "
    "开始时间 TEXT, 音乐文件 TEXT, 音乐总长 TEXT, 是否播放 TEXT, 替代音乐 TEXT, 播放区域 TEXT)",
    "CREATE INDEX 作息表_星期_时间 ON 作息表 (星期名, 开始时间)",
    "CREATE TABLE config (播放顺序 INTEGER, 课间音乐 TEXT, 关机时间 TEXT, 记住替代音乐 BOOLEAN, "
    "替代音乐 BOOLEAN, 最小化 BOOLEAN, 倒计时 BOOLEAN, 开机启动 BOOLEAN)",
    "CREATE TABLE 课间音乐 (id INTEGER PRIMARY KEY AUTOINCREMENT, 组名 TEXT, 音乐文件 TEXT, "
    "音乐总长 TEXT)",
    "CREATE TABLE 替代音乐 (id INTEGER PRIMARY KEY AUTOINCREMENT, 替代名称 TEXT, 音乐文件 TEXT, "
    "音乐总长 TEXT)",
    "INSERT INTO config (播放顺序, 课间音乐, 关机时间, 记住替代音乐, 替代音乐, 最小化, 倒计时, "
    "开机启动) VALUES (0, '', '00:00:00', 0, 0, 0, 1, 0)",
};

// Values the program writes are never Null: an empty field is the empty text.
QVariant NotNull(const QString& s) {
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

QString Text(const QVariant& v) {
    return v.isNull() ? QString() : v.toString();
}

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

EventRow ReadEvent(const QSqlQuery& q) {
    EventRow r;
    r.id = q.value(0).toLongLong();
    r.weekName = Text(q.value(1));
    r.event = Text(q.value(2));
    r.startTime = Text(q.value(3));
    r.musicFile = Text(q.value(4));
    r.musicLength = Text(q.value(5));
    r.playFlag = Text(q.value(6));
    r.replace = Text(q.value(7));
    r.zones = Text(q.value(8));
    return r;
}

const char kEventColumns[] =
    "id, 星期名, 事件, 开始时间, 音乐文件, 音乐总长, 是否播放, 替代音乐, 播放区域";

} // namespace

Conn::Conn(QSqlDatabase db, QString path)
    : connectionName_(db.connectionName()), path_(std::move(path)) {}

Conn::~Conn() {
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName_, false);
        if (db.isOpen()) {
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connectionName_);
}

QString Conn::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/Music.db");
}

void Conn::Close() {
    QSqlDatabase db = Database();
    if (db.isOpen()) {
        db.close();
    }
}

bool Conn::IsOpen() const {
    return Database().isOpen();
}

QSqlDatabase Conn::Database() const {
    return QSqlDatabase::database(connectionName_, false);
}

std::unique_ptr<Conn> Conn::Open(const QString& path, QString* error) {
    const QString name = QStringLiteral("belvoran-") + QUuid::createUuid().toString();
    auto fail = [&](const QString& reason) {
        QSqlDatabase::removeDatabase(name);
        if (error) {
            *error = QStringLiteral("无法打开数据库 %1：%2").arg(path, reason);
        }
        return std::unique_ptr<Conn>();
    };

    QFileInfo info(path);
    bool created = false;    // the file was made here, and is removed again on failure
    bool initialise = false; // a new store is written into the file
    if (!info.exists()) {
        if (!QDir().mkpath(info.absolutePath())) {
            return fail(QStringLiteral("无法创建文件夹 %1").arg(info.absolutePath()));
        }
        // Created by us with owner-only access: SQLite has no password, the file mode protects it.
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        if (fd < 0) {
            return fail(
                QStringLiteral("无法创建文件（%1）").arg(QString::fromLocal8Bit(strerror(errno))));
        }
        ::close(fd);
        created = true;
        initialise = true;
    } else if (!info.isFile()) {
        return fail(QStringLiteral("这不是一个文件"));
    } else if (!info.isReadable()) {
        return fail(QStringLiteral("没有读取权限"));
    } else if (info.size() == 0 && QFileInfo(path + QStringLiteral("-wal")).size() == 0) {
        // An interrupted first start leaves a 0-byte file. It holds no data: it becomes a new
        // store, owner-only like one made here.
        if (::chmod(QFile::encodeName(path).constData(), 0600) != 0) {
            return fail(QStringLiteral("无法设置文件权限（%1）")
                            .arg(QString::fromLocal8Bit(strerror(errno))));
        }
        initialise = true;
    }

    auto removeCreated = [&] {
        if (created) {
            QFile::remove(path);
            QFile::remove(path + QStringLiteral("-wal"));
            QFile::remove(path + QStringLiteral("-shm"));
        }
    };

    QString reason;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        if (!db.open()) {
            reason = db.lastError().text();
        } else if (initialise) {
            if (!CreateSchema(db, &reason)) {
                db.close();
            }
        } else if (!CheckSchema(db, &reason)) {
            db.close();
        } else {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
                reason = q.lastError().text();
                db.close();
            }
        }
        if (reason.isEmpty()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("PRAGMA foreign_keys=OFF"));
            std::unique_ptr<Conn> conn(new Conn(db, path));
            conn->createdNew_ = initialise;
            return conn;
        }
    }
    removeCreated();
    return fail(reason);
}

bool Conn::CreateSchema(QSqlDatabase& db, QString* reason) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
        *reason = q.lastError().text();
        return false;
    }
    if (!db.transaction()) {
        *reason = db.lastError().text();
        return false;
    }
    for (const char* sql : kSchema) {
        if (!q.exec(QString::fromUtf8(sql))) {
            *reason = q.lastError().text();
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        *reason = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

bool Conn::CheckSchema(QSqlDatabase& db, QString* reason) {
    QSqlQuery q(db);
    // Reading the table list is the first read of the file: a file that is not SQLite, or
    // is locked by another program, fails here, before anything is written.
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"))) {
        *reason = q.lastError().text();
        return false;
    }
    QStringList present;
    while (q.next()) {
        present << q.value(0).toString();
    }
    for (const TableShape& t : Tables()) {
        if (!present.contains(t.name)) {
            *reason = QStringLiteral("这不是 Belvoran 的数据库（缺少表 %1）").arg(t.name);
            return false;
        }
        QSqlRecord rec = db.record(t.name);
        for (const QString& col : t.columns) {
            if (!rec.contains(col)) {
                *reason =
                    QStringLiteral("这不是 Belvoran 的数据库（表 %1 缺少列 %2）").arg(t.name, col);
                return false;
            }
        }
    }
    if (!q.exec(QStringLiteral("SELECT count(*) FROM config")) || !q.next()) {
        *reason = q.lastError().text();
        return false;
    }
    if (q.value(0).toLongLong() < 1) {
        *reason = QStringLiteral("表 config 中没有设置记录");
        return false;
    }
    return true;
}

bool Conn::Run(QSqlQuery& q, const QString& sql, const QVariantList& values) {
    q = QSqlQuery(Database());
    if (!q.prepare(sql)) {
        lastError_ = q.lastError().text();
        return false;
    }
    for (const QVariant& v : values) {
        q.addBindValue(v);
    }
    if (!q.exec()) {
        lastError_ = q.lastError().text();
        return false;
    }
    lastError_.clear();
    return true;
}

bool Conn::Exec(const QString& sql, const QVariantList& values) {
    QSqlQuery q;
    return Run(q, sql, values);
}

qint64 Conn::Insert(const QString& sql, const QVariantList& values) {
    QSqlQuery q;
    return Run(q, sql, values) ? q.lastInsertId().toLongLong() : -1;
}

QVector<EventRow> Conn::Events(const QString& where, const QVariantList& values) {
    QVector<EventRow> rows;
    QSqlQuery q;
    if (Run(q,
            QStringLiteral("SELECT %1 FROM 作息表 WHERE %2 ORDER BY 开始时间, id")
                .arg(QString::fromUtf8(kEventColumns), where),
            values)) {
        while (q.next()) {
            rows << ReadEvent(q);
        }
    }
    return rows;
}

QVector<EventRow> Conn::TodayEvents(const QString& weekName, const QString& after) {
    return Events(QStringLiteral("是否播放='√' AND 星期名=? AND 开始时间>?"), {weekName, after});
}

bool Conn::ReadConfig(ConfigRow* row) {
    QSqlQuery q(Database());
    if (!q.exec(
            QStringLiteral("SELECT 播放顺序, 课间音乐, 关机时间, 记住替代音乐, 替代音乐, 最小化, "
                           "倒计时, 开机启动 FROM config LIMIT 1")) ||
        !q.next()) {
        lastError_ = q.lastError().isValid() ? q.lastError().text()
                                             : QStringLiteral("表 config 中没有设置记录");
        return false;
    }
    lastError_.clear();
    ConfigRow r;
    bool ok = false;
    const int order = q.value(0).toInt(&ok);
    r.playOrder = (q.value(0).isNull() || !ok || order < 0) ? 0 : order;
    r.libraryList = Text(q.value(1));
    r.shutDownTime = q.value(2).isNull() ? QStringLiteral("00:00:00") : q.value(2).toString();
    r.rememberRain = Flag(q.value(3), false);
    r.rainMode = Flag(q.value(4), false);
    r.minToTray = Flag(q.value(5), false);
    r.showClock = Flag(q.value(6), true);
    r.startWithSystem = Flag(q.value(7), false);
    *row = r;
    return true;
}

bool Conn::ReadLibraryList(QString* text) {
    QSqlQuery q(Database());
    if (!q.exec(QStringLiteral("SELECT 课间音乐 FROM config LIMIT 1")) || !q.next()) {
        lastError_ = q.lastError().text();
        return false;
    }
    lastError_.clear();
    *text = Text(q.value(0));
    return true;
}

QVector<ReplaceRow> Conn::ReplaceRows(bool* ok) {
    QVector<ReplaceRow> rows;
    QSqlQuery q;
    const bool done = Run(
        q, QStringLiteral("SELECT id, 替代名称, 音乐文件, 音乐总长 FROM 替代音乐 ORDER BY id"), {});
    while (done && q.next()) {
        rows.push_back(
            {q.value(0).toLongLong(), Text(q.value(1)), Text(q.value(2)), Text(q.value(3))});
    }
    if (ok) {
        *ok = done;
    }
    return rows;
}

QVector<SongRow> Conn::LibrarySongs(const QString& library, bool* ok) {
    QVector<SongRow> rows;
    QSqlQuery q;
    const bool done = Run(q,
                          QStringLiteral("SELECT id, 组名, 音乐文件, 音乐总长 FROM 课间音乐 "
                                         "WHERE 组名=? ORDER BY id"),
                          {library});
    while (done && q.next()) {
        rows.push_back(
            {q.value(0).toLongLong(), Text(q.value(1)), Text(q.value(2)), Text(q.value(3))});
    }
    if (ok) {
        *ok = done;
    }
    return rows;
}

bool Conn::SetShowClock(bool showClock) {
    return Exec(QStringLiteral("UPDATE config SET 倒计时=?"), {showClock ? 1 : 0});
}

bool Conn::SetRainMode(bool rain) {
    return Exec(QStringLiteral("UPDATE config SET 替代音乐=?"), {rain ? 1 : 0});
}

bool Conn::SetLibraryList(const QString& text) {
    return Exec(QStringLiteral("UPDATE config SET 课间音乐=?"), {NotNull(text)});
}

qint64 Conn::AddEvent(const EventRow& r) {
    return Insert(QStringLiteral("INSERT INTO 作息表 (星期名, 事件, 开始时间, 音乐文件, 音乐总长, "
                                 "是否播放, 替代音乐, 播放区域) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                  {NotNull(r.weekName), NotNull(r.event), NotNull(r.startTime),
                   NotNull(r.musicFile), NotNull(r.musicLength), NotNull(r.playFlag),
                   NotNull(r.replace), NotNull(r.zones)});
}

qint64 Conn::AddSong(const QString& group, const QString& file, const QString& length) {
    return Insert(
        QStringLiteral("INSERT INTO 课间音乐 (组名, 音乐文件, 音乐总长) VALUES (?, ?, ?)"),
        {NotNull(group), NotNull(file), NotNull(length)});
}

qint64 Conn::AddReplace(const QString& name, const QString& file, const QString& length) {
    return Insert(
        QStringLiteral("INSERT INTO 替代音乐 (替代名称, 音乐文件, 音乐总长) VALUES (?, ?, ?)"),
        {NotNull(name), NotNull(file), NotNull(length)});
}
