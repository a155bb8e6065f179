// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/main/record_form.h"

#include "core/reason_text.h"

#include "store/outcome_names.h"
#include "widgets/art.h"
#include "widgets/my_button.h"
#include "widgets/ui_font.h"
#include "windows/main/schedule_windows.h"

#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>

namespace {

// The client area, in twips: 12000 × 6600 (800 × 440 pixels). The window's rounded region
// cuts about 27 pixels off each side: the controls keep kMargin inside.
constexpr int kClientW = 12000, kClientH = 6600, kMargin = 480;
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
const QColor kFailureColour(200, 30, 30);

enum Column { kTime, kEvent, kOutcome, kLate, kReason, kFile, kColumnCount };

bool IsFailure(PlayOutcome outcome) {
    return outcome == PlayOutcome::Failed || outcome == PlayOutcome::Missed;
}

QString LateText(int lateMs) {
    return lateMs < 0 ? QString() : QStringLiteral("%1 ms").arg(lateMs);
}

// The oldest date with records, or today when none (or the dates cannot be read).
QDate OldestKept(Conn& conn, const QDate& today) {
    QStringList dates;
    if (!conn.PlayRecordDates(&dates) || dates.isEmpty()) {
        return today;
    }
    const QDate oldest = QDate::fromString(dates.first(), kDateFormat);
    return oldest.isValid() && oldest < today ? oldest : today;
}

} // namespace

RecordForm::RecordForm(Conn& conn, const QDate& today, QWidget* parent)
    : QDialog(parent), conn_(conn) {
    setObjectName(QStringLiteral("RecordForm"));
    setWindowTitle(QStringLiteral("今日记录"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(Px(kClientW), Px(kClientH));
    QFont f(UiFontFamily());
    f.setPixelSize(12);
    setFont(f);
    // Looking at the records must not stop the bells.
    SetKeepsScheduleRunning(this);

    skin_ = Skin::Build(this, QRect(0, 0, kClientW, 495), QPoint(600, 165),
                        QRect(kClientW - 855, 180, 300, 270));

    BuildDatePicker(today);
    BuildRecordGrid();
    MyButton_Close = MyButton::Create(this, QStringLiteral("MyButton_Close"),
                                      QRect(kClientW - kMargin - 975, 6000, 975, 375),
                                      QStringLiteral("关闭"), 1);
    connect(MyButton_Close, &MyButton::Click, this, &QDialog::close);
    connect(skin_.yButton_Close, &MyButton::Click, this, &QDialog::close);

    skin_.Preamble(this);
    ShowDate(today);
}

// The date picker, from the oldest day kept to today, and the count beside it.
void RecordForm::BuildDatePicker(const QDate& today) {
    auto* dateCaption = new QLabel(QStringLiteral("日期："), this);
    dateCaption->setObjectName(QStringLiteral("Lab_Date"));
    dateCaption->setGeometry(Px(QRect(kMargin, 690, 900, 360)));
    Date_Record = new QDateEdit(this);
    Date_Record->setObjectName(QStringLiteral("Date_Record"));
    Date_Record->setCalendarPopup(true);
    Date_Record->setDisplayFormat(kDateFormat);
    Date_Record->setDateRange(OldestKept(conn_, today), today);
    Date_Record->setDate(today);
    Date_Record->setGeometry(Px(QRect(kMargin + 900, 660, 2100, 420)));
    Date_Record->setToolTip(QStringLiteral("记录保留最近 60 天"));
    connect(Date_Record, &QDateEdit::dateChanged, this, &RecordForm::ShowDate);

    Lab_RecordCount = new QLabel(this);
    Lab_RecordCount->setObjectName(QStringLiteral("Lab_RecordCount"));
    Lab_RecordCount->setGeometry(
        Px(QRect(kMargin + 3300, 690, kClientW - 2 * kMargin - 3300, 360)));
}

void RecordForm::BuildRecordGrid() {
    Grid_Records = new QTableWidget(0, kColumnCount, this);
    Grid_Records->setObjectName(QStringLiteral("Grid_Records"));
    Grid_Records->setGeometry(Px(QRect(kMargin, 1200, kClientW - 2 * kMargin, 4650)));
    const QStringList titles = {
        QStringLiteral("时间"), QStringLiteral("事件"), QStringLiteral("结果"),     // caption
        QStringLiteral("延迟"), QStringLiteral("原因"), QStringLiteral("音乐文件"), // caption
    };
    Grid_Records->setHorizontalHeaderLabels(titles);
    Grid_Records->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid_Records->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid_Records->setWordWrap(false);
    Grid_Records->setTextElideMode(Qt::ElideMiddle); // a long path keeps its file name
    Grid_Records->verticalHeader()->hide();
    Grid_Records->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    const int widths[] = {70, 110, 48, 60, 230};
    for (int c = 0; c < kFile; ++c) {
        Grid_Records->setColumnWidth(c, widths[c]);
    }
    Grid_Records->horizontalHeader()->setStretchLastSection(true);
}

void RecordForm::ShowDate(const QDate& date) {
    if (Date_Record->date() != date) {
        Date_Record->setDate(date); // comes back here through dateChanged
        return;
    }
    Reload();
}

void RecordForm::Reload() {
    QVector<PlayRecordRow> rows;
    QString error;
    if (!conn_.PlayRecordsOn(Date_Record->date().toString(kDateFormat), &rows, &error)) {
        Fill({});
        Lab_RecordCount->setText(QStringLiteral("无法读取记录：%1").arg(error));
        Lab_RecordCount->setToolTip(error);
        return;
    }
    Fill(rows);
}

void RecordForm::Fill(const QVector<PlayRecordRow>& rows) {
    Grid_Records->setRowCount(0);
    int failures = 0;
    for (const PlayRecordRow& r : rows) {
        const int row = Grid_Records->rowCount();
        Grid_Records->insertRow(row);
        const QString texts[kColumnCount] = {
            r.time, r.event, OutcomeText(r.outcome), LateText(r.lateMs), ReasonForPeople(r.reason),
            r.file};
        for (int c = 0; c < kColumnCount; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setToolTip(texts[c]); // the whole text of a cell too narrow for it
            if (IsFailure(r.outcome)) {
                item->setForeground(kFailureColour);
            }
            Grid_Records->setItem(row, c, item);
        }
        failures += IsFailure(r.outcome) ? 1 : 0;
    }
    Lab_RecordCount->setToolTip(QString());
    if (rows.isEmpty()) {
        Lab_RecordCount->setText(QStringLiteral("这一天没有记录"));
    } else {
        Lab_RecordCount->setText(
            QStringLiteral("共 %1 条，未能播放 %2 条").arg(rows.size()).arg(failures));
    }
    Lab_RecordCount->setStyleSheet(failures > 0 ? QStringLiteral("color: rgb(200, 30, 30);")
                                                : QString());
}
