#pragma once

#include <QString>
#include <QStringList>

struct ProgramVars;
class Conn;

// Splits a "|"-joined list: the empty text gives no elements; empty pieces are kept.
QStringList SplitList(const QString& text);

// Reload the program-wide settings from the store. Each returns false (leaving the values
// as they were, with the reason in *error) when the store cannot be read.
bool GetConfigValue(ProgramVars& vars, Conn& conn, QString* error = nullptr);
bool SetClassMusicArr(ProgramVars& vars, Conn& conn, QString* error = nullptr);
bool SetReplaceMusicArr(ProgramVars& vars, Conn& conn, QString* error = nullptr);
