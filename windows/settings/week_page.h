// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QVector>
#include <functional>

#include "windows/settings/settings_context.h"
#include "windows/settings/settings_page.h"

class FlexGrid;
class MyButton;
class QComboBox;
class QListWidget;

// The week page: the events of one weekday in grid 1, with add, modify (double-click or
// Enter on a row), delete (button or the Delete key), and copying the whole day onto other
// weekdays. The weekday shown is the page's own (SettingsState::WeekName); the schedule
// keeps following today's date.
class WeekPage : public SettingsPage {
    Q_OBJECT
public:
    WeekPage(SettingsContext& ctx, QWidget* parent);

    // Shows the remembered weekday (today's at the first opening of the run).
    void Load() override;

    // Shows the weekday chosen in the weekday box.
    void ShowChosenWeekday();
    void AddEvent();
    void EditCurrentEvent();
    void DeleteEvents();
    // First click: opens the list of the other weekdays; second: copies the day onto those
    // chosen there, after a confirmation.
    void CopyDay();

    // Opens the event editor: id 0 adds an event to weekName, any other id modifies that
    // row. Returns the id of the saved row, or 0 when nothing was saved. Tests replace it.
    std::function<qint64(const QString& weekName, qint64 id)> OpenEditor;

    FlexGrid* Grid() const { return weekGrid_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    // Another weekday can be looked at.
    QList<QWidget*> LiveWhileManaged() const override;

private:
    void ShowWeek(const QString& weekName);
    // Finds, for every row shown, why it would not ring (see RowProblem).
    void CheckRows();
    // The week's events, red where a row cannot ring, zones by name.
    void BuildWeekGrid();
    // Why an event would not ring: a start time that is not "hh:mm:ss", a file the player
    // cannot play, a break-music library without songs; "" when nothing is wrong.
    QString RowProblem(const QString& start, const QString& event, const QString& file,
                       QHash<QString, bool>* libraryHasSongs);
    void AfterEdit(qint64 savedId);
    bool Ask(const QString& title, const QString& text, bool confirm);

    SettingsContext& ctx_;
    QComboBox* weekdayBox_ = nullptr;
    FlexGrid* weekGrid_ = nullptr;
    MyButton* addButton_ = nullptr;
    MyButton* deleteButton_ = nullptr;
    MyButton* copyButton_ = nullptr;
    QListWidget* copyTargets_ = nullptr;
    QVector<QString> rowProblems_; // by grid row
    QStringList zoneNames_;        // as the zones page names them, read at each load
    // Why each file cannot be played ("" when it can), checked once: a long grid is read
    // at every weekday change, and a check reads the file. Forgotten when the page is shown.
    QHash<QString, QString> fileChecks_;
};
