// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/follow_central.h"

#include "central/follower.h"
#include "schedule/schedule_engine.h"
#include "store/config_loader.h"
#include "windows/main/central_line.h"
#include "windows/main/main_form.h"

void ReadEachCopy(CentralFollower& follower, ProgramVars& vars, Conn& store,
                  ScheduleEngine& engine) {
    QObject::connect(&follower, &CentralFollower::Pulled, &engine,
                     [&vars, &store, &engine](bool changed) {
                         if (!changed || !store.IsOpen()) {
                             return;
                         }
                         SetReplaceMusicArr(vars, store);
                         SetClassMusicArr(vars, store);
                         if (engine.Running()) {
                             engine.LoadTodayEvents();
                         }
                     });
}

void ShowFollower(CentralFollower& follower, MainForm& window) {
    window.FollowCentral(follower.Site());
    QObject::connect(&follower, &CentralFollower::Pulled, &window, [&window](bool changed) {
        if (changed) {
            window.ShowNewCopy();
        }
    });
    QObject::connect(&follower, &CentralFollower::StateChanged, &window, [&window, &follower] {
        window.ShowCentralState(CentralLineText(follower.State()));
    });
}
