// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class CentralFollower;
class Conn;
class MainForm;
struct ProgramVars;
class ScheduleEngine;

// After each changed copy of the site: the lists the engine looks up, then a running
// schedule's events of today are read again (a paused one, the settings window open, reads
// them when it resumes). Nothing once the store is closed: the program is ending.
void ReadEachCopy(CentralFollower& follower, ProgramVars& vars, Conn& store,
                  ScheduleEngine& engine);

// Shows what a follower does in the main window: after each changed copy the settings page
// on screen shows it; the window's central line says the follower's state. The window's
// timetable pages turn read-only.
void ShowFollower(CentralFollower& follower, MainForm& window);
