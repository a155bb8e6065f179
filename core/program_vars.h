#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class Conn;

// One rain-day replacement as the scheduler looks it up: name and music file.
struct ReplaceEntry {
    QString name;
    QString file;
};

// The program-wide variables. main owns the one set and hands it to the windows by
// reference, so every test can make a fresh one.
struct ProgramVars {
    ::Conn* Conn = nullptr;                // the store, open for the whole run
    QString CurWeekName;                   // today's weekday name, "星期日" … "星期六"
    quint32 FrameBackColor = 0xF5F5FF;     // RGB(245, 245, 255): settings and editor panels
    int PlayOrder = 0;                     // 0 sequential, 1 repeat one, 2 (or more) random
    QStringList ClassMusicArr;             // break-music library names in list order
    QVector<ReplaceEntry> ReplaceMusicArr; // replacements in the order the store returns them
    bool RainMode = false;
    QString ShutDownTime = QStringLiteral("00:00:00"); // "00:00:00" = no daily shutdown
    bool MinToTray = false;
    bool ShowClock = true; // time label shows the clock (true) or the countdown (false)
    QString GridSql[3];    // the query each settings grid was last loaded with

    // The message box's calling block.
    QString MsgTitle;
    QString MsgText;
    int MsgMode = 1;
    bool MsgResult = false;
};
