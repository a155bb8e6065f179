// SPDX-License-Identifier: GPL-3.0-or-later
// The week page over a week of 1,000 events a day: how long showing a weekday takes (the
// store read, the grid's model and widths, and one repaint), and how long copying one day
// onto the six others takes. Runs offscreen unless a display is chosen.
//   build/bench/bench_settings [rounds]   (default 20)
#include "core/program_vars.h"
#include "core/time_text.h"
#include "store/transaction.h"
#include "support/fakes.h"
#include "windows/settings/setting_form.h"
#include "windows/settings/settings_grid.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kEventsPerDay = 1000;

bool FillWeek(Conn& conn, QString* error) {
    Transaction tx(conn);
    if (!tx.Begin(error)) {
        return false;
    }
    for (const QString& week : WeekdayNames()) {
        for (int i = 0; i < kEventsPerDay; ++i) {
            const bool library = i % 10 == 0;
            EventRow r{0,
                       week,
                       library ? QStringLiteral("曲库_轻音乐") : QStringLiteral("第%1节").arg(i),
                       SecondsToTime(6 * 3600 + i * 60),
                       library ? QStringLiteral("课间音乐曲库")
                               : QStringLiteral("/home/school/music/bell %1.mp3").arg(i),
                       QStringLiteral("00:00:12"),
                       i % 7 == 0 ? QString("") : QStringLiteral("√"),
                       QString(""),
                       QStringLiteral("111111")};
            qint64 id = 0;
            if (!conn.AddEvent(r, &id, error)) {
                return false;
            }
        }
    }
    return tx.Commit(error);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Report(const char* what, std::vector<double> ms) {
    std::printf("%-44s median %7.2f ms  max %7.2f ms  (%zu rounds)\n", what, Median(ms),
                *std::max_element(ms.begin(), ms.end()), ms.size());
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 20;
    QTemporaryDir dir;
    QString error;
    auto conn = Conn::Open(dir.path() + "/Music.db", &error);
    if (!conn || !FillWeek(*conn, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    ProgramVars vars;
    vars.CurWeekName = QStringLiteral("星期一");
    FakePlayer player;
    SettingsState state;
    SettingForm form(vars, *conn, player, state);
    form.show();
    QApplication::processEvents();
    auto* combo = form.findChild<QComboBox*>(QStringLiteral("Combo_Week"));
    auto* grid = form.findChild<FlexGrid*>(QStringLiteral("MSHFlexGrid1"));

    std::vector<double> show;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        combo->setCurrentIndex((combo->currentIndex() + 1) % 7);
        grid->repaint();
        show.push_back(t.nsecsElapsed() / 1e6);
        if (grid->Model()->rowCount() != kEventsPerDay) {
            std::fprintf(stderr, "the grid shows %d rows\n", grid->Model()->rowCount());
            return 1;
        }
    }
    Report("show a weekday of 1,000 events", show);

    std::vector<double> copy;
    QStringList others = WeekdayNames();
    others.removeAll(QStringLiteral("星期一"));
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        if (!conn->CopyDay(QStringLiteral("星期一"), others, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        copy.push_back(t.nsecsElapsed() / 1e6);
    }
    Report("copy one day onto six others (6,000 rows)", copy);
    return 0;
}
