// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/transaction.h"

#include "store/conn.h"
#include "store/dialect.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

QSqlDatabase Database(const QString& connection) {
    return QSqlDatabase::database(connection, false);
}

// The driver's words, or what their absence means: a connection that libpq found dead
// refuses a transaction without saying why.
QString Why(const QSqlDatabase& db) {
    const QString text = db.lastError().text().trimmed();
    return text.isEmpty() ? QStringLiteral("与数据库的连接已断开") : text;
}

} // namespace

Transaction::Transaction(Conn& conn) : conn_(&conn), connection_(conn.ConnectionName()) {
    ++conn_->transactions_;
}

Transaction::~Transaction() {
    if (active_) {
        Database(connection_).rollback();
    }
    if (conn_) {
        --conn_->transactions_;
    }
}

bool Transaction::Begin(QString* error) {
    // Only the outermost may reopen the store: an inner one would end the outer's work.
    if (conn_ && conn_->transactions_ == 1 && !conn_->KeepLocks(error)) {
        return false;
    }
    if (conn_) {
        connection_ = conn_->ConnectionName(); // reopened under another name, perhaps
    }
    QSqlDatabase db = Database(connection_);
    if (db.driverName() == QLatin1String("QSQLITE")) {
        // The store's writers on other threads (the records, a central copy) wait for each
        // other through the busy timeout. A deferred transaction that read before it wrote
        // would instead fail at once ("database is locked") when another wrote meanwhile.
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            return Failed(error, q.lastError().text());
        }
    } else if (!db.transaction()) {
        return Failed(error, Why(db));
    }
    active_ = true;
    // Two administrators changing one central site at once: the second of two overlapping
    // changes fails with a reason instead of silently overwriting the first.
    if (conn_ && conn_->dialect_ == SqlDialect::Postgres) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL SERIALIZABLE"))) {
            return Failed(error, q.lastError().text());
        }
    }
    return true;
}

bool Transaction::Commit(QString* error) {
    if (!active_) {
        return Failed(error, QStringLiteral("no transaction is open"));
    }
    QSqlDatabase db = Database(connection_);
    if (!db.commit()) {
        return Failed(error, Why(db)); // the destructor rolls back
    }
    active_ = false;
    return true;
}
