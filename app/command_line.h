// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for. Parsed before any window exists, so --help and
// --version work without a display.
struct CommandLine {
    // Status, Play and Stop ask the copy already running (app/remote_command.h).
    // MakeCentralSchema makes or upgrades the central timetable's tables (given in central).
    enum Action { Run, ShowHelp, ShowVersion, Error, Status, Play, Stop, MakeCentralSchema };
    Action action = Run;
    QString database;       // --database PATH; empty = the default path
    QString central;        // --central SERVICE|CONNINFO|URL: the central timetable
    QString site;           // --site NAME: the site of it this computer follows (or edits)
    bool edit = false;      // --edit: the settings window on the central site, no bells
    bool noCentral = false; // --no-central: stop following, keep the local copy
    bool service = false;   // --service: no window, run as a system service
    QString error;          // with Error: what was wrong
    bool json = false;      // status --json: the running copy's answer as it came
    QString eventName;      // play NAME
};

CommandLine ParseCommandLine(const QStringList& args);
QString HelpText();
QString VersionText(); // "belvoran 4.2"
// A usage error's two lines: what is wrong, and where to read more.
QString UsageErrorText(const QString& error);
