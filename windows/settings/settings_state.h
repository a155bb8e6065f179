// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/conn.h"

#include <QString>

// The settings grids, by their place in SettingsState::GridSql.
enum class GridIndex { Week = 0, Music = 1, Replace = 2 };

// What the settings window remembers for the whole run, between its openings. The main
// window owns the one instance.
struct SettingsState {
    // The weekday the week page shows. Empty until the window is first opened, which takes
    // today's weekday; after that the one last chosen. The schedule does not follow it: it
    // keeps ProgramVars::CurWeekName, today's weekday.
    QString WeekName;
    // The named query each grid was last loaded with: the week grid, the library songs, the
    // replacements. Deletes and the event editor reload a grid with its query.
    GridQuery GridSql[3];
    // The central site this computer follows: the timetable pages are then read-only, since
    // each copy from the central store replaces what they would change. Empty: none.
    QString managedSite;

    GridQuery& Sql(GridIndex grid) { return GridSql[static_cast<int>(grid)]; }
};
