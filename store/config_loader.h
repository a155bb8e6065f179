#pragma once

#include <QString>
#include <QStringList>

struct ProgramVars;

// Splits a "|"-joined list: the empty text gives no elements; empty pieces are kept.
QStringList SplitList(const QString& text);

// Reload the program-wide settings from the store. Each returns false (leaving the values
// as they were) when the store cannot be read; Conn::LastError() says why.
bool GetConfigValue(ProgramVars& vars);
bool SetClassMusicArr(ProgramVars& vars);
bool SetReplaceMusicArr(ProgramVars& vars);
