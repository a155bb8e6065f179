// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/main/play_now_dialog.h"

#include "schedule/break_music.h"
#include "widgets/art.h"
#include "widgets/my_button.h"
#include "widgets/ui_font.h"
#include "windows/main/schedule_windows.h"

#include "schedule/zones.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>

namespace {

// The client area, in twips: 5400 × 4200. The region cuts 27 pixels off each side, so
// controls keep 480 twips (32 pixels) in.
constexpr int kClientW = 5400, kClientH = 4200;

QString RowText(const EventRow& r) {
    const QString library = QStringLiteral("课间音乐"); // caption
    const QString what =
        r.musicFile == kBreakMusicFile ? library : QFileInfo(r.musicFile).fileName();
    return QStringLiteral("%1   %2   （%3）").arg(r.startTime, r.event, what);
}

// Rows a line of the list's font high with room around it, and the list a whole number of
// rows high, so the last row shown is never cut by the list's edge.
void FitRows(QListWidget* list) {
    const int row = list->fontMetrics().lineSpacing() + 6;
    const int width = list->contentsRect().width();
    for (int i = 0; i < list->count(); ++i) {
        list->item(i)->setSizeHint(QSize(width, row));
    }
    const int frame = list->height() - list->contentsRect().height();
    const int rows = std::max(1, (list->height() - frame) / row);
    list->resize(list->width(), rows * row + frame);
}

} // namespace

PlayNowDialog::PlayNowDialog(const QVector<EventRow>& events, QWidget* parent,
                             const QStringList& zoneNames)
    : QDialog(parent), events_(events) {
    setObjectName(QStringLiteral("PlayNowDialog"));
    setWindowTitle(QStringLiteral("立即播放"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    setFixedSize(Px(kClientW), Px(kClientH));
    QFont f(UiFontFamily());
    f.setPointSize(9);
    setFont(f);
    // Choosing what to play by hand must not stop the bells.
    SetKeepsScheduleRunning(this);

    skin_ = Skin::Build(this, QRect(0, 0, kClientW, 495), QPoint(600, 165),
                        QRect(kClientW - 780, 150, 300, 270));
    BuildEventList();
    BuildZoneChecks(zoneNames);
    connect(List_TodayEvents, &QListWidget::currentRowChanged, this, &PlayNowDialog::ShowZonesOf);
    FillEventList();
    BuildButtons();
    skin_.Preamble(this);
}

void PlayNowDialog::BuildEventList() {
    List_TodayEvents = new QListWidget(this);
    List_TodayEvents->setObjectName(QStringLiteral("List_TodayEvents"));
    List_TodayEvents->setGeometry(Px(QRect(480, 650, kClientW - 960, 1800)));
    // One line a row: a long name ends in "…" and its tip shows it whole.
    List_TodayEvents->setTextElideMode(Qt::ElideMiddle);
    List_TodayEvents->setUniformItemSizes(true);
    List_TodayEvents->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    List_TodayEvents->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

// Where it plays: the event's own zones, which the user may change for this play.
void PlayNowDialog::BuildZoneChecks(const QStringList& zoneNames) {
    auto* zonesFrame = new QGroupBox(QStringLiteral("播放区域"), this); // caption
    zonesFrame->setObjectName(QStringLiteral("Frame_Zones"));
    zonesFrame->setGeometry(Px(QRect(480, 2520, kClientW - 960, 990)));
    auto* grid = new QGridLayout(zonesFrame);
    grid->setContentsMargins(Px(90), Px(15), Px(90), Px(15));
    grid->setVerticalSpacing(0);
    for (int i = 0; i < kZoneCount; ++i) {
        auto* check = new QCheckBox(zoneNames.value(i, DefaultZoneNames()[i]), zonesFrame);
        check->setObjectName(QStringLiteral("Check_Zone%1").arg(i + 1));
        grid->addWidget(check, i / 3, i % 3);
        zoneChecks_ << check;
    }
}

// A row per event, the first current; or a greyed line saying there is none.
void PlayNowDialog::FillEventList() {
    for (const EventRow& r : events_) {
        auto* item = new QListWidgetItem(RowText(r), List_TodayEvents);
        item->setData(Qt::UserRole, r.id);
        item->setToolTip(RowText(r) + QLatin1Char('\n') + r.musicFile);
    }
    if (events_.isEmpty()) {
        auto* item = new QListWidgetItem(QStringLiteral("今天没有可播放的事件"), List_TodayEvents);
        item->setFlags(Qt::NoItemFlags);
    } else {
        List_TodayEvents->setCurrentRow(0);
    }
    FitRows(List_TodayEvents);
}

void PlayNowDialog::BuildButtons() {
    MyButton_Play =
        MyButton::Create(this, QStringLiteral("MyButton_Play"),
                         QRect(kClientW - 2595, 3600, 975, 375), QStringLiteral("播放"), 2);
    MyButton_Cancel =
        MyButton::Create(this, QStringLiteral("MyButton_Cancel"),
                         QRect(kClientW - 1455, 3600, 975, 375), QStringLiteral("取消"), 1);
    MyButton_Play->SetEnabled(!events_.isEmpty());

    connect(MyButton_Play, &MyButton::Click, this, &PlayNowDialog::ChooseCurrentEvent);
    connect(MyButton_Cancel, &MyButton::Click, this, &QDialog::reject);
    connect(skin_.yButton_Close, &MyButton::Click, this, &QDialog::reject);
    connect(List_TodayEvents, &QListWidget::itemActivated, this,
            &PlayNowDialog::ChooseCurrentEvent);
}

void PlayNowDialog::ShowZonesOf(int row) {
    if (row < 0 || row >= events_.size()) {
        return;
    }
    const QString code = PlayedZoneCode(events_[row].zones);
    for (int i = 0; i < zoneChecks_.size(); ++i) {
        zoneChecks_[i]->setChecked(code[i] == QLatin1Char('1'));
    }
}

QString PlayNowDialog::ChosenZones() const {
    QVector<bool> picked;
    for (const QCheckBox* check : zoneChecks_) {
        picked << check->isChecked();
    }
    return ZoneCodeOf(picked);
}

void PlayNowDialog::ChooseCurrentEvent() {
    const QListWidgetItem* item = List_TodayEvents->currentItem();
    if (!item || !item->data(Qt::UserRole).isValid()) {
        return;
    }
    chosen_ = item->data(Qt::UserRole).toLongLong();
    accept();
}

qint64 PlayNowDialog::Choose(const QVector<EventRow>& events, QWidget* parent,
                             const QStringList& zoneNames, QString* zones) {
    PlayNowDialog dialog(events, parent, zoneNames);
    if (dialog.exec() != QDialog::Accepted) {
        return 0;
    }
    *zones = dialog.ChosenZones();
    return dialog.ChosenId();
}
