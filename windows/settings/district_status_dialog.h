// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/district_status.h"

#include <QDate>
#include <QDialog>

class DistrictReader;
class QCheckBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

// "各校状态": every computer the central account may see, with its latest heartbeat and what
// became of its bells on the chosen day; red rows for computers not heard while their bells
// ring, the clocks that are off, and the failed and missed bells of the selected computer
// (or all). Read through reader, off this thread, again every kRefreshMs while open.
class DistrictStatusDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 30 * 1000;

    DistrictStatusDialog(DistrictReader& reader, const QDate& today, QWidget* parent = nullptr);

    // Reads the chosen day again.
    void Refresh();

private:
    void BuildTop(const QDate& today);
    void BuildComputers();
    void BuildFailures();
    void Show(const DistrictDay& day);
    void ShowFailed(const QString& reason);
    void FillComputers();
    void FillFailures();
    void SummaryLine();
    // The selected computer's row (-1 for none) and account (empty for none).
    int SelectedRow() const;
    QString SelectedAccount() const;

    DistrictReader& reader_;
    DistrictDay shown_;
    QDateEdit* dayEdit_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* error_ = nullptr;
    QTableWidget* computerGrid_ = nullptr;
    QLabel* failuresCaption_ = nullptr;
    QCheckBox* allFailures_ = nullptr;
    QTableWidget* failureGrid_ = nullptr;
    QTimer* refreshTimer_ = nullptr;
};
