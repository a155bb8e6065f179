// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QDialog>

#include "store/conn.h"
#include "widgets/skin.h"

class MyButton;
class QDateEdit;
class QLabel;
class QTableWidget;

// "今日记录": what became of each event of a day (today's at first, any kept day by the date
// picker), from the store's 播放记录, failed and missed events in red. It only reads: the
// schedule runs on while it is open.
class RecordForm : public QDialog {
    Q_OBJECT
public:
    RecordForm(Conn& conn, const QDate& today, QWidget* parent = nullptr);

    // Shows the records of date (the picker follows).
    void ShowDate(const QDate& date);
    // Reads the shown date's records again (a record has been written).
    void Reload();

private:
    void BuildDatePicker(const QDate& today);
    void BuildRecordGrid();
    void Fill(const QVector<PlayRecordRow>& rows);

    Conn& conn_;
    Skin skin_;
    QDateEdit* Date_Record = nullptr;
    QTableWidget* Grid_Records = nullptr;
    QLabel* Lab_RecordCount = nullptr;
    MyButton* MyButton_Close = nullptr;
};
