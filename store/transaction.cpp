#include "store/transaction.h"

#include "store/conn.h"

#include <QSqlError>

Transaction::Transaction(Conn& conn) : conn_(&conn), db_(conn.Database()) {
    ++conn_->transactions_;
}

Transaction::~Transaction() {
    if (active_) {
        db_.rollback();
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
    if (!db_.transaction()) {
        return Failed(error, db_.lastError().text());
    }
    active_ = true;
    return true;
}

bool Transaction::Commit(QString* error) {
    if (!active_) {
        return Failed(error, QStringLiteral("no transaction is open"));
    }
    if (!db_.commit()) {
        return Failed(error, db_.lastError().text()); // the destructor rolls back
    }
    active_ = false;
    return true;
}
