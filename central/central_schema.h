// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QSqlDatabase;

// Whether a schema at version, older than this program's, is used as it is: its site tables
// are current and the account may not make tables (a computer's or an editor's). What it
// lacks is refused by the server until the owner brings it up to date; said once in the log.
bool KeepOlderSchema(const QSqlDatabase& db, int version);
