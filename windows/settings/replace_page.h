// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "widgets/message_box.h"
#include "windows/settings/settings_context.h"
#include "windows/settings/settings_page.h"

#include <functional>

class FlexGrid;
class MyButton;
class QGroupBox;
class QLabel;
class QLineEdit;

// The rain replacement music page: name a replacement, pick its file (its length is
// measured), add it; grid 3 lists them all and deletes them. Adding and deleting reload the
// running program's replacement list, so rain mode uses the change at once; deleting also
// clears the events' references to names no replacement carries any more.
class ReplacePage : public SettingsPage {
    Q_OBJECT
public:
    ReplacePage(SettingsContext& ctx, QWidget* parent);

    // Loads grid 3; the boxes above it keep what they hold while the window is open.
    void Load() override;

    // Asks for the replacement's file and shows it with its measured length.
    void ChooseReplacementFile();
    void AddReplacement();
    // Deletes the selected replacements after a confirmation.
    void DeleteReplacements();
    // Leaving the name box empty is refused.
    void RequireReplacementName();

    // The file chooser: the file picked, empty when cancelled. Tests replace it.
    std::function<QString(QWidget* parent)> ChooseFile;
    // Notices and questions (the program's message box). Tests replace it.
    std::function<bool(const QString& title, const QString& text, MsgMode mode)> Ask;

    FlexGrid* Grid() const { return replaceGrid_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void ReloadReplacements();

    SettingsContext& ctx_;
    QGroupBox* addFrame_ = nullptr;
    QLineEdit* nameText_ = nullptr;
    MyButton* chooseFileButton_ = nullptr;
    QLabel* lengthLabel_ = nullptr;
    QLabel* pathLabel_ = nullptr;
    MyButton* addButton_ = nullptr;
    FlexGrid* replaceGrid_ = nullptr;
    MyButton* deleteButton_ = nullptr;
};
