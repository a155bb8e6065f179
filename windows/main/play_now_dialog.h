// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QListWidget>
#include <QVector>

#include "store/conn.h"
#include "widgets/skin.h"

class MyButton;

// "立即播放": a small skinned dialog that lists today's events (start time, name, file) and
// returns the one chosen, to be played at once. The schedule runs on while it is open.
class PlayNowDialog : public QDialog {
    Q_OBJECT
public:
    // zoneNames: the play zones by their names (the zones page's), in code order.
    PlayNowDialog(const QVector<EventRow>& events, QWidget* parent = nullptr,
                  const QStringList& zoneNames = DefaultZoneNames());

    // Opens the dialog modally; the id of the chosen event, or 0 when none was chosen, and
    // into *zones the zones ticked for it.
    static qint64 Choose(const QVector<EventRow>& events, QWidget* parent,
                         const QStringList& zoneNames, QString* zones);
    // The zone code ticked: the current event's own until the user changes it.
    QString ChosenZones() const;

    // The id of the chosen event once accepted; 0 otherwise.
    qint64 ChosenId() const { return chosen_; }
    // "播放" (or a double click or Enter on a row): accepts with the current row.
    void ChooseCurrentEvent();

private:
    Skin skin_;
    void BuildEventList();
    void BuildZoneChecks(const QStringList& zoneNames);
    void FillEventList();
    void BuildButtons();
    void ShowZonesOf(int row);

    QVector<EventRow> events_;
    QListWidget* List_TodayEvents = nullptr;
    QVector<QCheckBox*> zoneChecks_; // Check_Zone1 … Check_Zone6
    MyButton* MyButton_Play = nullptr;
    MyButton* MyButton_Cancel = nullptr;
    qint64 chosen_ = 0;
};
