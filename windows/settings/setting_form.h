#pragma once

#include <QDialog>

#include "widgets/skin.h"

struct ProgramVars;
class Conn;
class Player;

// PLACEHOLDER: the settings window until its pages (week timetable, break-music
// libraries, rain music, options) are built. It is modal and skinned like the real one,
// so the main window's stop-and-reload around it already works as it will.
class SettingForm : public QDialog {
    Q_OBJECT
public:
    SettingForm(ProgramVars& vars, Conn& conn, Player& player, QWidget* parent = nullptr);

private:
    Skin skin_;
};
