// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "widgets/message_box.h"
#include "windows/settings/settings_context.h"
#include "windows/settings/settings_page.h"

#include <QStringList>
#include <functional>

class FlexGrid;
class MyButton;
class QLineEdit;
class QListWidget;

// The break-music libraries page: create and delete libraries (the library list), and add or
// delete the songs of the selected one (the song grid). Every change to the list reloads the
// running program's library list, so the schedule and the event editor see it at once.
class MusicPage : public SettingsPage {
    Q_OBJECT
public:
    MusicPage(SettingsContext& ctx, QWidget* parent);

    // Lists the libraries and selects the first, which shows its songs.
    void Load() override;

    void ShowLibrarySongs();
    // Creates a library named after the name box, "曲库_" first.
    void AddLibrary();
    void DeleteLibrary();
    // Adds the files chosen to the selected library, each with its measured length.
    void AddSongs();
    void DeleteSongs();

    // The file chooser: the files picked, none when cancelled. Tests replace it.
    std::function<QStringList(QWidget* parent)> ChooseFiles;
    // Notices and questions (the program's message box). Tests replace it; the grid's
    // delete question goes through it too.
    std::function<bool(const QString& title, const QString& text, MsgMode mode)> Ask;

    FlexGrid* Grid() const { return songGrid_; }

protected:
    // A library's songs can be looked at.
    QList<QWidget*> LiveWhileManaged() const override;

private:
    QString SelectedLibrary() const;
    void ReloadLibraries();
    void UpdateButtons(bool gridEmpty);
    // Measures files behind a progress dialog; false when the user cancelled.
    bool MeasureWithProgress(const QStringList& files, QVector<double>* lengths);

    SettingsContext& ctx_;
    QLineEdit* libraryNameText_ = nullptr;
    MyButton* addLibraryButton_ = nullptr;
    MyButton* deleteLibraryButton_ = nullptr;
    QListWidget* libraryList_ = nullptr;
    FlexGrid* songGrid_ = nullptr;
    MyButton* addSongsButton_ = nullptr;
    MyButton* deleteSongsButton_ = nullptr;
};
