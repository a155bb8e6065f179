#include "store/transaction.h"

#include "store/conn.h"

#include <QSqlError>

Transaction::Transaction(Conn& conn) : db_(conn.Database()) {}

Transaction::~Transaction() {
    if (active_) {
        db_.rollback();
    }
}

bool Transaction::Begin(QString* error) {
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
