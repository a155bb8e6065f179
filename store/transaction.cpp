#include "store/transaction.h"

#include "store/conn.h"

#include <QSqlDatabase>
#include <QSqlError>

namespace {

QSqlDatabase Database(const QString& connection) {
    return QSqlDatabase::database(connection, false);
}

} // namespace

Transaction::Transaction(Conn& conn) : connection_(conn.ConnectionName()) {}

Transaction::~Transaction() {
    if (active_) {
        Database(connection_).rollback();
    }
}

bool Transaction::Begin(QString* error) {
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
