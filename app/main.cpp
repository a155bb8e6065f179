// Start-up: command line, single instance, the store, the main window.
#include "app/application.h"
#include "app/central_editor.h"
#include "app/command_line.h"
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

// What the command line asks for besides running: help, the version, a usage error. The
// exit status, or -1 to run the program.
int AnswerCommandLine(const CommandLine& cl) {
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

void SetUpApplication(QTranslator& qtText) {
    QApplication::setApplicationName(QStringLiteral("Belvoran"));
    QApplication::setApplicationVersion(kVersionText);
    QApplication::setQuitOnLastWindowClosed(false); // it lives on in the tray
    QFont font(UiFontFamily());
    font.setPixelSize(12);
    QApplication::setFont(font);
    // The program speaks Chinese: so do Qt's own dialogs (the file chooser's buttons).
    if (qtText.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                    QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtText);
    }
}

// One copy per user session: false when another runs (it was asked to show its window).
bool TakeInstanceLock(SingleInstance& instance) {
    switch (instance.TryLock()) {
    case SingleInstance::HeldByAnother:
        // Another copy runs: it shows its window, as a desktop program started again does.
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

// The store at path with its settings read into vars; null after saying why.
std::unique_ptr<Conn> OpenStore(const QString& path, ProgramVars& vars, int* status) {
    QString error;
    std::unique_ptr<Conn> conn = Conn::Open(path, &error);
    if (!conn) {
        *status = Fail(error);
        return nullptr;
    }
    if (conn->Created()) {
        PlayLog(QStringLiteral("created a new empty database at %1").arg(path));
    }
    if (!SetReplaceMusicArr(vars, *conn, &error) || !GetConfigValue(vars, *conn, &error)) {
        *status = Fail(QStringLiteral("无法读取数据库 %1：%2").arg(path, error));
        return nullptr;
    }
    PlayLog(QStringLiteral("Belvoran started with %1 (%2)").arg(path, vars.CurWeekName));
    return conn;
}

// Runs the program on the open store until it quits; its exit status.
int RunProgram(QApplication& app, std::unique_ptr<Conn> conn, ProgramVars vars,
               SingleInstance& instance, const QString& path, bool lockDatabaseAgain,
               const QString& central, const QString& site) {
    Application run(std::move(conn), std::move(vars));
    MainForm& window = run.Window();
    if (!site.isEmpty()) {
        run.Follow(central, site);
    }
    if (lockDatabaseAgain) {
        instance.TryLockDatabase(path); // its folder was made just now
    }
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
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLine cl = ParseCommandLine(args);
    if (const int answered = AnswerCommandLine(cl); answered >= 0) {
        return answered;
    }
    QApplication app(argc, argv);
    QTranslator qtText;
    SetUpApplication(qtText);

    // A central timetable given with a password is refused before the store is touched.
    if (QString options, why;
        !cl.central.isEmpty() && !CentralConnectOptions(cl.central, &options, &why)) {
        return Fail(why);
    }
    if (cl.edit) {
        // An administrator's desk: the central site in the settings window, no bells.
        return RunCentralEditor(cl.central, cl.site);
    }
    SingleInstance instance;
    if (!TakeInstanceLock(instance)) {
        return 0;
    }
    ProgramVars vars;
    vars.CurWeekName = WeekdayName(TheSystemClock().Now().date());
    const QString path = cl.database.isEmpty() ? Conn::DefaultPath() : cl.database;
    // Two copies on one database (started with other runtime folders) would ring it twice.
    const SingleInstance::Result databaseLock = instance.TryLockDatabase(path);
    if (databaseLock == SingleInstance::HeldByAnother) {
        return Fail(QStringLiteral("数据库 %1 正由另一个正在运行的 Belvoran 使用。").arg(path));
    }
    int status = 0;
    std::unique_ptr<Conn> conn = OpenStore(path, vars, &status);
    if (!conn) {
        return status;
    }
    QString central, site, error;
    if (!RememberCentral(cl, *conn, &central, &site, &error)) {
        return Fail(error);
    }
    status = RunProgram(app, std::move(conn), std::move(vars), instance, path,
                        databaseLock == SingleInstance::Unavailable, central, site);
    if (CentralFollower::ThreadsLeftRunning() > 0) {
        // A following thread still connecting to a hung server: the next start must find
        // the locks free now, and the exit handlers must not run beside that thread.
        instance.Release();
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
