// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/conn.h"
#include "store/statement.h"

#include "core/own_files.h"
#include "store/dialect.h"
#include "store/tables.h"
#include "store/transaction.h"

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
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>

namespace {

// Version 1: the four tables of the first release, with the default config row.
bool CreateVersion1(QSqlDatabase& db, QString* reason) {
    QSqlQuery q(db);
    for (const QString& sql : LocalVersion1()) {
        if (!q.exec(sql)) {
            return Failed(reason, q.lastError().text());
        }
    }
    return true;
}

bool CheckVersion1(QSqlDatabase& db, QString* reason) {
    QSqlQuery q(db);
    // Reading the table list is the first read of the file: a file that is not SQLite, or
    // is locked by another program, fails here, before anything is written.
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"))) {
        return Failed(reason, q.lastError().text());
    }
    QStringList present;
    while (q.next()) {
        present << q.value(0).toString();
    }
    for (const TableShape& t : Version1Tables()) {
        if (!present.contains(t.name)) {
            return Failed(reason,
                          QStringLiteral("这不是 Belvoran 的数据库（缺少表 %1）").arg(t.name));
        }
        QSqlRecord rec = db.record(t.name);
        for (const QString& col : t.columns) {
            if (!rec.contains(col)) {
                return Failed(
                    reason,
                    QStringLiteral("这不是 Belvoran 的数据库（表 %1 缺少列 %2）").arg(t.name, col));
            }
        }
    }
    if (!q.exec(QStringLiteral("SELECT count(*) FROM config")) || !q.next()) {
        return Failed(reason, q.lastError().text());
    }
    if (q.value(0).toLongLong() < 1) {
        return Failed(reason, QStringLiteral("表 config 中没有设置记录"));
    }
    return true;
}

bool ReadUserVersion(QSqlDatabase& db, int* version, QString* reason) {
    if (!ReadSchemaVersion(db, version, reason)) {
        return false;
    }
    // A file from before versions were kept holds today's first tables: version 1.
    *version = std::max(1, *version);
    return true;
}

int LatestVersion(const QVector<Migration>& migrations) {
    return migrations.isEmpty() ? 1 : migrations.last().to;
}

// Runs every step above `from`, each in its own transaction with its version number, so an
// interrupted upgrade resumes at the step that did not finish.
bool Migrate(QSqlDatabase& db, int from, const QVector<Migration>& migrations, QString* reason) {
    for (const Migration& m : migrations) {
        if (m.to <= from) {
            continue;
        }
        Transaction tx(db.connectionName());
        if (!tx.Begin(reason)) {
            return false;
        }
        QSqlQuery q(db);
        for (const QString& sql : m.statements) {
            if (!q.exec(sql)) {
                return Failed(
                    reason,
                    QStringLiteral("升级到第 %1 版失败：%2").arg(m.to).arg(q.lastError().text()));
            }
        }
        if (!WriteSchemaVersion(db, m.to, reason)) {
            return false;
        }
        q.finish(); // SQLite commits only with no statement in progress
        if (!tx.Commit(reason)) {
            return false;
        }
    }
    return true;
}

bool CreateSchema(QSqlDatabase& db, const QVector<Migration>& migrations, QString* reason) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
        return Failed(reason, q.lastError().text());
    }
    q.finish(); // the pragma answers with a row: done with it before the transaction
    {
        Transaction tx(db.connectionName());
        if (!tx.Begin(reason) || !CreateVersion1(db, reason) ||
            !WriteSchemaVersion(db, 1, reason)) {
            return false;
        }
        q.finish();
        if (!tx.Commit(reason)) {
            return false;
        }
    }
    return Migrate(db, 1, migrations, reason);
}

// Checks an existing file and upgrades it; a file of the current version is only read.
bool OpenExisting(QSqlDatabase& db, const QVector<Migration>& migrations, int* version,
                  QString* reason) {
    if (!CheckVersion1(db, reason) || !ReadUserVersion(db, version, reason)) {
        return false;
    }
    const int latest = LatestVersion(migrations);
    if (*version > latest) {
        return Failed(reason,
                      QStringLiteral("数据库来自更新版本的 Belvoran（第 %1 版，本程序只认识到第 "
                                     "%2 版）")
                          .arg(*version)
                          .arg(latest));
    }
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
            return Failed(reason, q.lastError().text());
        }
    } // the pragma answers with a row: done with it before any transaction
    if (*version < latest) {
        if (!Migrate(db, *version, migrations, reason)) {
            return false;
        }
        *version = latest;
    }
    return true;
}

} // namespace

bool UpgradeSchema(QSqlDatabase& db, int from, const QVector<Migration>& steps, QString* error) {
    return Migrate(db, from, steps, error);
}

const QVector<Migration>& SchemaMigrations() {
    static const QVector<Migration> steps = LocalSchemaSteps();
    return steps;
}

Conn::Conn(const QSqlDatabase& db, QString path, bool created, int version)
    : connectionName_(db.connectionName()), path_(std::move(path)), created_(created),
      version_(version) {}

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

namespace {

// True when path holds no data at all: a 0-byte file (with no write-ahead log) is what an
// interrupted first start of an older version left behind.
bool HoldsNothing(const QFileInfo& info) {
    return info.size() == 0 && QFileInfo(info.filePath() + QStringLiteral("-wal")).size() == 0;
}

// Builds a new store beside path and moves it into place in one rename, so that a first
// start killed half-way never leaves a half-made store that later starts would refuse.
bool CreateAtomically(const QString& path, const QVector<Migration>& migrations, QString* reason) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        return Failed(reason, QStringLiteral("无法创建文件夹 %1").arg(info.absolutePath()));
    }
    const QString building =
        path + QStringLiteral(".new-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    // Owner-only access: SQLite has no password, the file mode protects it.
    const int fd =
        ::open(QFile::encodeName(building).constData(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (fd < 0) {
        return Failed(
            reason,
            QStringLiteral("无法创建文件（%1）").arg(QString::fromLocal8Bit(strerror(errno))));
    }
    ::close(fd);
    const QString name = QStringLiteral("belvoran-new-") + QUuid::createUuid().toString();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(building);
        if (!db.open()) {
            Failed(reason, db.lastError().text());
        } else {
            ok = CreateSchema(db, migrations, reason);
            db.close(); // the last connection: the log is folded into the file and removed
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (ok && ::rename(QFile::encodeName(building).constData(),
                       QFile::encodeName(path).constData()) != 0) {
        ok = Failed(
            reason,
            QStringLiteral("无法创建文件（%1）").arg(QString::fromLocal8Bit(strerror(errno))));
    }
    if (!ok) {
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
            QFile::remove(building + suffix);
        }
    }
    return ok;
}

} // namespace

namespace {

// Less free space than this where the store lives: a failed write is taken for a full disk.
constexpr qint64 kFullDiskBytes = 128 * 1024;

// The folder or file system that holds path refuses writing: its mount is read-only, or this
// user may not write there.
bool Unwritable(const QByteArray& path) {
    struct statvfs fs {};
    return (::statvfs(path.constData(), &fs) == 0 && (fs.f_flag & ST_RDONLY)) ||
           ::access(path.constData(), W_OK) != 0;
}

// /proc and /sys hold files made up by the kernel as they are read.
bool OnKernelFileSystem(const QByteArray& folder) {
    struct statfs fs {};
    constexpr long kProc = 0x9fa0, kSys = 0x62656572;
    return ::statfs(folder.constData(), &fs) == 0 && (fs.f_type == kProc || fs.f_type == kSys);
}

// Why opening or creating the store at path failed, in the administrator's terms, when the
// file system shows it; else "" and the database's own text stands.
QString Diagnose(const QString& path) {
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QByteArray f = QFile::encodeName(folder);
    if (info.exists() && !info.isFile()) {
        return info.isDir() ? QStringLiteral("这是一个文件夹，不是数据库文件")
                            : QStringLiteral("这不是普通文件（而是设备、管道或套接字）");
    }
    if (OnKernelFileSystem(f)) {
        return QStringLiteral("这不是普通文件：%1 是系统内核提供的虚拟文件夹，不能存放数据")
            .arg(folder);
    }
    if (!QFileInfo(folder).isDir()) {
        return QStringLiteral("文件夹 %1 不存在，也无法建立").arg(folder);
    }
    if (Unwritable(f)) {
        return QStringLiteral("文件夹 %1 不可写入（只读的磁盘，或没有写入权限）；数据库需要在"
                              "同一文件夹里建立它的日志文件 %2-wal 和 %2-shm")
            .arg(folder, info.fileName());
    }
    if (info.exists() && Unwritable(QFile::encodeName(path))) {
        return QStringLiteral("文件是只读的（没有写入权限）");
    }
    struct statvfs fs {};
    if (::statvfs(f.constData(), &fs) == 0 &&
        static_cast<qint64>(fs.f_bavail) * static_cast<qint64>(fs.f_frsize) < kFullDiskBytes) {
        return QStringLiteral("磁盘已满：%1 所在的磁盘只剩 %2 KB 可用空间")
            .arg(folder)
            .arg(static_cast<qint64>(fs.f_bavail) * static_cast<qint64>(fs.f_frsize) / 1024);
    }
    return {};
}

// The reasons CheckVersion1 and OpenExisting give about what a readable file holds.
bool IsVerdict(const QString& reason) {
    return reason.startsWith(QStringLiteral("这不是 Belvoran")) ||
           reason.startsWith(QStringLiteral("数据库来自更新版本")) ||
           reason.startsWith(QStringLiteral("表 config"));
}

} // namespace

std::unique_ptr<Conn> Conn::Open(const QString& path, QString* error,
                                 const QVector<Migration>& migrations) {
    const QString name = QStringLiteral("belvoran-") + QUuid::createUuid().toString();
    auto fail = [&](const QString& reason) {
        QSqlDatabase::removeDatabase(name);
        // A verdict on the file's content stands alone; the database's own words for a fault
        // of the file system ("unable to open database file") get the cause the folder shows.
        const QString why = IsVerdict(reason) ? QString() : Diagnose(path);
        const QString text = why.isEmpty()      ? reason
                             : reason.isEmpty() ? why
                                                : QStringLiteral("%1（%2）").arg(why, reason);
        if (error) {
            *error = QStringLiteral("无法打开数据库 %1：%2").arg(path, text);
        }
        return std::unique_ptr<Conn>();
    };

    const QFileInfo info(path);
    const bool create = !info.exists() || (info.isFile() && HoldsNothing(info));
    QString reason;
    if (create && !CreateAtomically(path, migrations, &reason)) {
        return fail(reason);
    }
    if (!create && !info.isFile()) {
        return fail(QString()); // Diagnose says what it is
    }
    if (!create && !info.isReadable()) {
        return fail(QStringLiteral("没有读取权限"));
    }

    int version = 1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        if (!db.open()) {
            reason = db.lastError().text();
        } else if (OpenExisting(db, migrations, &version, &reason)) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("PRAGMA foreign_keys=OFF"));
            std::unique_ptr<Conn> conn(new Conn(db, path, create, version));
            conn->NoteLog();
            KeepUnopened(path);
            return conn;
        }
        db.close();
    }
    return fail(reason);
}

std::unique_ptr<Conn> Conn::OnCentralSite(const QString& connectionName, const QString& central,
                                          int version, const QString& site,
                                          const QString& readOnlyReason) {
    std::unique_ptr<Conn> conn(
        new Conn(QSqlDatabase::database(connectionName, false), central, false, version));
    conn->dialect_ = SqlDialect::Postgres;
    conn->site_ = site;
    conn->readOnlyReason_ = readOnlyReason;
    return conn;
}

bool Conn::Run(QSqlQuery* q, const QString& sql, const QVariantList& values, QString* error) {
    *q = QSqlQuery(Database());
    if (!q->prepare(sql)) {
        return Failed(error, q->lastError().text());
    }
    for (const QVariant& v : values) {
        q->addBindValue(v);
    }
    if (!q->exec()) {
        return Failed(error, q->lastError().text());
    }
    return true;
}

bool Conn::Exec(const QString& sql, const QVariantList& values, QString* error) {
    QSqlQuery q;
    return (transactions_ > 0 || KeepLocks(error)) && Run(&q, sql, values, error);
}

bool Conn::Insert(const QString& sql, const QVariantList& values, qint64* id, QString* error) {
    QSqlQuery q;
    if ((transactions_ == 0 && !KeepLocks(error)) ||
        !Run(&q, sql + ReturningKey(dialect_), values, error)) {
        return false;
    }
    if (id) {
        *id = dialect_ == SqlDialect::Postgres ? (q.next() ? q.value(0).toLongLong() : 0)
                                               : q.lastInsertId().toLongLong();
    }
    return true;
}

QString ColumnText(const QSqlQuery& q, int i) {
    const QVariant v = q.value(i);
    return v.isNull() ? QString() : v.toString();
}

QVariant NotNull(const QString& s) {
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}
