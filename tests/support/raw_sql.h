// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/conn.h"

#include <QSqlDatabase>
#include <QSqlQuery>

// The store's own connection, for tests that look at the file with statements of their own.
inline QSqlDatabase Db(const Conn& conn) {
    return QSqlDatabase::database(conn.ConnectionName(), false);
}
