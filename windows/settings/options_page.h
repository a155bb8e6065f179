// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>

#include "windows/settings/settings_page.h"

class Autostart;
struct ConfigRow;
class MyButton;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class Text_TimeBox;
struct SettingsContext;

// The options page ("基本设置"): the break-music play order, whether the normal/rain mode is
// remembered, starting with the desktop, starting hidden in the tray, and the daily shutdown
// time. Nothing is stored before apply; apply stores every option at once and hands play
// order, shutdown time and start-hidden to the running program.
class OptionsPage : public SettingsPage {
    Q_OBJECT
public:
    OptionsPage(SettingsContext& ctx, QWidget* parent = nullptr);
    ~OptionsPage() override;

    // Shows the stored options; run each time the page is selected. The remember-mode,
    // start-hidden and shutdown boxes are only ever ticked here, never cleared, so what the
    // user ticked stays ticked until apply.
    void Load() override;
    // The time box can be edited exactly while the shutdown box is ticked.
    void EnableShutdownTime();
    // "应用": stores every option, passes three to the running program, and makes or removes
    // the start-with-the-desktop entry; when that fails, the box and the store say what the
    // desktop will do (the entry there or not) and a notice says why. False when the options
    // could not be stored.
    bool Save() override;
    // Everything here is this computer's own, which no central copy replaces: nothing locks.
    void SetManaged(bool) override {}

    // Where the start-with-the-desktop entry is made: the session's autostart folder unless
    // a test sets another. The page does not take ownership.
    void SetAutostart(Autostart* autostart);
    // Whether what the page shows differs from what is stored: changed, not yet applied.
    bool Pending() const;
    // Before the window closes: changes not applied are applied or dropped as the user
    // answers; false when applying them failed (the window stays, the notice says why).
    bool SettleBeforeClosing();
    // Shows a notice; the program's message box unless a test replaces it.
    std::function<void(const QString& text)> Notify;
    // Asks a yes/no question; the program's message box unless a test replaces it.
    std::function<bool(const QString& text)> Ask;

private:
    void Build();
    // The options as shown.
    ConfigRow Shown() const;
    // Stores the options shown; false, with a notice, when they cannot be.
    bool SaveOptions(ConfigRow* stored);
    // Makes or removes the entry as the box says; false, with a notice, when that fails.
    bool UpdateAutostart();

    SettingsContext& ctx_;
    std::unique_ptr<Text_TimeBox> ShutDownTimeBox; // made the first time the page is loaded
    std::unique_ptr<Autostart> sessionAutostart_;
    Autostart* autostart_ = nullptr;

    QGroupBox* Frm_setplay = nullptr;
    QGroupBox* Frm_FinishSet = nullptr;
    QLabel* Label_PlaySequence = nullptr;
    QRadioButton* Option_PlaySequence[3] = {};
    QCheckBox* Check_Replace = nullptr;
    QCheckBox* Check_StartEndSet = nullptr;
    QCheckBox* Check_TuoPang = nullptr;
    QCheckBox* Check_ShutDown = nullptr;
    QLineEdit* Text_ShutDownTime = nullptr;
    MyButton* MyBt_Apply = nullptr;
    QLabel* Lab_Applied = nullptr; // "已应用 hh:mm:ss" after an apply
    bool loaded_ = false;          // shown at least once in this window
};
