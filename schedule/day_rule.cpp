// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/day_rule.h"

#include "core/time_text.h"

namespace {

enum class Fault { None, DateBlank, DateInvalid, KindBlank, KindUnknown };

Fault FaultOf(const SpecialDayRow& row) {
    if (row.date.trimmed() != row.date) {
        return Fault::DateBlank;
    }
    // The canonical text of the date must be the row's text: "2026-2-3" never matches a date.
    const QDate date = QDate::fromString(row.date, QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid() || date.toString(QStringLiteral("yyyy-MM-dd")) != row.date) {
        return Fault::DateInvalid;
    }
    if (row.kind == kNoBellsKind || WeekdayNames().contains(row.kind)) {
        return Fault::None;
    }
    return row.kind.trimmed() != row.kind ? Fault::KindBlank : Fault::KindUnknown;
}

} // namespace

QString SpecialDayProblem(const SpecialDayRow& row) {
    switch (FaultOf(row)) {
    case Fault::None:
        return {};
    case Fault::DateBlank:
        return QStringLiteral("the date \"%1\" has blanks around it").arg(row.date);
    case Fault::DateInvalid:
        return QStringLiteral("the date \"%1\" is not a real date written yyyy-MM-dd")
            .arg(row.date);
    case Fault::KindBlank:
        return QStringLiteral("the kind \"%1\" has blanks around it").arg(row.kind);
    case Fault::KindUnknown:
        break;
    }
    return QStringLiteral("the kind \"%1\" is neither %2 nor a weekday")
        .arg(row.kind, kNoBellsKind);
}

QString SpecialDayProblemText(const SpecialDayRow& row) {
    switch (FaultOf(row)) {
    case Fault::None:
        return {};
    case Fault::DateBlank:
        return QStringLiteral("日期“%1”前后有空格").arg(row.date);
    case Fault::DateInvalid:
        return QStringLiteral("日期“%1”不存在或不是 yyyy-MM-dd 形式").arg(row.date);
    case Fault::KindBlank:
        return QStringLiteral("类型“%1”前后有空格").arg(row.kind);
    case Fault::KindUnknown:
        break;
    }
    return QStringLiteral("类型“%1”既不是%2也不是星期几").arg(row.kind, kNoBellsKind);
}

DayRule RuleForDate(const QDate& date, const QVector<SpecialDayRow>& specialDays) {
    DayRule rule;
    rule.weekName = WeekdayName(date);
    const QString text = date.toString(QStringLiteral("yyyy-MM-dd"));
    for (const SpecialDayRow& row : specialDays) {
        if (row.date != text || !SpecialDayProblem(row).isEmpty()) {
            continue;
        }
        if (row.kind == kNoBellsKind) {
            rule.bells = false;
        } else {
            rule.bells = true;
            rule.weekName = row.kind;
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
