// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: command line, single instance, the store, then the main window or the service.
#include "app/application.h"
#include "app/central_editor.h"
#include "app/command_line.h"
#include "app/remote_command.h"
#include "app/service_run.h"
#include "central/central.h"
#include "central/central_thread.h"
#include "central/follower.h"
#include "core/clock.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "core/version.h"
#include "store/config_loader.h"
#include "store/conn.h"
#include "system/service_notify.h"
#include "system/single_instance.h"
#include "system/stop_signals.h"
#include "widgets/skin.h"
#include "widgets/ui_font.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QSqlDatabase>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

namespace {

// A start-up failure: on standard error always, and in a message box where there is a
// screen to show it on (never in a service, which has no window).
int Fail(const QString& message) {
    PlayLog(QStringLiteral("error %1").arg(message));
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) &&
        QGuiApplication::platformName() != QLatin1String("offscreen")) {
        QMessageBox::critical(nullptr, QStringLiteral("Belvoran"), message);
    }
    return 1;
}

// The command line's words as the locale spells them.
QStringList Arguments(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    return args;
}

// Makes or upgrades the central timetable's tables, as a district's server is set up: on a
// machine with no display, before any site exists.
int MakeCentralSchema(const QString& central) {
    int argc = 1;
    char name[] = "belvoran";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const QString connection = QStringLiteral("central-schema");
    int version = 0;
    QString error;
    const bool ok = OpenCentralDatabase(central, connection, &version, &error);
    QSqlDatabase::removeDatabase(connection);
    if (!ok) {
        std::fprintf(stderr, "belvoran: %s\n", error.toUtf8().constData());
        return 1;
    }
    std::printf(
        "%s\n",
        QStringLiteral("中心时间表的表已就绪（第 %1 版）").arg(version).toUtf8().constData());
    return 0;
}

// What a command line that needs no window, or that has none to show, comes to: the exit
// status, or -1 to run.
int AnswerWithoutWindow(const CommandLine& cl) {
    switch (cl.action) {
    case CommandLine::ShowHelp:
        std::fputs(HelpText().toUtf8().constData(), stdout);
        return 0;
    case CommandLine::ShowVersion:
        std::puts(VersionText().toUtf8().constData());
        return 0;
    case CommandLine::Error:
        std::fputs(UsageErrorText(cl.error).toUtf8().constData(), stderr);
        return 2;
    case CommandLine::Status:
    case CommandLine::Play:
    case CommandLine::Stop:
        return RunRemoteCommand(cl);
    case CommandLine::MakeCentralSchema:
        return MakeCentralSchema(cl.central);
    case CommandLine::Run:
        break;
    }
    if (!cl.service && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("belvoran: no desktop session to show its window in (DISPLAY and "
                   "WAYLAND_DISPLAY are not set); start it from the desktop.\n",
                   stderr);
        return 1;
    }
    return -1;
}

// The program's name, font and language; qtText carries Qt's own words in Chinese.
void SetUpLooks(QTranslator& qtText) {
    QApplication::setApplicationName(QStringLiteral("Belvoran"));
    QApplication::setApplicationVersion(kVersionText);
    QApplication::setQuitOnLastWindowClosed(false); // it lives on in the tray
    QApplication::setFont(UiFont());
    // The program speaks Chinese: so do Qt's own dialogs (the file chooser's buttons).
    if (qtText.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                    QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtText);
    }
}

// The exit status when this copy is not to run, else -1: on the desktop another copy is asked
// to show its window, as a desktop program started again does; a service says it and fails.
int TakeTheLock(SingleInstance& instance, bool service) {
    switch (instance.TryLock()) {
    case SingleInstance::HeldByAnother:
        if (service) {
            return Fail(QStringLiteral("another copy of Belvoran runs (its lock is %1)")
                            .arg(instance.LockPath()));
        }
        instance.AskToShow();
        return 0;
    case SingleInstance::Unavailable:
        PlayLog(QStringLiteral("error cannot make sure only one copy runs (%1: %2); running anyway")
                    .arg(instance.LockPath(), instance.ErrorText()));
        break;
    case SingleInstance::Acquired:
        break;
    }
    return -1;
}

// The store at path with the settings read from it; null with *error saying why.
std::unique_ptr<Conn> OpenStore(const QString& path, ProgramVars& vars, QString* error) {
    vars.CurWeekName = WeekdayName(TheSystemClock().Now().date());
    std::unique_ptr<Conn> conn = Conn::Open(path, error);
    if (!conn) {
        return nullptr;
    }
    if (conn->Created()) {
        PlayLog(QStringLiteral("created a new empty database at %1").arg(path));
    }
    if (!SetReplaceMusicArr(vars, *conn, error) || !GetConfigValue(vars, *conn, error)) {
        *error = QStringLiteral("无法读取数据库 %1：%2").arg(path, *error);
        return nullptr;
    }
    PlayLog(QStringLiteral("Belvoran started with %1 (%2)").arg(path, vars.CurWeekName));
    return conn;
}

// What a run starts from: the store with its settings, and the central site it follows.
struct Opened {
    QString path;
    SingleInstance::Result databaseLock = SingleInstance::Unavailable;
    std::unique_ptr<Conn> conn;
    ProgramVars vars;
    QString central, site;
};

// A central timetable given with a password is refused before the store is touched: the exit
// status, or -1 to go on.
int CheckCentralOption(const CommandLine& cl) {
    if (QString options, why;
        !cl.central.isEmpty() && !CentralConnectOptions(cl.central, &options, &why)) {
        return Fail(why);
    }
    return -1;
}

// Takes the locks and opens the store: the exit status when this copy is not to run, else -1.
int Open(const CommandLine& cl, SingleInstance& instance, Opened* run) {
    if (const int status = TakeTheLock(instance, cl.service); status >= 0) {
        return status;
    }
    run->path = cl.database.isEmpty() ? Conn::DefaultPath() : cl.database;
    // Two copies on one database (started with other runtime folders) would ring it twice.
    run->databaseLock = instance.TryLockDatabase(run->path);
    if (run->databaseLock == SingleInstance::HeldByAnother) {
        return Fail(
            QStringLiteral("数据库 %1 正由另一个正在运行的 Belvoran 使用。").arg(run->path));
    }
    QString error;
    run->conn = OpenStore(run->path, run->vars, &error);
    if (!run->conn) {
        return Fail(error);
    }
    if (!RememberCentral(cl, *run->conn, &run->central, &run->site, &error)) {
        return Fail(error);
    }
    return -1;
}

// The exit status, once the run has ended.
int Leave(SingleInstance& instance, int status) {
    if (CentralThread::LeftRunning() > 0) {
        // A following thread still connecting to a hung server: the next start must find
        // the locks free now, and the exit handlers must not run beside that thread.
        instance.Release();
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

// Shows the main window and runs until the program ends: from the tray's exit, or on SIGTERM
// or SIGINT the same way (what plays stops, relays go off, records are written).
int RunWindow(MainForm& window, SingleInstance& instance, StopSignals& stopSignals) {
    QObject::connect(&stopSignals, &StopSignals::Received, &window, &MainForm::Exit);
    instance.ListenForShow([&window] {
        PlayLog(QStringLiteral("shown: the program was started again"));
        window.ShowWindow();
    });
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window.move(area.center() - window.rect().center());
    }
    window.show();
    window.activateWindow();
    return QApplication::exec();
}

int RunDesktop(int argc, char** argv, const CommandLine& cl) {
    QApplication app(argc, argv);
    QTranslator qtText;
    SetUpLooks(qtText);
    // From here on SIGTERM and SIGINT end the program its own way; one that comes before the
    // window is up waits for the event loop.
    StopSignals stopSignals;
    if (const int status = CheckCentralOption(cl); status >= 0) {
        return status;
    }
    if (cl.edit) {
        // An administrator's desk: the central site in the settings window, no bells.
        QObject::connect(&stopSignals, &StopSignals::Received, &app, [] { QApplication::exit(0); });
        return RunCentralEditor(cl.central, cl.site);
    }
    SingleInstance instance;
    Opened opened;
    if (const int status = Open(cl, instance, &opened); status >= 0) {
        return status;
    }
    int status = 0;
    {
        Application run(std::move(opened.conn), std::move(opened.vars));
        if (!opened.site.isEmpty()) {
            run.Follow(opened.central, opened.site);
        }
        if (opened.databaseLock == SingleInstance::Unavailable) {
            instance.TryLockDatabase(opened.path); // its folder was made just now
        }
        instance.AnswerRequests(
            [&run](const QString& request) { return run.Core().Remote().Answer(request); });
        status = RunWindow(run.Window(), instance, stopSignals);
    }
    return Leave(instance, status);
}

// Without a window: a QCoreApplication, which needs no display, loads no platform plugin and
// no fonts, and so runs the same on a server with no desktop at all.
int RunService(int argc, char** argv, const CommandLine& cl) {
    ServiceNotify notify; // before any thread starts: it takes its variables out of the env
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Belvoran"));
    QCoreApplication::setApplicationVersion(kVersionText);
    StopSignals stopSignals;
    if (const int status = CheckCentralOption(cl); status >= 0) {
        return status;
    }
    SingleInstance instance(SingleInstance::ServiceLockPath());
    Opened opened;
    if (const int status = Open(cl, instance, &opened); status >= 0) {
        return status;
    }
    int status = 0;
    {
        ServiceRun run(std::move(opened.conn), std::move(opened.vars), notify);
        if (!opened.site.isEmpty()) {
            run.Follow(opened.central, opened.site);
        }
        if (opened.databaseLock == SingleInstance::Unavailable) {
            instance.TryLockDatabase(opened.path); // its folder was made just now
        }
        QObject::connect(&stopSignals, &StopSignals::Received, &app, [&run] { run.Stop(0); });
        instance.ListenForShow(
            [] { PlayLog(QStringLiteral("asked to show the window: a service has none")); });
        instance.AnswerRequests(
            [&run](const QString& request) { return run.Core().Remote().Answer(request); });
        run.Start();
        status = QCoreApplication::exec();
    }
    return Leave(instance, status);
}

} // namespace

int main(int argc, char** argv) {
    const CommandLine cl = ParseCommandLine(Arguments(argc, argv));
    if (const int status = AnswerWithoutWindow(cl); status >= 0) {
        return status;
    }
    return cl.service ? RunService(argc, argv, cl) : RunDesktop(argc, argv, cl);
}
