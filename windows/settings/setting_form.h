// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QTimer>
#include <functional>

#include "store/conn.h"
#include "widgets/skin.h"
#include "windows/settings/menu_layout.h"
#include "windows/settings/settings_context.h"
#include "windows/settings/settings_page.h"

class MyButton;

// The settings window "详细设置": a skinned, borderless, modal window with an accordion menu
// of two headings and six entries on the left; each entry shows its page on the right.
// Changes go to the store as they are made; the window sends nothing on close (the main
// window re-reads today's events when it is active again).
class SettingForm : public QDialog {
    Q_OBJECT
public:
    // A central site this session's account may not change: every page read-only, saying
    // why at the top right and on each control that cannot be used.
    void ShowReadOnlyFor(const QString& why);
    static constexpr int kClientW = 11235; // twips: 749 x 385 pixels
    static constexpr int kClientH = 5775;
    static constexpr int kPageCount = 6;
    static constexpr int kOptionsPage = 3;

    SettingForm(ProgramVars& vars, Conn& conn, Player& player, SettingsState& state,
                QWidget* parent = nullptr);

    // Selects entry index (0..5): loads its page and shows it. Selecting the entry already
    // shown does nothing.
    void SelectPage(int index);
    // Shows the page of the selected entry at the page rectangle.
    void DisplayFrame();
    // Opens heading index (0 or 1); the shown page does not change.
    void OpenHeading(int index);
    // Reads the shown page afresh from the store (a new copy of the central site came).
    void ReloadPage();

    int CurMenu() const { return curMenu_; }
    int CurGroup() const { return curGroup_; }
    QFrame* Frame(int index) const { return pages_[index]; }

    // Closing, by any way: options changed and not applied are applied or dropped first, as
    // the user answers; a failed apply keeps the window open.
    void done(int result) override;

    // The accordion's geometry for the open heading, in twips.
    MenuLayoutInput MenuGeometry() const;

    // The schedule is stopped while this window is open: dueSoon gives the events that are
    // due so soon they will not ring, and the title strip names them, asked again every
    // second ("10:00:00 上课 将不会播放，请先关闭设置"); nothing while none is due.
    void SetDueSoon(std::function<QVector<EventRow>()> dueSoon);
    // Editing a central site: a button beside the change-records button that calls open, which
    // shows the district's computers ("各校状态").
    void SetDistrictView(std::function<void()> open);
    // Asks dueSoon and shows the answer in the title strip (the timer's tick).
    void ShowDueSoon();

protected:
    void showEvent(QShowEvent* e) override;

private:
    SettingsPage* MakePage(int index);
    void BuildMenu();
    void BuildDueWarning();
    // While this computer follows a central site: every page but the options read-only.
    void ShowManaged();
    // The label at the page area's top right saying the pages cannot be changed, and why.
    void ShowReadOnlyLabel(const QString& text, const QString& tip);
    // Editing a central site: a button that shows the site's record of changes.
    void BuildChangeRecordsButton();
    void LayoutMenu();
    void OrderTabs();

    SettingsContext ctx_;
    Skin skin_;
    int curMenu_ = 0;
    int curGroup_ = 0;
    MyButton* Menu_[2] = {};
    MyButton* MenuGroup_[kPageCount] = {};
    QFrame* Shape_ListButton = nullptr;
    QLabel* Lab_FrameCaption = nullptr;
    QLabel* Lab_DueWarning = nullptr;
    QLabel* Lab_Managed = nullptr; // "由中心时间表管理" while following
    QTimer* dueTimer_ = nullptr;
    std::function<QVector<EventRow>()> dueSoon_;
    SettingsPage* pages_[kPageCount] = {};
};
