// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/remote_control.h"

#include "core/clock.h"
#include "core/time_text.h"
#include "core/version.h"
#include "schedule/schedule_engine.h"
#include "store/conn.h"
#include "store/outcome_names.h"
#include "system/control_socket.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

// The most zone failures kept for one day; the record has them all.
constexpr int kZoneProblemsKept = 20;

QJsonObject RecordJson(const PlayRecordRow& r) {
    return {{"time", r.time},
            {"event", r.event},
            {"outcome", OutcomeKey(r.outcome)},
            {"late_ms", r.lateMs < 0 ? QJsonValue() : r.lateMs},
            {"reason", r.reason},
            {"file", r.file}};
}

QJsonArray RecordsJson(const QVector<PlayRecordRow>& rows) {
    QJsonArray list;
    for (const PlayRecordRow& r : rows) {
        list.append(RecordJson(r));
    }
    return list;
}

QJsonArray FileProblemsJson(const QVector<FileProblem>& problems) {
    QJsonArray list;
    for (const FileProblem& p : problems) {
        list.append(QJsonObject{
            {"time", p.time}, {"event", p.event}, {"file", p.file}, {"reason", p.reason}});
    }
    return list;
}

QJsonObject Failure(const QString& text) {
    return {{"ok", false}, {"error", text}};
}

// Of today's rows named name, the next one due after now; when all have passed, the last.
// *count: how many bear the name.
const EventRow* PickByName(const QVector<EventRow>& rows, const QString& name, const QString& now,
                           int* count) {
    const EventRow* picked = nullptr;
    *count = 0;
    for (const EventRow& r : rows) {
        if (r.event != name) {
            continue;
        }
        ++*count;
        if (!picked || picked->startTime <= now) {
            picked = &r; // rows come in start-time order
        }
    }
    return picked;
}

} // namespace

RemoteControl::RemoteControl(ScheduleEngine& engine, Conn& conn, const Clock& clock,
                             std::function<QString()> centralText,
                             std::function<QString()> clockText)
    : engine_(engine), conn_(conn), clock_(clock), centralText_(std::move(centralText)),
      clockText_(std::move(clockText)), started_(clock.Now()) {
    uptime_.start();
    connect(&engine_, &ScheduleEngine::ZoneProblem, this,
            [this](const QString& text) { NoteZoneProblem(text); });
}

QByteArray RemoteControl::Answer(const QString& request) {
    const QString word = request.section(QLatin1Char(' '), 0, 0);
    const QString rest = request.section(QLatin1Char(' '), 1);
    QJsonObject reply;
    if (request == QLatin1String("status")) {
        reply = Status();
    } else if (request == QLatin1String("stop")) {
        reply = Stop();
    } else if (word == QLatin1String("play") && !rest.isEmpty()) {
        reply = Play(rest);
    } else {
        return ControlErrorReply(QStringLiteral("unknown request"));
    }
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

QJsonObject RemoteControl::Status() {
    const QDateTime now = clock_.Now();
    QJsonObject status{{"ok", true},
                       {"version", kProgramVersion},
                       {"started", started_.toString(Qt::ISODate)},
                       {"uptime_seconds", uptime_.elapsed() / 1000},
                       {"date", now.date().toString(Qt::ISODate)},
                       {"running", engine_.Running()}};
    status["next"] =
        engine_.Armed()
            ? QJsonValue(QJsonObject{{"time", engine_.NextTime()}, {"event", engine_.NextEvent()}})
            : QJsonValue();
    QVector<PlayRecordRow> records;
    QString error;
    if (!conn_.PlayRecordsOn(now.date().toString(Qt::ISODate), &records, &error)) {
        status["records_error"] = error;
    }
    status["records"] = RecordsJson(records);
    status["problems"] = Problems(now.date());
    return status;
}

QJsonObject RemoteControl::Problems(const QDate& today) {
    QJsonArray zones;
    for (const ZoneProblemSeen& z : zoneProblems_) {
        if (z.date == today) {
            zones.append(QJsonObject{{"time", z.time}, {"text", z.text}});
        }
    }
    return {{"files", FileProblemsJson(engine_.TodayProblems())},
            {"not_rung", RecordsJson(engine_.NotRungToday())},
            {"zones", zones},
            {"central", centralText_ ? centralText_() : QString()},
            {"clock", clockText_ ? clockText_() : QString()}};
}

QStringList RemoteControl::ZoneProblemLines() const {
    const QDate today = clock_.Now().date();
    QStringList lines;
    for (const ZoneProblemSeen& z : zoneProblems_) {
        if (z.date == today) {
            lines << z.time + QLatin1Char(' ') + z.text;
        }
    }
    return lines;
}

void RemoteControl::NoteZoneProblem(const QString& text) {
    const QDateTime now = clock_.Now();
    zoneProblems_.removeIf([&](const ZoneProblemSeen& z) { return z.date != now.date(); });
    if (zoneProblems_.size() < kZoneProblemsKept) {
        zoneProblems_.append({now.date(), TimeText(now.time()), text});
    }
}

QJsonObject RemoteControl::Play(const QString& name) {
    QVector<EventRow> rows;
    QString error;
    if (!engine_.TodayTimetable(&rows, &error)) {
        return Failure(QStringLiteral("无法读取今天的播放事件：%1").arg(error));
    }
    int count = 0;
    const EventRow* row = PickByName(rows, name, TimeText(clock_.Now().time()), &count);
    if (!row) {
        return Failure(QStringLiteral("今天没有名为“%1”的事件").arg(name));
    }
    if (!engine_.PlayNow(row->id, &error)) {
        return Failure(error);
    }
    return {{"ok", true},
            {"id", row->id},
            {"time", row->startTime},
            {"event", row->event},
            {"same_name", count}};
}

QJsonObject RemoteControl::Stop() {
    engine_.StopPlaying();
    return {{"ok", true}};
}
