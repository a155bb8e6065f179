// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QVector>
#include <functional>

#include "store/conn.h"
#include "windows/settings/settings_page.h"

class MyButton;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTableWidget;
struct SettingsContext;

// The special-days page: the holidays with no bells and the make-up days that run
// another weekday's timetable, in date order, days already past greyed. A day or a range of
// days is added with its kind and note, selected days are deleted after a confirmation, and
// a holiday list is imported from an iCalendar file. Every change is stored at once; the
// schedule follows it from its next activation or midnight. Rows the schedule cannot use
// (written by another tool) are shown in red as invalid, with the reason.
class SpecialDaysPage : public SettingsPage {
    Q_OBJECT
public:
    SpecialDaysPage(SettingsContext& ctx, QWidget* parent = nullptr);

    // Shows the stored special days; run each time the page is selected.
    void Load() override;
    // Adds every date from Date_From to Date_To with the chosen kind and note.
    void AddDays();
    // Deletes the selected days after the confirmation box.
    void DeleteDays();
    // Imports the holidays of an iCalendar file: all of them, or none when it has an error or
    // the user declines the confirmation, which shows the number of days and the first and
    // last of them.
    void ImportCalendar();

    // The ids of the days shown, in grid order.
    QVector<qint64> ShownIds() const;

    // What the page asks and tells, and today's date: the program's message box and the
    // system date, unless a test replaces them.
    std::function<bool(const QString& text)> Ask;
    std::function<void(const QString& text)> Notify;
    std::function<QString()> ChooseIcsFile;
    std::function<QDate()> Today;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Build();
    void BuildDayGrid();
    // The row that adds a range of days: from, to, kind, note, "添加".
    void BuildAddDayFrame();
    void BuildPageButtons();
    // Stores rows after one confirmation: of what question says (when given), and of the
    // dates that are special already and change.
    bool Store(const QVector<SpecialDayRow>& rows, const QString& question = QString());

    SettingsContext& ctx_;
    QVector<SpecialDayRow> shown_;
    bool datesSet_ = false;

    QTableWidget* Grid_SpecialDays = nullptr;
    QGroupBox* Frm_AddDay = nullptr;
    QDateEdit* Date_From = nullptr;
    QDateEdit* Date_To = nullptr;
    QComboBox* Combo_Kind = nullptr;
    QLineEdit* Text_Note = nullptr;
    MyButton* MyBt_AddDay = nullptr;
    MyButton* MyBt_DeleteDay = nullptr;
    MyButton* MyBt_ImportIcs = nullptr;
};
