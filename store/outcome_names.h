// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/rows.h"

#include <QString>

// An outcome as the status answer names it: "fired", "skipped", "missed", "failed".
QString OutcomeKey(PlayOutcome outcome);
// The outcome a key names; false when it names none.
bool OutcomeFromKey(const QString& key, PlayOutcome* outcome);
// An outcome in the administrator's words: 播放, 跳过, 错过, 失败.
QString OutcomeText(PlayOutcome outcome);
