// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

// A PostgreSQL server of a test's own in a temporary folder, on a Unix socket in that
// folder. initdb and the server refuse to run as root: there they run as the user nobody,
// who is given the folder. With TLS it also listens on 127.0.0.1 with a certificate for
// "localhost" signed by a certificate authority made for it (Ca()).
class PgServer {
public:
    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";

    // Why this machine cannot run one (for QSKIP), or "" when the server is up.
    QString Start(bool tls = false) {
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
        options_ = QStringLiteral("-k %1 -c fsync=off").arg(dir_.path());
        if (!tls) {
            options_ += QStringLiteral(" -c listen_addresses='' -p 5432");
        } else if (const QString why = MakeCertificates(); !why.isEmpty()) {
            return why;
        } else {
            port_ = FreePort();
            if (port_ <= 0) {
                return QStringLiteral("no free port on 127.0.0.1");
            }
            options_ += QStringLiteral(" -c listen_addresses=127.0.0.1 -p %1 -c ssl=on -c "
                                       "ssl_cert_file=%2/server.crt -c ssl_key_file=%2/server.key")
                            .arg(port_)
                            .arg(dir_.path());
        }
        return Resume() ? QString() : QStringLiteral("the server did not start: %1").arg(output_);
    }
    bool Resume() {
        return Run("pg_ctl",
                   {"-D", Data(), "-l", dir_.path() + "/log", "-w", "-o", options_, "start"});
    }
    // An orderly stop (clients are told), or a crash (immediate: no shutdown at all).
    bool Stop() { return Run("pg_ctl", {"-D", Data(), "-m", "fast", "-w", "stop"}); }
    bool Crash() { return Run("pg_ctl", {"-D", Data(), "-m", "immediate", "-w", "stop"}); }
    // A hang (SIGSTOP of the server and its processes: connections stay up, the kernel
    // acknowledges what is sent, nothing answers), and its end (SIGCONT).
    bool Freeze(bool frozen) {
        QFile pidFile(Data() + "/postmaster.pid");
        if (!pidFile.open(QIODevice::ReadOnly)) {
            return false;
        }
        const QByteArray server = pidFile.readLine().trimmed();
        QList<pid_t> pids = {pid_t(server.toInt())};
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            QFile stat("/proc/" + entry + "/stat");
            // "pid (name) state ppid ...": the name may hold spaces, not a closing bracket.
            if (stat.open(QIODevice::ReadOnly)) {
                const QByteArray text = stat.readAll();
                const QList<QByteArray> after = text.mid(text.lastIndexOf(')') + 2).split(' ');
                if (after.size() > 1 && after[1] == server) {
                    pids << pid_t(entry.toInt());
                }
            }
        }
        bool ok = pids[0] > 0;
        for (pid_t pid : pids) {
            ok = ::kill(pid, frozen ? SIGSTOP : SIGCONT) == 0 && ok;
        }
        return ok;
    }
    ~PgServer() {
        Freeze(false); // a test that failed while it hung
        Crash();
    }

    // On the Unix socket, as user (the owner, a superuser, by default).
    QString Central(const QString& user = QStringLiteral("belvoran")) const {
        return QStringLiteral("host=%1 port=%2 dbname=postgres user=%3")
            .arg(dir_.path())
            .arg(port_)
            .arg(user);
    }
    // Over TCP with TLS, the server's certificate verified against ca.
    QString TlsCentral(const QString& ca) const {
        return QStringLiteral("host=localhost port=%1 dbname=postgres user=belvoran "
                              "sslmode=verify-full sslrootcert=%2")
            .arg(port_)
            .arg(ca);
    }
    // Runs sql as user on a connection of its own: the error, empty when it ran. With row,
    // the first row's values joined by spaces.
    QString RunAs(const QString& user, const QString& sql, QString* row = nullptr) const {
        QString error;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "raw-" + user);
            db.setConnectOptions(Central(user));
            QSqlQuery q(db);
            if (!db.open()) {
                error = db.lastError().text();
            } else if (!q.exec(sql)) {
                error = q.lastError().text().isEmpty() ? "failed" : q.lastError().text();
            } else if (row && q.next()) {
                QStringList values;
                for (int i = 0; i < q.record().count(); ++i) {
                    values << q.value(i).toString();
                }
                *row = values.join(' ');
            }
        }
        QSqlDatabase::removeDatabase("raw-" + user);
        return error;
    }
    // The folder of the server's Unix socket.
    QString Folder() const { return dir_.path(); }
    QString Ca() const { return dir_.path() + "/ca.crt"; }
    // A certificate authority that signed nothing of this server's.
    QString OtherCa() const { return dir_.path() + "/other.crt"; }

private:
    QString Data() const { return dir_.path() + "/data"; }
    // A port on 127.0.0.1 that nothing listens on now (the kernel's choice).
    static int FreePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        int port = -1;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            port = ntohs(addr.sin_port);
        }
        if (fd >= 0) {
            ::close(fd);
        }
        return port;
    }
    // ca.crt, server.crt/.key (localhost, signed by ca) and other.crt, with openssl.
    QString MakeCertificates() {
        const QString d = dir_.path();
        const QList<QStringList> steps = {
            {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
             "/CN=Belvoran test CA", "-keyout", d + "/ca.key", "-out", d + "/ca.crt"},
            {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Other CA",
             "-keyout", d + "/other.key", "-out", d + "/other.crt"},
            {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
             d + "/server.key", "-out", d + "/server.csr"},
            {"x509", "-req", "-in", d + "/server.csr", "-CA", d + "/ca.crt", "-CAkey",
             d + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile", d + "/san.ext", "-out",
             d + "/server.crt"}};
        QFile san(d + "/san.ext");
        if (!san.open(QIODevice::WriteOnly) || san.write("subjectAltName=DNS:localhost\n") < 0) {
            return QStringLiteral("cannot write the certificate's extensions");
        }
        san.close();
        for (const QStringList& args : steps) {
            QProcess openssl;
            openssl.start("openssl", args);
            if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
                return QStringLiteral("openssl failed (scripts/setup installs it): %1")
                    .arg(QString::fromLocal8Bit(openssl.readAllStandardError()));
            }
        }
        // The server reads its key only when no one else may.
        QFile::setPermissions(d + "/server.key", QFile::ReadOwner | QFile::WriteOwner);
        if (::geteuid() == 0) {
            const passwd* pw = ::getpwnam("nobody");
            for (const char* f : {"/server.key", "/server.crt"}) {
                if (!pw ||
                    ::chown(QFile::encodeName(d + f).constData(), pw->pw_uid, pw->pw_gid) != 0) {
                    return QStringLiteral("cannot hand the server's key to the user nobody");
                }
            }
        }
        return {};
    }
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
    QString options_;
    int port_ = 5432;
};
