#include "schedule/day_rule.h"

#include "core/time_text.h"

DayRule RuleForDate(const QDate& date, const QVector<SpecialDayRow>& specialDays) {
    DayRule rule;
    rule.weekName = WeekdayName(date);
    const QString text = date.toString(QStringLiteral("yyyy-MM-dd"));
    for (const SpecialDayRow& row : specialDays) {
        if (row.date != text) {
            continue;
        }
        if (row.kind == kNoBellsKind) {
            rule.bells = false;
        } else if (WeekdayNames().contains(row.kind)) {
            rule.bells = true;
            rule.weekName = row.kind;
        } else {
            continue;
        }
        rule.special = true;
        rule.note = row.note;
    }
    return rule;
}

QString DayRuleLogLine(const QDate& date, const DayRule& rule) {
    if (!rule.special) {
        return {};
    }
    const QString day = QStringLiteral("special day %1%2")
                            .arg(date.toString(QStringLiteral("yyyy-MM-dd")),
                                 rule.note.isEmpty() ? QString() : QStringLiteral(" ") + rule.note);
    return rule.bells ? QStringLiteral("%1: the timetable of %2").arg(day, rule.weekName)
                      : QStringLiteral("%1: no bells").arg(day);
}
