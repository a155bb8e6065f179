// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/central_editor.h"

#include "app/command_line.h"
#include "audio/gst_player.h"
#include "central/central.h"
#include "central/central_thread.h"
#include "central/district_reader.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "store/config_loader.h"
#include "store/conn.h"
#include "windows/settings/district_status_dialog.h"
#include "windows/settings/setting_form.h"
#include "windows/settings/settings_state.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimeZone>

#include <cstdio>
#include <cstdlib>

int RunCentralEditor(const QString& central, const QString& site) {
    QString error;
    std::unique_ptr<Conn> conn = OpenCentralSite(central, site, &error);
    ProgramVars vars;
    if (conn &&
        (!SetReplaceMusicArr(vars, *conn, &error) || !GetConfigValue(vars, *conn, &error))) {
        conn.reset();
    }
    if (!conn) {
        const QString text = QStringLiteral("无法打开中心时间表的站点“%1”：%2").arg(site, error);
        PlayLog(QStringLiteral("error %1").arg(text));
        if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
            QMessageBox::critical(nullptr, QStringLiteral("Belvoran"), text);
        }
        return 1;
    }
    PlayLog(QStringLiteral("editing site %1 of the central timetable").arg(site));
    GstPlayer player; // measures the lengths of the music chosen
    SettingsState state;
    SettingForm settings(vars, *conn, player, state);
    // The options (start-up, shutdown, play order) belong to each computer, not to the site.
    settings.Frame(SettingForm::kOptionsPage)->setEnabled(false);
    settings.setWindowTitle(QStringLiteral("详细设置 — 中心时间表：%1").arg(site));
    if (!conn->ReadOnlyReason().isEmpty()) {
        // An account that may only look at this site: nothing can be changed, and it says why.
        settings.ShowReadOnlyFor(conn->ReadOnlyReason());
        settings.setWindowTitle(settings.windowTitle() + QStringLiteral("（只读）"));
        PlayLog(QStringLiteral("site %1 opened read-only: %2").arg(site, conn->ReadOnlyReason()));
    }
    // The title strip drawn over the window says which site this is, too.
    if (auto* title = settings.findChild<QLabel*>(QStringLiteral("Lab_FormTitle"))) {
        title->setText(settings.windowTitle());
        title->adjustSize();
    }
    settings.SetDistrictView([&central, &settings] {
        // Dates and bell times are the computers' local ones: this desk's zone is theirs.
        DistrictReader reader(central, QString::fromUtf8(QTimeZone::systemTimeZoneId()));
        DistrictStatusDialog view(reader, QDate::currentDate(), &settings);
        view.exec();
    });
    settings.exec();
    if (CentralThread::LeftRunning() > 0) {
        // Still connecting to a server that does not answer: the exit handlers must not
        // run beside that thread.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}

bool RememberCentral(const CommandLine& cl, Conn& conn, QString* central, QString* site,
                     QString* error) {
    if (cl.noCentral && !conn.SetFollowedSite({}, {}, error)) {
        return false;
    }
    if (!cl.central.isEmpty() && !conn.SetFollowedSite(cl.central, cl.site, error)) {
        return false;
    }
    return conn.FollowedSite(central, site, error);
}
