// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/holidays_page.h"

#include "core/time_text.h"
#include "schedule/day_rule.h"
#include "schedule/holiday_calendar.h"
#include "widgets/art.h"
#include "widgets/message_box.h"
#include "widgets/my_button.h"
#include "windows/editor/store_file_dialog.h"
#include "windows/settings/settings_context.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QTableWidget>

#include <algorithm>

namespace {

// A range added at once is a holiday, not a year of them.
constexpr int kMaxRangeDays = 366;
const QColor kPastText(150, 150, 150);
const QColor kPastBack(232, 232, 236);
// A row the schedule ignores (written by another tool): red, its reason in place of its kind.
const QColor kInvalidText(200, 0, 0);

template <typename W> W* Place(QWidget* parent, const QString& name, const QRect& twips) {
    auto* w = new W(parent);
    w->setObjectName(name);
    w->setGeometry(Px(twips));
    return w;
}

QString KindText(const QString& kind) {
    return kind == kNoBellsKind ? kNoBellsKind : QStringLiteral("按%1作息").arg(kind);
}

} // namespace

SpecialDaysPage::SpecialDaysPage(SettingsContext& ctx, QWidget* parent)
    : SettingsPage(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frame(4)"));
    const QString title = QStringLiteral("特殊日期"); // caption
    Ask = [this, title](const QString& text) {
        return ShowMessage(this, title, text, MsgMode::Confirm);
    };
    Notify = [this, title](const QString& text) {
        ShowMessage(this, title, text, MsgMode::Notice);
    };
    ChooseIcsFile = [this] {
        return ChooseOpenFile(this, QStringLiteral("导入节假日日历"),
                              QStringLiteral("iCalendar 日历 (*.ics);;所有文件 (*)"), ctx_.conn);
    };
    Today = [] { return QDate::currentDate(); };
    Build();
}

void SpecialDaysPage::Build() {
    resize(Px(8000), Px(4900));
    BuildDayGrid();
    BuildAddDayFrame();
    BuildPageButtons();

    Grid_SpecialDays->installEventFilter(this);
    connect(MyBt_AddDay, &MyButton::Click, this, &SpecialDaysPage::AddDays);
    connect(MyBt_DeleteDay, &MyButton::Click, this, &SpecialDaysPage::DeleteDays);
    connect(MyBt_ImportIcs, &MyButton::Click, this, &SpecialDaysPage::ImportCalendar);
}

void SpecialDaysPage::BuildDayGrid() {
    Grid_SpecialDays =
        Place<QTableWidget>(this, QStringLiteral("Grid_SpecialDays"), {240, 300, 7520, 2520});
    Grid_SpecialDays->setColumnCount(3);
    const QStringList titles = {
        QStringLiteral("日期"), QStringLiteral("类型"), QStringLiteral("备注"), // caption
    };
    Grid_SpecialDays->setHorizontalHeaderLabels(titles);
    Grid_SpecialDays->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid_SpecialDays->setAccessibleName(QStringLiteral("特殊日期")); // caption
    Grid_SpecialDays->setTabKeyNavigation(false); // Tab goes on to the next control
    Grid_SpecialDays->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid_SpecialDays->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Grid_SpecialDays->verticalHeader()->hide();
    Grid_SpecialDays->verticalHeader()->setDefaultSectionSize(Px(300));
    Grid_SpecialDays->setColumnWidth(0, Px(1500));
    Grid_SpecialDays->setColumnWidth(1, Px(1500));
    Grid_SpecialDays->horizontalHeader()->setStretchLastSection(true);
}

void SpecialDaysPage::BuildAddDayFrame() {
    Frm_AddDay = Place<QGroupBox>(this, QStringLiteral("Frm_AddDay"), {240, 2940, 7520, 1140});
    Frm_AddDay->setTitle(QStringLiteral("添加特殊日期"));
    auto* from = Place<QLabel>(Frm_AddDay, QStringLiteral("Label_From"), {180, 360, 300, 300});
    from->setText(QStringLiteral("从"));
    Date_From = Place<QDateEdit>(Frm_AddDay, QStringLiteral("Date_From"), {480, 330, 1500, 330});
    auto* to = Place<QLabel>(Frm_AddDay, QStringLiteral("Label_To"), {2070, 360, 300, 300});
    to->setText(QStringLiteral("到"));
    Date_To = Place<QDateEdit>(Frm_AddDay, QStringLiteral("Date_To"), {2370, 330, 1500, 330});
    Date_From->setAccessibleName(QStringLiteral("开始日期"));
    Date_To->setAccessibleName(QStringLiteral("结束日期"));
    for (QDateEdit* d : {Date_From, Date_To}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    // A range starts where its first day is set; its end follows unless set apart.
    connect(Date_From, &QDateEdit::dateChanged, this, [this](const QDate& d) {
        if (Date_To->date() < d) {
            Date_To->setDate(d);
        }
    });
    Combo_Kind = Place<QComboBox>(Frm_AddDay, QStringLiteral("Combo_Kind"), {4020, 330, 1680, 330});
    Combo_Kind->setAccessibleName(QStringLiteral("类型")); // caption
    Combo_Kind->addItem(KindText(kNoBellsKind), kNoBellsKind);
    const QStringList week = WeekdayNames();
    for (int i = 1; i <= 7; ++i) { // Monday first, as the school week runs
        Combo_Kind->addItem(KindText(week[i % 7]), week[i % 7]);
    }
    Text_Note = Place<QLineEdit>(Frm_AddDay, QStringLiteral("Text_Note"), {5820, 330, 1560, 330});
    Text_Note->setPlaceholderText(QStringLiteral("备注，如 国庆节"));
    Text_Note->setMaxLength(kMaxSpecialDayNote);
    Text_Note->setAccessibleName(QStringLiteral("备注")); // caption
    MyBt_AddDay = MyButton::Create(Frm_AddDay, QStringLiteral("MyBt_AddDay"),
                                   {5980, 735, 1400, 360}, QStringLiteral("添加"));
    MyBt_AddDay->setAccessibleName(QStringLiteral("添加特殊日期"));
}

// The import and delete buttons under the frame, and the hint beside them.
void SpecialDaysPage::BuildPageButtons() {
    MyBt_ImportIcs = MyButton::Create(this, QStringLiteral("MyBt_ImportIcs"),
                                      {4780, 4260, 1400, 450}, QStringLiteral("导入日历…"));
    MyBt_DeleteDay = MyButton::Create(this, QStringLiteral("MyBt_DeleteDay"),
                                      {6360, 4260, 1400, 450}, QStringLiteral("删除"));
    MyBt_DeleteDay->setAccessibleName(QStringLiteral("删除特殊日期"));
    auto* hint = Place<QLabel>(this, QStringLiteral("Label_Hint"), {240, 4290, 4400, 400});
    hint->setText(QStringLiteral("灰色为已过去的日期。更改在返回主窗口后生效。"));
    hint->setStyleSheet(QStringLiteral("color: rgb(110, 120, 160);"));
}

void SpecialDaysPage::Load() {
    if (!datesSet_) {
        // The first opening offers today; later openings keep what was chosen.
        datesSet_ = true;
        Date_From->setDate(Today());
        Date_To->setDate(Today());
    }
    QString error;
    QVector<SpecialDayRow> rows;
    if (!ctx_.conn.SpecialDays(&rows, &error)) {
        rows.clear();
        Notify(QStringLiteral("无法读取特殊日期：%1").arg(error));
    }
    shown_ = rows;
    const QString today = Today().toString(QStringLiteral("yyyy-MM-dd"));
    Grid_SpecialDays->clearContents();
    Grid_SpecialDays->setRowCount(rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        const QString problem = SpecialDayProblemText(rows[i]);
        const QString kind =
            problem.isEmpty() ? KindText(rows[i].kind) : QStringLiteral("无效：%1").arg(problem);
        const QString texts[3] = {rows[i].date, kind, rows[i].note};
        for (int c = 0; c < 3; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            if (!problem.isEmpty()) {
                item->setForeground(kInvalidText);
                item->setToolTip(QStringLiteral("无效，作息不按这一行：%1").arg(problem));
            } else if (rows[i].date < today) {
                item->setForeground(kPastText);
                item->setBackground(kPastBack);
            }
            if (c == 2 && problem.isEmpty()) {
                item->setToolTip(texts[c]);
            }
            Grid_SpecialDays->setItem(i, c, item);
        }
    }
}

bool SpecialDaysPage::eventFilter(QObject* watched, QEvent* e) {
    // The Delete key deletes the selected days, as the delete button does when it may.
    if (watched == Grid_SpecialDays && e->type() == QEvent::KeyRelease &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
        if (MyBt_DeleteDay->isEnabled()) {
            DeleteDays();
        }
        return true;
    }
    return SettingsPage::eventFilter(watched, e);
}

QVector<qint64> SpecialDaysPage::ShownIds() const {
    QVector<qint64> ids;
    for (const SpecialDayRow& r : shown_) {
        ids << r.id;
    }
    return ids;
}

bool SpecialDaysPage::Store(const QVector<SpecialDayRow>& rows, const QString& question) {
    QSet<QString> already;
    for (const SpecialDayRow& r : shown_) {
        already.insert(r.date);
    }
    int replaced = 0;
    for (const SpecialDayRow& r : rows) {
        replaced += already.contains(r.date) ? 1 : 0;
    }
    QString text;
    if (!question.isEmpty()) {
        text = question +
               (replaced > 0
                    ? QStringLiteral("\n其中 %1 天已是特殊日期，将换成新的设置。").arg(replaced)
                    : QString()) +
               QStringLiteral("\n继续吗？");
    } else if (replaced > 0) {
        text = QStringLiteral("其中 %1 天已是特殊日期，要用新的设置替换吗？").arg(replaced);
    }
    if (!text.isEmpty() && !Ask(text)) {
        return false;
    }
    QString error;
    if (!ctx_.conn.AddSpecialDays(rows, &error)) {
        Notify(QStringLiteral("无法保存特殊日期：%1").arg(error));
        return false;
    }
    Load();
    return true;
}

void SpecialDaysPage::AddDays() {
    const QDate from = Date_From->date(), to = Date_To->date();
    if (to < from) {
        Notify(QStringLiteral("结束日期早于开始日期。"));
        return;
    }
    if (from.daysTo(to) >= kMaxRangeDays) {
        Notify(QStringLiteral("一次最多添加 %1 天。").arg(kMaxRangeDays));
        return;
    }
    QVector<SpecialDayRow> rows;
    for (QDate d = from; d <= to; d = d.addDays(1)) {
        rows.push_back({0, d.toString(QStringLiteral("yyyy-MM-dd")),
                        Combo_Kind->currentData().toString(), Text_Note->text().trimmed()});
    }
    if (Store(rows)) {
        Text_Note->clear();
    }
}

void SpecialDaysPage::DeleteDays() {
    QVector<qint64> ids;
    const QModelIndexList selected = Grid_SpecialDays->selectionModel()->selectedRows();
    for (const QModelIndex& i : selected) {
        if (i.row() < shown_.size()) {
            ids << shown_[i.row()].id;
        }
    }
    if (ids.isEmpty()) {
        return;
    }
    if (!Ask(QStringLiteral("确定删除选定的 %1 个特殊日期吗？").arg(ids.size()))) {
        return;
    }
    QString error;
    if (!ctx_.conn.DeleteSpecialDays(ids, &error)) {
        Notify(QStringLiteral("无法删除：%1").arg(error));
    }
    Load();
}

void SpecialDaysPage::ImportCalendar() {
    const QString path = ChooseIcsFile();
    if (path.isEmpty()) {
        return;
    }
    QVector<SpecialDayRow> rows;
    QString error;
    if (!ReadHolidayCalendarFile(path, Today(), &rows, &error)) {
        Notify(QStringLiteral("没有导入任何日期。%1 有错误：%2").arg(path, error));
        return;
    }
    // Shown before anything is written: a file meant for another school or decade is seen.
    const auto [first, last] = std::minmax_element(
        rows.begin(), rows.end(),
        [](const SpecialDayRow& a, const SpecialDayRow& b) { return a.date < b.date; });
    const QString question = QStringLiteral("将从 %1 导入 %2 天无铃声的日期，从 %3 到 %4。")
                                 .arg(path)
                                 .arg(rows.size())
                                 .arg(first->date, last->date);
    if (Store(rows, question)) {
        Notify(QStringLiteral("已从 %1 导入 %2 天无铃声的日期。").arg(path).arg(rows.size()));
    }
}
