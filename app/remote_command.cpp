// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/remote_command.h"

#include "app/command_line.h"
#include "core/time_text.h"
#include "store/outcome_names.h"
#include "system/control_socket.h"
#include "system/single_instance.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace {

constexpr int kNotRunning = 3;

void Print(FILE* to, const QString& text) {
    std::fputs(text.toUtf8().constData(), to);
}

QString OutcomeWord(const QString& key) {
    PlayOutcome outcome;
    return OutcomeFromKey(key, &outcome) ? OutcomeText(outcome) : key;
}

// "  08:00:00 上课 播放 12 ms" with the reason after a failure.
QString RecordLine(const QJsonObject& r) {
    QString line =
        QStringLiteral("  %1 %2 %3")
            .arg(r["time"].toString(), r["event"].toString(), OutcomeWord(r["outcome"].toString()));
    if (r["late_ms"].isDouble()) {
        line += QStringLiteral(" %1 ms").arg(r["late_ms"].toInt());
    }
    if (!r["reason"].toString().isEmpty()) {
        line += QStringLiteral("（%1）").arg(r["reason"].toString());
    }
    return line + QLatin1Char('\n');
}

QString ProblemLines(const QJsonObject& problems) {
    QString text;
    for (const QJsonValue& f : problems["files"].toArray()) {
        const QJsonObject p = f.toObject();
        text += QStringLiteral("  无法播放 %1 %2：%3（%4）\n")
                    .arg(p["time"].toString(), p["event"].toString(), p["file"].toString(),
                         p["reason"].toString());
    }
    for (const QJsonValue& r : problems["not_rung"].toArray()) {
        text += QStringLiteral("  未响铃") + RecordLine(r.toObject()).mid(1);
    }
    for (const QJsonValue& z : problems["zones"].toArray()) {
        text += QStringLiteral("  %1 播放区域故障：%2\n")
                    .arg(z["time"].toString(), z["text"].toString());
    }
    for (const char* line : {"central", "clock"}) {
        if (const QString said = problems[line].toString(); !said.isEmpty()) {
            text += QStringLiteral("  ") + said + QLatin1Char('\n');
        }
    }
    return text;
}

QString UptimeText(qint64 seconds) {
    return QStringLiteral("%1 天 %2").arg(seconds / 86400).arg(SecondsToTime(seconds % 86400));
}

// The line the running copy is sent.
QByteArray RequestLine(const CommandLine& cl) {
    switch (cl.action) {
    case CommandLine::Play:
        return "play " + cl.eventName.toUtf8();
    case CommandLine::Stop:
        return "stop";
    default:
        return "status";
    }
}

// What a successful answer to cl says, for people.
QString AnswerText(const CommandLine& cl, const QJsonObject& answer) {
    switch (cl.action) {
    case CommandLine::Play:
        return QStringLiteral("立即播放 %1 %2（今天同名事件 %3 个）\n")
            .arg(answer["time"].toString(), answer["event"].toString())
            .arg(answer["same_name"].toInt());
    case CommandLine::Stop:
        return QStringLiteral("已停止播放\n");
    default:
        return StatusText(answer);
    }
}

// Where the packaged service's socket is (its RuntimeDirectory).
const QString kServiceSocket = QStringLiteral("/run/belvoran/belvoran.lock.socket");

} // namespace

QString StatusText(const QJsonObject& status) {
    const QJsonObject next = status["next"].toObject();
    QString text = next.isEmpty() ? QStringLiteral("今天没有更多铃声\n")
                                  : QStringLiteral("下一个铃声 %1 %2\n")
                                        .arg(next["time"].toString(), next["event"].toString());
    if (!status["running"].toBool()) {
        text += QStringLiteral("时间表已暂停\n");
    }
    const QJsonArray records = status["records"].toArray();
    text += records.isEmpty() ? QStringLiteral("今日记录：无\n") : QStringLiteral("今日记录：\n");
    for (const QJsonValue& r : records) {
        text += RecordLine(r.toObject());
    }
    if (const QString problems = ProblemLines(status["problems"].toObject()); !problems.isEmpty()) {
        text += QStringLiteral("问题：\n") + problems;
    }
    return text + QStringLiteral("版本 %1，已运行 %2\n")
                      .arg(status["version"].toString(),
                           UptimeText(qint64(status["uptime_seconds"].toDouble())));
}

int RunRemoteCommand(const CommandLine& cl) {
    int argc = 1;
    char name[] = "belvoran";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv); // the socket's waits need one; no display, no lock
    QByteArray reply;
    QString error;
    ControlAsk asked =
        AskControl(SingleInstance::DefaultSocketPath(), RequestLine(cl), &reply, &error);
    if (asked == ControlAsk::NoServer && QFileInfo::exists(kServiceSocket)) {
        // No copy of this user's own: the system service's (root, or its own user, may ask).
        asked = AskControl(kServiceSocket, RequestLine(cl), &reply, &error);
    }
    switch (asked) {
    case ControlAsk::NoServer:
        Print(stderr, QStringLiteral("belvoran: no running copy of Belvoran for this user\n"));
        return kNotRunning;
    case ControlAsk::Failed:
        Print(stderr, QStringLiteral("belvoran: the running copy did not answer: %1\n").arg(error));
        return 1;
    case ControlAsk::Answered:
        break;
    }
    const QJsonObject answer = QJsonDocument::fromJson(reply).object();
    const bool ok = answer["ok"].toBool();
    if (cl.json) {
        Print(stdout, QString::fromUtf8(reply) + QLatin1Char('\n'));
    } else if (ok) {
        Print(stdout, AnswerText(cl, answer));
    } else {
        Print(stderr, QStringLiteral("belvoran: %1\n").arg(answer["error"].toString()));
    }
    return ok ? 0 : 1;
}
