#pragma once

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

// A PostgreSQL server of a test's own in a temporary folder, on a Unix socket in that
// folder. initdb and the server refuse to run as root: there they run as the user nobody,
// who is given the folder.
class PgServer {
public:
    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";

    // Why this machine cannot run one (for QSKIP), or "" when the server is up.
    QString Start() {
        if (!QFileInfo::exists(QStringLiteral("%1/initdb").arg(kBin))) {
            return QStringLiteral("PostgreSQL 15 is not installed (scripts/setup installs it)");
        }
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
            return QStringLiteral("Qt's QPSQL driver is missing (libqt6sql6-psql)");
        }
        if (::geteuid() == 0) {
            const passwd* pw = ::getpwnam("nobody");
            if (!pw ||
                ::chown(QFile::encodeName(dir_.path()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
                return QStringLiteral("cannot hand the server's folder to the user nobody");
            }
        }
        if (!Run("initdb", {"-D", Data(), "-A", "trust", "-U", "belvoran", "-E", "UTF8",
                            "--no-locale", "--no-sync"})) {
            return QStringLiteral("initdb failed: %1").arg(output_);
        }
        return Resume() ? QString() : QStringLiteral("the server did not start: %1").arg(output_);
    }
    bool Resume() {
        return Run(
            "pg_ctl",
            {"-D", Data(), "-l", dir_.path() + "/log", "-w", "-o",
             QStringLiteral("-k %1 -c listen_addresses='' -c fsync=off -p 5432").arg(dir_.path()),
             "start"});
    }
    // An orderly stop (clients are told), or a crash (immediate: no shutdown at all).
    bool Stop() { return Run("pg_ctl", {"-D", Data(), "-m", "fast", "-w", "stop"}); }
    bool Crash() { return Run("pg_ctl", {"-D", Data(), "-m", "immediate", "-w", "stop"}); }
    ~PgServer() { Crash(); }

    QString Central() const {
        return QStringLiteral("host=%1 port=5432 dbname=postgres user=belvoran").arg(dir_.path());
    }

private:
    QString Data() const { return dir_.path() + "/data"; }
    bool Run(const QString& tool, const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(dir_.path());
        const QString program = QStringLiteral("%1/%2").arg(kBin, tool);
        if (::geteuid() == 0) {
            p.start("runuser", QStringList{"-u", "nobody", "--", program} + args);
        } else {
            p.start(program, args);
        }
        const bool ok = p.waitForFinished(60000) && p.exitCode() == 0;
        output_ = QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput());
        return ok;
    }

    QTemporaryDir dir_;
    QString output_;
};
