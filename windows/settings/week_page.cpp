// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/week_page.h"

#include "audio/player.h"
#include "core/program_vars.h"
#include "core/reason_text.h"
#include "core/time_text.h"
#include "schedule/break_music.h"
#include "schedule/zones.h"
#include "store/conn.h"
#include "widgets/art.h"
#include "widgets/my_button.h"
#include "windows/editor/modify_event.h"
#include "windows/settings/settings_grid.h"

#include <QComboBox>
#include <QEvent>
#include <QListWidget>

namespace {

const QString kCopyIdle = QStringLiteral("复制到");
const QString kCopyChoosing = QStringLiteral("确定");
const QColor kProblemColour(255, 150, 150);

// Widths in twips of the events' columns in table order (0 hides, -1 the grid's default).
const QVector<int> kWidths = {0, 0, 1500, 850, 3500, 850, 300, -1, 2700};

} // namespace

WeekPage::WeekPage(SettingsContext& ctx, QWidget* parent) : SettingsPage(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frame(0)"));

    weekdayBox_ = new QComboBox(this);
    weekdayBox_->setObjectName(QStringLiteral("Combo_Week"));
    weekdayBox_->addItems(WeekdayNames());
    weekdayBox_->setGeometry(Px(QRect(120, 240, 1500, 330)));
    weekdayBox_->setCurrentIndex(-1);
    weekdayBox_->setAccessibleName(QStringLiteral("星期"));
    connect(weekdayBox_, &QComboBox::currentIndexChanged, this, &WeekPage::ShowChosenWeekday);

    BuildWeekGrid();
    connect(weekGrid_, &FlexGrid::DeleteKeyReleased, this, &WeekPage::DeleteEvents);
    connect(weekGrid_, &FlexGrid::OpenRow, this, &WeekPage::EditCurrentEvent);

    addButton_ = MyButton::Create(this, QStringLiteral("MyBt_AddEvent"),
                                  QRect(3480, 4080, 975, 375), QStringLiteral("添加"), 1);
    deleteButton_ = MyButton::Create(this, QStringLiteral("MyBt_DelEvent"),
                                     QRect(4560, 4080, 975, 375), QStringLiteral("删除"), 1);
    copyButton_ = MyButton::Create(this, QStringLiteral("MyBt_CopyDay"),
                                   QRect(5640, 4080, 975, 375), kCopyIdle, 1);
    addButton_->setShortcut(QKeySequence(Qt::Key_Insert)); // as Delete deletes
    connect(addButton_, &MyButton::Click, this, &WeekPage::AddEvent);
    connect(deleteButton_, &MyButton::Click, this, &WeekPage::DeleteEvents);
    connect(copyButton_, &MyButton::Click, this, &WeekPage::CopyDay);
    connect(weekGrid_, &FlexGrid::Reloaded, this, [this](bool empty) {
        copyButton_->SetEnabled(!empty);
        deleteButton_->SetEnabled(!empty);
        CheckRows();
    });

    copyTargets_ = new QListWidget(this);
    copyTargets_->setObjectName(QStringLiteral("List_SelCopyDay"));
    copyTargets_->setSelectionMode(QAbstractItemView::MultiSelection);
    copyTargets_->setAccessibleName(QStringLiteral("复制到的星期"));
    copyTargets_->setGeometry(Px(QRect(5640, 4080 - 1560, 975, 1560)));
    copyTargets_->hide();
    copyTargets_->installEventFilter(this);

    OpenEditor = [this](const QString& weekName, qint64 id) {
        return ModifyEvent::Edit(ctx_.vars, ctx_.conn, ctx_.player, weekName, id, window());
    };
}

void WeekPage::BuildWeekGrid() {
    weekGrid_ = new FlexGrid(QStringLiteral("MSHFlexGrid1"), this);
    weekGrid_->setGeometry(Px(QRect(120, 660, 7760, 3300)));
    weekGrid_->SetColumnWidths(kWidths);
    weekGrid_->setAccessibleName(QStringLiteral("播放事件"));
    // Red: a row that is to ring but cannot; its tip says why.
    weekGrid_->Model()->RowColour = [this](const GridModel& m, int row) {
        if (row < rowProblems_.size() && !rowProblems_[row].isEmpty() &&
            GridEvent(m.Data(), row).playFlag == kPlayFlag) {
            return kProblemColour;
        }
        return WeekGridRowColour(m, row);
    };
    weekGrid_->Model()->RowTip = [this](const GridModel&, int row) {
        return row < rowProblems_.size() ? rowProblems_[row] : QString();
    };
    // The zones are read by their names; the stored code stays as it is.
    weekGrid_->Model()->CellText = [this](const GridModel& m, int row, int column) {
        const QString text = m.Data().rows[row].value(column).toString();
        return column == GridZoneColumn(m.Data()) ? ZoneNamesText(text, zoneNames_) : text;
    };
}

void WeekPage::Load() {
    fileChecks_.clear(); // a file may have been put right meanwhile
    QString week = ctx_.state.WeekName;
    if (!WeekdayNames().contains(week)) {
        week = ctx_.vars.CurWeekName; // the first opening of the run: today's weekday
    }
    if (!WeekdayNames().contains(week)) {
        week = WeekdayName(ctx_.clock.Now().date());
    }
    const int index = WeekdayNames().indexOf(week);
    if (weekdayBox_->currentIndex() == index) {
        ShowWeek(week);
    } else {
        weekdayBox_->setCurrentIndex(index); // runs the weekday change
    }
}

void WeekPage::ShowChosenWeekday() {
    if (weekdayBox_->currentIndex() >= 0) {
        ShowWeek(weekdayBox_->currentText());
    }
}

void WeekPage::ShowWeek(const QString& weekName) {
    ctx_.state.WeekName = weekName;
    ctx_.state.Sql(GridIndex::Week) = GridQuery::WeekDay(weekName);
    ReFleshGrid(weekGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Week));
    copyTargets_->clear();
    for (const QString& name : WeekdayNames()) {
        if (name != weekName) {
            copyTargets_->addItem(name);
        }
    }
}

void WeekPage::CheckRows() {
    const GridModel& m = *weekGrid_->Model();
    QVector<ZoneRow> zones;
    zoneNames_.clear();
    if (ctx_.conn.Zones(&zones)) {
        for (const ZoneRow& z : zones) {
            zoneNames_ << z.name;
        }
    }
    QHash<QString, bool> libraryHasSongs; // read afresh: the music page changes them
    rowProblems_.clear();
    for (int row = 0; !m.IsEmpty() && row < m.Data().rows.size(); ++row) {
        const EventRow event = GridEvent(m.Data(), row);
        rowProblems_ << RowProblem(event.startTime, event.event, event.musicFile, &libraryHasSongs);
    }
    weekGrid_->viewport()->update();
}

QString WeekPage::RowProblem(const QString& start, const QString& event, const QString& file,
                             QHash<QString, bool>* libraryHasSongs) {
    if (!IsTimeText(start)) {
        return QStringLiteral("开始时间“%1”不是 hh:mm:ss 形式的时间，这个事件不会播放").arg(start);
    }
    if (file == kBreakMusicFile) {
        if (!libraryHasSongs->contains(event)) {
            QVector<SongRow> songs;
            // A library that cannot be read now is not called empty.
            (*libraryHasSongs)[event] = !ctx_.conn.LibrarySongs(event, &songs) || !songs.isEmpty();
        }
        return libraryHasSongs->value(event)
                   ? QString()
                   : QStringLiteral("课间音乐曲库“%1”中没有歌曲，这个事件不会播放").arg(event);
    }
    auto checked = fileChecks_.find(file);
    if (checked == fileChecks_.end()) {
        checked = fileChecks_.insert(file, ctx_.player.WhyUnplayable(file));
    }
    return checked->isEmpty()
               ? QString()
               : QStringLiteral("无法播放：%1（%2）").arg(file, ReasonForPeople(*checked));
}

void WeekPage::AddEvent() {
    AfterEdit(OpenEditor(ctx_.state.WeekName, 0));
}

void WeekPage::EditCurrentEvent() {
    const qint64 id = weekGrid_->CurrentId();
    if (id != 0) {
        AfterEdit(OpenEditor(ctx_.state.WeekName, id));
    }
}

// A save reloads the grid with the saved row selected; a cancel leaves the grid as it was.
void WeekPage::AfterEdit(qint64 savedId) {
    if (savedId == 0) {
        return;
    }
    ReFleshGrid(weekGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Week));
    weekGrid_->SelectId(savedId);
}

void WeekPage::DeleteEvents() {
    DeleteGridRows(weekGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Week));
}

void WeekPage::CopyDay() {
    if (copyButton_->BtCaption() == kCopyIdle) {
        copyButton_->SetBtCaption(kCopyChoosing);
        copyTargets_->clearSelection();
        copyTargets_->show();
        copyTargets_->raise();
        copyTargets_->setFocus();
        return;
    }
    copyTargets_->hide();
    copyButton_->SetBtCaption(kCopyIdle);
    QStringList targets;
    for (int i = 0; i < copyTargets_->count(); ++i) {
        if (copyTargets_->item(i)->isSelected()) {
            targets << copyTargets_->item(i)->text();
        }
    }
    if (targets.isEmpty()) {
        return;
    }
    const QString week = ctx_.state.WeekName;
    // The question names what will be lost: the targets' own events are replaced.
    const QString days = targets.join(QStringLiteral("、"));
    if (!Ask(QStringLiteral("复制到..."),
             QStringLiteral("%1 的全部事件将被 %2 的事件替换。确定复制吗？").arg(days, week),
             true)) {
        return;
    }
    QString error;
    if (!ctx_.conn.CopyDay(week, targets, &error)) {
        Ask(QStringLiteral("复制失败"),
            QStringLiteral("没有复制任何事件，所选星期保持原样：%1").arg(error), false);
        return;
    }
    Ask(QStringLiteral("复制完成"), QStringLiteral("%1 的事件已复制到 %2。").arg(week, days),
        false);
}

bool WeekPage::Ask(const QString& title, const QString& text, bool confirm) {
    return weekGrid_->Ask(title, text, confirm ? MsgMode::Confirm : MsgMode::Notice);
}

bool WeekPage::eventFilter(QObject* watched, QEvent* e) {
    if (watched == copyTargets_ && e->type() == QEvent::FocusOut) {
        copyTargets_->hide();
    }
    return SettingsPage::eventFilter(watched, e);
}

QList<QWidget*> WeekPage::LiveWhileManaged() const {
    return {weekdayBox_};
}
