// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class Conn;

// A scoped transaction: Begin starts it, Commit makes it stick, and leaving the scope
// without a commit rolls everything back, whatever the exit path.
class Transaction {
public:
    explicit Transaction(Conn& conn);
    // On a Qt SQL connection by name: the store's own set-up, before a Conn exists.
    explicit Transaction(QString connectionName) : connection_(std::move(connectionName)) {}
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Begin(QString* error = nullptr);
    bool Commit(QString* error = nullptr);

private:
    Conn* conn_ = nullptr; // the store whose locks Begin checks, when made from one
    QString connection_;
    bool active_ = false;
};
