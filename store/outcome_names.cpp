// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/outcome_names.h"

namespace {

constexpr PlayOutcome kOutcomes[] = {PlayOutcome::Fired, PlayOutcome::Skipped, PlayOutcome::Missed,
                                     PlayOutcome::Failed};

} // namespace

QString OutcomeKey(PlayOutcome outcome) {
    switch (outcome) {
    case PlayOutcome::Fired:
        return QStringLiteral("fired");
    case PlayOutcome::Skipped:
        return QStringLiteral("skipped");
    case PlayOutcome::Missed:
        return QStringLiteral("missed");
    case PlayOutcome::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

bool OutcomeFromKey(const QString& key, PlayOutcome* outcome) {
    for (const PlayOutcome o : kOutcomes) {
        if (OutcomeKey(o) == key) {
            *outcome = o;
            return true;
        }
    }
    return false;
}

QString OutcomeText(PlayOutcome outcome) {
    switch (outcome) {
    case PlayOutcome::Fired:
        return QStringLiteral("播放");
    case PlayOutcome::Skipped:
        return QStringLiteral("跳过");
    case PlayOutcome::Missed:
        return QStringLiteral("错过");
    case PlayOutcome::Failed:
        return QStringLiteral("失败");
    }
    return {};
}
