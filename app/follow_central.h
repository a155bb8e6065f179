// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class CentralFollower;
class MainForm;
class ScheduleEngine;

// Shows what a follower does in the main window: after each changed copy the window reads its
// lists again and a running schedule today's events from now on (a paused one, the settings
// window open, reads them when it resumes); the window's central line says the follower's
// state. The window's timetable pages turn read-only.
void ShowFollower(CentralFollower& follower, MainForm& window, ScheduleEngine& engine);
