#include "store/transaction.h"

#include "store/conn.h"

#include <QSqlDatabase>
#include <QSqlError>

namespace {

QSqlDatabase Database(const QString& connection) {
    return QSqlDatabase::database(connection, false);
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
    if (!db.transaction()) {
        return Failed(error, db.lastError().text());
    }
    active_ = true;
    return true;
}

bool Transaction::Commit(QString* error) {
    if (!active_) {
        return Failed(error, QStringLiteral("no transaction is open"));
    }
    QSqlDatabase db = Database(connection_);
    if (!db.commit()) {
        return Failed(error, db.lastError().text()); // the destructor rolls back
    }
    active_ = false;
    return true;
}
