// SPDX-License-Identifier: GPL-3.0-or-later
// The control socket: one line in, one reply out, and only for the program's own user.
#include "system/control_socket.h"

#include <QtTest>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A client socket connected to path; -1 (errno set) when it cannot connect.
int Connect(const QByteArray& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
}

// What the server at path replies to bytes, with this thread's event loop running for it.
QByteArray Exchange(const QString& path, const QByteArray& bytes) {
    const int fd = Connect(QFile::encodeName(path));
    (void)!::write(fd, bytes.constData(), bytes.size());
    QByteArray reply;
    (void)QTest::qWaitFor(
        [&] {
            char part[256];
            const ssize_t n = ::recv(fd, part, sizeof part, MSG_DONTWAIT);
            reply.append(part, n > 0 ? n : 0);
            return n == 0;
        },
        5000);
    ::close(fd);
    return reply;
}

// In a child running as nobody: 0 when the server refused it, 1 when the socket file did,
// 2 for anything else.
int AskAsNobody(const QByteArray& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(2);
        }
        const int fd = Connect(path);
        if (fd < 0) {
            ::_exit(errno == EACCES ? 1 : 2);
        }
        char reply[200] = {};
        (void)!::write(fd, "status\n", 7);
        const ssize_t n = ::read(fd, reply, sizeof reply - 1);
        ::_exit(n > 0 && std::strstr(reply, "not allowed") ? 0 : 2);
    }
    int status = -1;
    (void)QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 10000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

class TestControlSocket : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path;
    QStringList asked;
    ControlServer server{[this](const QString& request) {
        asked << request;
        return QByteArray(R"({"ok":true})");
    }};

private slots:
    void initTestCase() {
        path = dir.path() + "/control.socket";
        QVERIFY(server.Listen(path));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600)); // the owner's alone
    }

    void init() { asked.clear(); }

    void ownUserAndRootOnly() {
        QVERIFY(PeerMayControl(1000, 1000));
        QVERIFY(PeerMayControl(0, 1000));
        QVERIFY(!PeerMayControl(1001, 1000));
        QVERIFY(!PeerMayControl(1000, 0));
    }

    void oneLineIsAnsweredAndTheRestIgnored() {
        QCOMPARE(Exchange(path, "play 上课\nstop\n"), QByteArray("{\"ok\":true}\n"));
        QCOMPARE(asked, QStringList{"play 上课"});
    }

    void whatIsNoRequestLineIsRefusedUnanswered() {
        const QByteArray tooLong(ControlServer::kMaxRequestBytes + 1, 'a');
        for (const QByteArray& bytes : {tooLong + "\n", tooLong, QByteArray("st\x1b[0matus\n"),
                                        QByteArray("\xff\xfe\n"), QByteArray("\n")}) {
            const QByteArray reply = Exchange(path, bytes);
            QVERIFY2(reply.startsWith("{\"error\":") && reply.contains("\"ok\":false"),
                     reply.constData());
        }
        QVERIFY(asked.isEmpty());
    }

    // As root: another user finds the socket file closed, and were it open the server
    // would still refuse that user.
    void anotherUserIsRefused() {
        if (::geteuid() != 0) {
            QSKIP("needs root to ask as another user");
        }
        QFile::setPermissions(dir.path(), QFileDevice::ExeOther | QFileDevice::ReadOwner |
                                              QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(AskAsNobody(QFile::encodeName(path)), 1);
        ::chmod(QFile::encodeName(path).constData(), 0666);
        QCOMPARE(AskAsNobody(QFile::encodeName(path)), 0);
        ::chmod(QFile::encodeName(path).constData(), 0600);
        QVERIFY(asked.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestControlSocket)
#include "test_control_socket.moc"
