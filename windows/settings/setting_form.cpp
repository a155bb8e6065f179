// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/setting_form.h"

#include "core/program_vars.h"
#include "store/conn.h"
#include "widgets/art.h"
#include "widgets/my_button.h"
#include "windows/settings/change_records_dialog.h"
#include "windows/settings/holidays_page.h"
#include "windows/settings/music_page.h"
#include "windows/settings/options_page.h"
#include "windows/settings/replace_page.h"
#include "windows/settings/week_page.h"
#include "windows/settings/zones_page.h"

namespace {

// The menu and the page area, in twips.
constexpr int kMenuLeft = 480;
constexpr int kMenuTop = 700;
constexpr int kMenuWidth = 1600;
constexpr int kMenuHeight = 450;
constexpr int kDrawerHeight = 3950;
constexpr int kEntrySize = 1050;
constexpr int kGroupCount[2] = {3, 3};
const QRect kPageRect(2200, 700, 8000, 4900);
// Inside the rounded region's top-right corner, so it is whole and clickable.
const QRect kCloseButton(10380, 180, 300, 270);

struct Entry {
    const char* caption;
    int style;
};
// clang-format off
const Entry kEntries[SettingForm::kPageCount] = {
    {"一周设置", 1}, {"课间音乐", 2}, {"雨天音乐", 4}, // caption
    {"基本设置", 3}, {"特殊日期", 7}, {"播放区域", 6}}; // caption
// clang-format on
const char* const kHeadings[2] = {"曲库设置", "系统设置"};

} // namespace

SettingForm::SettingForm(ProgramVars& vars, Conn& conn, Player& player, SettingsState& state,
                         QWidget* parent)
    : QDialog(parent), ctx_{vars, conn, player, state} {
    setObjectName(QStringLiteral("SettingForm"));
    setWindowTitle(QStringLiteral("详细设置"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    setFixedSize(Px(kClientW), Px(kClientH));
    skin_ = Skin::Build(this, QRect(0, 0, kClientW, 495), QPoint(600, 165), kCloseButton);
    skin_.yButton_Close->setObjectName(QStringLiteral("MyButton_Close"));
    skin_.yButton_Close->setToolTip(QStringLiteral("关闭"));
    skin_.yButton_Close->setAccessibleName(QStringLiteral("关闭"));
    connect(skin_.yButton_Close, &MyButton::Click, this, &QDialog::reject);

    BuildMenu();
    for (int i = 0; i < kPageCount; ++i) {
        pages_[i] = MakePage(i);
        pages_[i]->hide();
    }
    Lab_FrameCaption = new QLabel(this);
    Lab_FrameCaption->setObjectName(QStringLiteral("Lab_FrameCaption"));
    skin_.Preamble(this);
    BuildDueWarning();
    if (!state.managedSite.isEmpty()) {
        ShowManaged();
    }
    if (!conn.Site().isEmpty()) {
        BuildChangeRecordsButton();
    }

    curMenu_ = 0;
    curGroup_ = 0;
    DisplayFrame();
    LayoutMenu();
    MenuGroup_[0]->SelBackColor(2);
    pages_[0]->Load(); // the week page
    OrderTabs();
}

// Each heading, then its entries, then the page shown; the close button last.
void SettingForm::OrderTabs() {
    QWidget* previous = Menu_[0];
    for (int i = 0; i < kPageCount; ++i) {
        if (i == kGroupCount[0]) {
            QWidget::setTabOrder(previous, Menu_[1]);
            previous = Menu_[1];
        }
        QWidget::setTabOrder(previous, MenuGroup_[i]);
        previous = MenuGroup_[i];
    }
    skin_.CloseInTabOrder(Menu_[0]);
}

// One line per page: the page class that fills entry index.
SettingsPage* SettingForm::MakePage(int index) {
    switch (index) {
    case 0:
        return new WeekPage(ctx_, this);
    case 1:
        return new MusicPage(ctx_, this);
    case 2:
        return new ReplacePage(ctx_, this);
    case 3:
        return new OptionsPage(ctx_, this);
    case 4:
        return new SpecialDaysPage(ctx_, this);
    default:
        return new ZonesPage(ctx_, this);
    }
}

void SettingForm::done(int result) {
    if (auto* options = qobject_cast<OptionsPage*>(pages_[kOptionsPage]);
        options && !options->SettleBeforeClosing()) {
        return;
    }
    QDialog::done(result);
}

void SettingForm::ShowManaged() {
    for (SettingsPage* page : pages_) {
        page->SetManaged(true);
    }
    ShowReadOnlyLabel(QStringLiteral("由中心时间表管理"),
                      QStringLiteral("站点 %1 的时间表在中心时间表中修改；这里是它的只读副本")
                          .arg(ctx_.state.managedSite));
}

void SettingForm::ShowReadOnlyFor(const QString& why) {
    for (SettingsPage* page : pages_) {
        page->ShowReadOnly(why);
    }
    ShowReadOnlyLabel(QStringLiteral("只读"), why);
}

void SettingForm::BuildChangeRecordsButton() {
    // In the title strip, left of the close button.
    auto* records = MyButton::Create(
        this, QStringLiteral("MyBt_ChangeRecords"),
        QRect(kCloseButton.left() - 1300, kCloseButton.top(), 1150, kCloseButton.height()),
        QStringLiteral("修改记录"), 1); // caption
    records->setToolTip(QStringLiteral("本站点最近的修改：何时、由哪个中心账号、改了什么"));
    connect(records, &MyButton::Click, this, [this] {
        ChangeRecordsDialog dialog(ctx_.conn, this);
        dialog.exec();
    });
}

void SettingForm::SetDistrictView(std::function<void()> open) {
    // In the title strip, left of the change-records button.
    const int left = kCloseButton.left() - 2 * 1300;
    auto* district = MyButton::Create(this, QStringLiteral("MyBt_DistrictStatus"),
                                      QRect(left, kCloseButton.top(), 1150, kCloseButton.height()),
                                      QStringLiteral("各校状态"), 1); // caption
    district->setToolTip(QStringLiteral("各校计算机的心跳、铃声和时钟：哪些需要查看"));
    connect(district, &MyButton::Click, this, std::move(open));
}

void SettingForm::ShowReadOnlyLabel(const QString& text, const QString& tip) {
    Lab_Managed = new QLabel(text, this);
    Lab_Managed->setObjectName(QStringLiteral("Lab_Managed"));
    Lab_Managed->setToolTip(tip);
    Lab_Managed->setStyleSheet(QStringLiteral(
        "color: rgb(170, 20, 20); font-weight: bold; background: rgb(245, 245, 250);"));
    Lab_Managed->adjustSize();
    Lab_Managed->move(Px(kPageRect.right()) - Lab_Managed->width() - 12,
                      Px(kPageRect.top()) - Lab_Managed->height() / 2);
}

void SettingForm::BuildDueWarning() {
    Lab_DueWarning = new QLabel(this);
    Lab_DueWarning->setObjectName(QStringLiteral("Lab_DueWarning"));
    // Over the drag handle, which still moves the window through it.
    Lab_DueWarning->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Dark red on a yellow ground: red alone is lost on the blue strip.
    Lab_DueWarning->setStyleSheet(QStringLiteral("color: rgb(170, 20, 20); background: rgb(255, "
                                                 "236, 140); border-radius: 3px; padding: 1px 6px; "
                                                 "font-weight: bold;"));
    Lab_DueWarning->hide();
    dueTimer_ = new QTimer(this);
    dueTimer_->setObjectName(QStringLiteral("Timer_Due"));
    dueTimer_->setInterval(1000);
    connect(dueTimer_, &QTimer::timeout, this, &SettingForm::ShowDueSoon);
}

void SettingForm::SetDueSoon(std::function<QVector<EventRow>()> dueSoon) {
    dueSoon_ = std::move(dueSoon);
    ShowDueSoon();
    dueTimer_->start();
}

void SettingForm::ShowDueSoon() {
    const QVector<EventRow> due = dueSoon_ ? dueSoon_() : QVector<EventRow>();
    if (due.isEmpty()) {
        Lab_DueWarning->hide();
        return;
    }
    QString what = QStringLiteral("%1 %2").arg(due[0].startTime, due[0].event);
    if (due.size() > 1) {
        what += QStringLiteral(" 等 %1 个铃声").arg(due.size());
    }
    // Between the window's title and the close button, a long event name shortened.
    Lab_DueWarning->ensurePolished(); // the style sheet's bold font measures the text
    const int left = skin_.Lab_FormTitle->geometry().right() + 24;
    const int right = Px(kCloseButton.left()) - 12;
    const QString text = QStringLiteral("%1 将不会播放，请先关闭设置").arg(what);
    Lab_DueWarning->setText(
        Lab_DueWarning->fontMetrics().elidedText(text, Qt::ElideMiddle, right - left - 16));
    Lab_DueWarning->adjustSize();
    // Centred in the part of the title strip the window's rounded shape shows.
    const int top = mask().isEmpty() ? 0 : mask().boundingRect().top();
    Lab_DueWarning->move(right - Lab_DueWarning->width(),
                         top + (Px(495) - top - Lab_DueWarning->height()) / 2);
    Lab_DueWarning->show();
    Lab_DueWarning->raise();
}

void SettingForm::BuildMenu() {
    Shape_ListButton = new QFrame(this);
    Shape_ListButton->setObjectName(QStringLiteral("Shape_ListButton"));
    Shape_ListButton->setFrameShape(QFrame::Box);
    Shape_ListButton->setStyleSheet(
        QStringLiteral("#Shape_ListButton { border: 1px solid rgb(155,155,255); "
                       "background: rgb(245,245,250); }"));
    for (int i = 0; i < 2; ++i) {
        Menu_[i] = MyButton::Create(this, QStringLiteral("Menu(%1)").arg(i),
                                    QRect(kMenuLeft, kMenuTop, kMenuWidth, kMenuHeight),
                                    QString::fromUtf8(kHeadings[i]), 1);
        connect(Menu_[i], &MyButton::Click, this, [this, i] { OpenHeading(i); });
    }
    for (int i = 0; i < kPageCount; ++i) {
        MenuGroup_[i] = MyButton::Create(
            this, QStringLiteral("MenuGroup(%1)").arg(i), QRect(0, 0, kEntrySize, kEntrySize),
            QString::fromUtf8(kEntries[i].caption), 1, kEntries[i].style);
        connect(MenuGroup_[i], &MyButton::Click, this, [this, i] { SelectPage(i); });
    }
}

MenuLayoutInput SettingForm::MenuGeometry() const {
    MenuLayoutInput in;
    in.curMenu = curMenu_;
    in.groupCount[0] = kGroupCount[0];
    in.groupCount[1] = kGroupCount[1];
    in.menuTop = kMenuTop;
    in.menuHeight = kMenuHeight;
    in.drawerLeft = kMenuLeft;
    in.drawerWidth = kMenuWidth;
    in.drawerHeight = kDrawerHeight;
    in.entrySize = kEntrySize;
    return in;
}

void SettingForm::LayoutMenu() {
    const MenuLayoutResult r = LayoutMenuPositions(MenuGeometry());
    Shape_ListButton->setGeometry(Px(QRect(kMenuLeft, r.drawerTop, kMenuWidth, kDrawerHeight)));
    Menu_[1]->move(Px(kMenuLeft), Px(r.secondMenuTop));
    for (MyButton* b : MenuGroup_) {
        b->hide();
    }
    for (int k = 0; k < r.entries.size(); ++k) {
        MyButton* b = MenuGroup_[r.firstEntry + k];
        b->move(Px(r.entries[k].x()), Px(r.entries[k].y()));
        b->show();
        b->raise();
    }
    Menu_[0]->raise();
    Menu_[1]->raise();
}

void SettingForm::ReloadPage() {
    pages_[curGroup_]->Load();
}

void SettingForm::OpenHeading(int index) {
    curMenu_ = index;
    LayoutMenu();
}

void SettingForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // A button shown for the first time draws itself afresh: mark the entry once they are up.
    MenuGroup_[curGroup_]->SelBackColor(2);
}

void SettingForm::SelectPage(int index) {
    if (index < 0 || index >= kPageCount) {
        return;
    }
    if (index == curGroup_) {
        MenuGroup_[curGroup_]->SelBackColor(2); // the click's release unmarked it
        return;
    }
    pages_[curGroup_]->hide();
    MenuGroup_[curGroup_]->SelBackColor(0);
    curGroup_ = index;
    MenuGroup_[curGroup_]->SelBackColor(2);
    pages_[curGroup_]->Load();
    DisplayFrame();
}

void SettingForm::DisplayFrame() {
    QFrame* frame = pages_[curGroup_];
    frame->setGeometry(Px(kPageRect));
    frame->setFrameShape(QFrame::Box);
    frame->setAutoFillBackground(true);
    QPalette pal = frame->palette();
    pal.setColor(QPalette::Window, QColor(245, 245, 250));
    frame->setPalette(pal);
    const QString caption = MenuGroup_[curGroup_]->BtCaption();
    frame->setWindowTitle(caption);
    if (auto* inner = frame->findChild<QFrame*>(QStringLiteral("Frame_ReplaceMusic"))) {
        QPalette p = inner->palette();
        p.setColor(QPalette::Window, QColor::fromRgb(ctx_.vars.FrameBackColor));
        inner->setAutoFillBackground(true);
        inner->setPalette(p);
    }
    frame->show();
    // The caption sits on the frame's top line, as a frame's caption does.
    Lab_FrameCaption->setText(QStringLiteral(" %1 ").arg(caption));
    Lab_FrameCaption->adjustSize();
    Lab_FrameCaption->move(frame->x() + 10, frame->y() - Lab_FrameCaption->height() / 2);
    Lab_FrameCaption->setStyleSheet(QStringLiteral("background: rgb(245,245,250);"));
    Lab_FrameCaption->raise();
    if (Lab_Managed) {
        Lab_Managed->setVisible(curGroup_ != kOptionsPage);
        Lab_Managed->raise();
    }
}
