// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the central store's statement files share; nothing outside central/ includes it.
#include "central/central.h"

#include <QString>

class QSqlQuery;

// Why a statement on the central store failed: a lost connection leaves the statement's
// own error empty.
QString Why(const QSqlQuery& q, const QString& connection);

// One call on the connection, timed for whoever watches the socket.
class Call {
public:
    explicit Call(CentralSocket* socket) : socket_(socket) {
        if (socket_) {
            socket_->BeginCall();
        }
    }
    ~Call() {
        if (socket_) {
            socket_->EndCall();
        }
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

private:
    CentralSocket* socket_;
};
