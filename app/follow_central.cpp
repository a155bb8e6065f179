// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/follow_central.h"

#include "central/follower.h"
#include "schedule/schedule_engine.h"
#include "windows/main/central_line.h"
#include "windows/main/main_form.h"

namespace {

void CopyArrived(bool changed, MainForm& window, ScheduleEngine& engine) {
    if (!changed) {
        return;
    }
    // The lists the engine looks up, then today's events.
    window.ReloadLists();
    if (engine.Running()) {
        engine.LoadTodayEvents();
    }
}

} // namespace

void ShowFollower(CentralFollower& follower, MainForm& window, ScheduleEngine& engine) {
    window.FollowCentral(follower.Site());
    QObject::connect(&follower, &CentralFollower::Pulled, &window,
                     [&window, &engine](bool changed) { CopyArrived(changed, window, engine); });
    QObject::connect(&follower, &CentralFollower::StateChanged, &window, [&window, &follower] {
        window.ShowCentralState(CentralLineText(follower.State()));
    });
}
