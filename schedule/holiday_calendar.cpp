// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/holiday_calendar.h"

#include <QDate>
#include <QFile>
#include <QHash>
#include <QSet>

#include <libical/ical.h>

#include <algorithm>
#include <functional>

namespace {

// Larger than any region's holiday list; a bigger file is not one.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;
// A single holiday longer than a school year is a mistake in the file.
constexpr int kMaxDays = 366;

// One content line: folded lines joined, with the number of its first line in the file.
struct ContentLine {
    QByteArray text;
    int line = 0;
};

// Splits the file into content lines (RFC 5545 3.1: a line that starts with a space or a
// tab continues the one before). Empty lines are dropped.
QVector<ContentLine> ContentLines(QByteArray text) {
    if (text.startsWith("\xEF\xBB\xBF")) {
        text.remove(0, 3);
    }
    QVector<ContentLine> out;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray l = lines[i];
        if (l.endsWith('\r')) {
            l.chop(1);
        }
        if ((l.startsWith(' ') || l.startsWith('\t')) && !out.isEmpty()) {
            out.last().text += l.mid(1);
        } else if (!l.trimmed().isEmpty()) {
            out.push_back({l, i + 1});
        }
    }
    return out;
}

// The name of a content line ("DTSTART" of "DTSTART;VALUE=DATE:20261001"), upper case.
QByteArray NameOf(const QByteArray& line) {
    int end = line.size();
    for (char c : {';', ':'}) {
        const int at = line.indexOf(c);
        if (at >= 0 && at < end) {
            end = at;
        }
    }
    return line.left(end).trimmed().toUpper();
}

QByteArray ValueOf(const QByteArray& line) {
    const int at = line.indexOf(':');
    return at < 0 ? QByteArray() : line.mid(at + 1).trimmed().toUpper();
}

QString Shown(const QByteArray& line) {
    const QString s = QString::fromUtf8(line);
    return s.size() > 60 ? s.left(57) + QStringLiteral("...") : s;
}

// Where each VEVENT and its properties stand in the file.
struct EventLines {
    int begin = 0;
    QHash<QByteArray, int> properties; // the first line of each property name
};

struct Reading {
    QDate earliest, latest; // the days a school's calendar may hold
    QSet<qint64> days;      // the distinct days so far, as Julian day numbers
    QString error;          // the first error, with its line
    void Fail(int line, const QString& what) {
        if (error.isEmpty()) {
            error = QStringLiteral("第 %1 行：%2").arg(line).arg(what);
        }
    }
};

QDate DateOf(const icaltimetype& t) {
    return QDate(t.year, t.month, t.day);
}

QString DateText(const icaltimetype& t) {
    return QString::asprintf("%04d%02d%02d", t.year, t.month, t.day);
}

// The note as the page's note box would take it: at most kMaxSpecialDayNote characters,
// never half a surrogate pair.
QString NoteOf(const char* summary) {
    QString note = summary ? QString::fromUtf8(summary).trimmed() : QString();
    if (note.size() > kMaxSpecialDayNote) {
        note.truncate(note.at(kMaxSpecialDayNote - 1).isHighSurrogate() ? kMaxSpecialDayNote - 1
                                                                        : kMaxSpecialDayNote);
    }
    return note;
}

// Checks that the event's days lie within the years a school's calendar covers.
bool WithinYears(const QDate& first, int count, int line, Reading* r) {
    const QDate last = first.addDays(count - 1);
    if (first >= r->earliest && last <= r->latest) {
        return true;
    }
    r->Fail(line,
            QStringLiteral("日期 %1 离今天超过 %2 年，不像是学校的校历")
                .arg((first < r->earliest ? first : last).toString(QStringLiteral("yyyy-MM-dd")))
                .arg(kCalendarYears));
    return false;
}

// The days of one VEVENT, or an error naming its line.
// How many days an all-day event starting on first covers (DTEND is the day after its
// last, DURATION whole days); 0 when the reading failed, said in r.
int DaysOf(icalcomponent* event, const QDate& first, const std::function<int(const char*)>& line,
           Reading* r) {
    int count = 1;
    if (icalproperty* end = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY)) {
        const icaltimetype e = icalproperty_get_dtend(end);
        if (!icaltime_is_date(e)) {
            r->Fail(line("DTEND"), QStringLiteral("不是全天事件：结束须是日期，如 "
                                                  "DTEND;VALUE=DATE:20261008"));
            return 0;
        }
        if (!DateOf(e).isValid()) {
            r->Fail(line("DTEND"), QStringLiteral("结束日期 %1 不存在").arg(DateText(e)));
            return 0;
        }
        count = static_cast<int>(first.daysTo(DateOf(e))); // DTEND is the day after
    } else if (icalproperty* d = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY)) {
        const icaldurationtype dur = icalproperty_get_duration(d);
        if (dur.is_neg || dur.hours || dur.minutes || dur.seconds) {
            r->Fail(line("DURATION"), QStringLiteral("持续时间须是整天数，如 DURATION:P7D"));
            return 0;
        }
        count = static_cast<int>(std::min<qint64>(qint64(dur.weeks) * 7 + dur.days, kMaxDays + 1));
    }
    if (count < 1) {
        r->Fail(line("DTEND"), QStringLiteral("结束日期不晚于开始日期"));
        return 0;
    }
    return count;
}

void ReadEvent(icalcomponent* event, const EventLines& at, Reading* r,
               QVector<SpecialDayRow>* days) {
    auto line = [&](const char* name) { return at.properties.value(name, at.begin); };
    if (icalcomponent_count_errors(event) > 0) {
        icalproperty* p = icalcomponent_get_first_property(event, ICAL_XLICERROR_PROPERTY);
        r->Fail(at.begin, QStringLiteral("这个事件有错误（%1）")
                              .arg(QString::fromUtf8(p ? icalproperty_get_xlicerror(p) : "")));
        return;
    }
    if (icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY)) {
        r->Fail(line("RRULE"), QStringLiteral("重复的事件（RRULE）不能导入，节假日需逐个列出"));
        return;
    }
    icalproperty* start = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
    if (!start) {
        r->Fail(at.begin, QStringLiteral("这个事件没有开始日期（DTSTART）"));
        return;
    }
    const icaltimetype s = icalproperty_get_dtstart(start);
    const QDate first = DateOf(s);
    if (!icaltime_is_date(s)) {
        r->Fail(line("DTSTART"),
                QStringLiteral("不是全天事件：开始须是日期，如 DTSTART;VALUE=DATE:20261001"));
        return;
    }
    if (!first.isValid()) {
        r->Fail(line("DTSTART"), QStringLiteral("开始日期 %1 不存在").arg(DateText(s)));
        return;
    }
    const int count = DaysOf(event, first, line, r);
    if (count < 1) {
        return;
    }
    if (count > kMaxDays) {
        r->Fail(at.begin, QStringLiteral("一个假期长于 %1 天").arg(kMaxDays));
        return;
    }
    if (!WithinYears(first, count, at.begin, r)) {
        return;
    }
    const QString note = NoteOf(icalcomponent_get_summary(event));
    for (int i = 0; i < count; ++i) {
        const QDate day = first.addDays(i);
        if (!r->days.contains(day.toJulianDay())) {
            r->days.insert(day.toJulianDay());
            days->push_back({0, day.toString(QStringLiteral("yyyy-MM-dd")), kNoBellsKind, note});
        }
    }
    if (r->days.size() > kMaxCalendarDays) {
        r->Fail(at.begin,
                QStringLiteral("日历中的日期超过 %1 天，不像是学校的校历").arg(kMaxCalendarDays));
    }
}

// Feeds the content lines to libical one by one, so a line it cannot read is known by its
// number; checks that BEGIN and END pair up, and notes where each VEVENT's lines are.
QVector<icalcomponent*> Parse(const QVector<ContentLine>& lines, QVector<EventLines>* events,
                              Reading* r) {
    QVector<icalcomponent*> roots;
    icalparser* parser = icalparser_new();
    struct Open {
        QByteArray name;
        int line;
    };
    QVector<Open> open;
    const icalerrorstate was = icalerror_get_error_state(ICAL_MALFORMEDDATA_ERROR);
    icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, ICAL_ERROR_NONFATAL);
    for (const ContentLine& l : lines) {
        const QByteArray name = NameOf(l.text);
        if (name == "BEGIN") {
            const QByteArray what = ValueOf(l.text);
            if (what == "VEVENT") {
                if (open.isEmpty() || open.last().name != "VCALENDAR") {
                    r->Fail(l.line, QStringLiteral("VEVENT 不在 VCALENDAR 之内"));
                }
                events->push_back({l.line, {}});
            }
            open.push_back({what, l.line});
        } else if (name == "END") {
            const QByteArray what = ValueOf(l.text);
            if (open.isEmpty()) {
                r->Fail(l.line,
                        QStringLiteral("END:%1 之前没有对应的 BEGIN").arg(QString::fromUtf8(what)));
            } else if (open.last().name != what) {
                r->Fail(l.line, QStringLiteral("END:%1 与第 %2 行的 BEGIN:%3 不配对")
                                    .arg(QString::fromUtf8(what))
                                    .arg(open.last().line)
                                    .arg(QString::fromUtf8(open.last().name)));
            }
            if (!open.isEmpty()) {
                open.pop_back();
            }
        } else if (!open.isEmpty() && open.last().name == "VEVENT" && !events->isEmpty() &&
                   !events->last().properties.contains(name)) {
            events->last().properties.insert(name, l.line);
        }
        QByteArray copy = l.text; // libical reads the line and leaves it to the caller
        if (icalcomponent* c = icalparser_add_line(parser, copy.data())) {
            roots.push_back(c);
        }
        if (icalparser_get_state(parser) == ICALPARSER_ERROR) {
            r->Fail(l.line, QStringLiteral("无法读取“%1”").arg(Shown(l.text)));
        }
    }
    if (!open.isEmpty()) {
        r->Fail(open.last().line,
                QStringLiteral("BEGIN:%1 没有对应的 END").arg(QString::fromUtf8(open.last().name)));
        icalparser_clean(parser); // what is half-built stays the parser's, freed with it
    }
    icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, was);
    icalparser_free(parser);
    return roots;
}

} // namespace

bool ReadHolidayCalendar(const QByteArray& text, const QDate& today, QVector<SpecialDayRow>* days,
                         QString* error) {
    Reading r;
    r.earliest = today.addYears(-kCalendarYears);
    r.latest = today.addYears(kCalendarYears);
    QVector<EventLines> eventLines;
    const QVector<ContentLine> lines = ContentLines(text);
    const QVector<icalcomponent*> roots = Parse(lines, &eventLines, &r);
    QVector<SpecialDayRow> found;
    int index = 0;
    for (icalcomponent* root : roots) {
        if (icalcomponent_isa(root) != ICAL_VCALENDAR_COMPONENT) {
            continue; // unreachable with balanced BEGIN/END: a VEVENT outside failed above
        }
        for (icalcomponent* e = icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT);
             e && r.error.isEmpty();
             e = icalcomponent_get_next_component(root, ICAL_VEVENT_COMPONENT)) {
            ReadEvent(e, eventLines.value(index++), &r, &found);
        }
    }
    for (icalcomponent* root : roots) {
        icalcomponent_free(root);
    }
    if (r.error.isEmpty() && lines.isEmpty()) {
        r.error = QStringLiteral("文件是空的");
    } else if (r.error.isEmpty() && found.isEmpty()) {
        r.error = QStringLiteral("文件中没有节假日（BEGIN:VEVENT … END:VEVENT）");
    }
    if (!r.error.isEmpty()) {
        if (error) {
            *error = r.error;
        }
        return false;
    }
    *days = found;
    return true;
}

bool ReadHolidayCalendarFile(const QString& path, const QDate& today, QVector<SpecialDayRow>* days,
                             QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return Failed(error, QStringLiteral("无法打开 %1：%2").arg(path, f.errorString()));
    }
    if (f.size() > kMaxFileBytes) {
        return Failed(error, QStringLiteral("%1 太大，不是节假日日历").arg(path));
    }
    return ReadHolidayCalendar(f.readAll(), today, days, error);
}
