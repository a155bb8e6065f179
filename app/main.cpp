// Start-up: command line, single instance, the store, the main window.
#include "app/application.h"
#include "app/central_editor.h"
#include "app/command_line.h"
#include "app/remote_command.h"
#include "central/central.h"
#include "central/follower.h"
#include "core/clock.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "core/version.h"
#include "store/config_loader.h"
#include "store/conn.h"
#include "system/single_instance.h"
#include "system/stop_signals.h"
#include "widgets/skin.h"
#include "widgets/ui_font.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

namespace {

// A start-up failure: on standard error always, and in a message box where there is a
// screen to show it on.
int Fail(const QString& message) {
    PlayLog(QStringLiteral("error %1").arg(message));
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
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
    case CommandLine::Run:
        break;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
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

// Whether this copy is to run: not when another runs, which is asked to show its window, as
// a desktop program started again does.
bool TakeTheLock(SingleInstance& instance) {
    switch (instance.TryLock()) {
    case SingleInstance::HeldByAnother:
        instance.AskToShow();
        return false;
    case SingleInstance::Unavailable:
        PlayLog(QStringLiteral("error cannot make sure only one copy runs (%1: %2); running anyway")
                    .arg(SingleInstance::DefaultLockPath(), instance.ErrorText()));
        break;
    case SingleInstance::Acquired:
        break;
    }
    return true;
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

// The exit status, once the window has gone.
int Leave(SingleInstance& instance, int status) {
    if (CentralFollower::ThreadsLeftRunning() > 0) {
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

} // namespace

int main(int argc, char** argv) {
    const CommandLine cl = ParseCommandLine(Arguments(argc, argv));
    if (const int status = AnswerWithoutWindow(cl); status >= 0) {
        return status;
    }

    QApplication app(argc, argv);
    QTranslator qtText;
    SetUpLooks(qtText);
    // From here on SIGTERM and SIGINT end the program its own way; one that comes before the
    // window is up waits for the event loop.
    StopSignals stopSignals;

    // A central timetable given with a password is refused before the store is touched.
    if (QString options, why;
        !cl.central.isEmpty() && !CentralConnectOptions(cl.central, &options, &why)) {
        return Fail(why);
    }
    if (cl.edit) {
        // An administrator's desk: the central site in the settings window, no bells.
        QObject::connect(&stopSignals, &StopSignals::Received, &app, [] { QApplication::exit(0); });
        return RunCentralEditor(cl.central, cl.site);
    }

    SingleInstance instance;
    if (!TakeTheLock(instance)) {
        return 0;
    }

    ProgramVars vars;
    const QString path = cl.database.isEmpty() ? Conn::DefaultPath() : cl.database;
    // Two copies on one database (started with other runtime folders) would ring it twice.
    const SingleInstance::Result databaseLock = instance.TryLockDatabase(path);
    if (databaseLock == SingleInstance::HeldByAnother) {
        return Fail(QStringLiteral("数据库 %1 正由另一个正在运行的 Belvoran 使用。").arg(path));
    }
    QString error;
    std::unique_ptr<Conn> conn = OpenStore(path, vars, &error);
    if (!conn) {
        return Fail(error);
    }
    QString central, site;
    if (!RememberCentral(cl, *conn, &central, &site, &error)) {
        return Fail(error);
    }

    int status = 0;
    {
        Application run(std::move(conn), std::move(vars));
        if (!site.isEmpty()) {
            run.Follow(central, site);
        }
        if (databaseLock == SingleInstance::Unavailable) {
            instance.TryLockDatabase(path); // its folder was made just now
        }
        instance.AnswerRequests(
            [&run](const QString& request) { return run.Remote().Answer(request); });
        status = RunWindow(run.Window(), instance, stopSignals);
    }
    return Leave(instance, status);
}
