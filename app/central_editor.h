// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class Conn;
struct CommandLine;

// Opens the settings window on site of the central timetable, for an administrator's
// desk: the same pages and the same changes as on a computer's own store, each change one
// transaction on the central store. No bells ring. Returns the exit status.
int RunCentralEditor(const QString& central, const QString& site);

// Applies the command line's following options to the store (--central/--site remembered,
// --no-central forgotten) and gives back the site this computer follows ("" for none).
bool RememberCentral(const CommandLine& cl, Conn& conn, QString* central, QString* site,
                     QString* error);
