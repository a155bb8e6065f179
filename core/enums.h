// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Modes whose values are the numbers the store keeps.

// config.播放顺序: how a break-music library is played.
enum class PlayOrder { Sequential = 0, RepeatOne = 1, Random = 2 };

// The stored number as a play order; any number past 2 has always meant random.
inline PlayOrder PlayOrderFromStored(int n) {
    return n <= 0 ? PlayOrder::Sequential : n == 1 ? PlayOrder::RepeatOne : PlayOrder::Random;
}

// 播放记录.结果: what became of one event of the timetable.
enum class PlayOutcome { Fired = 0, Skipped = 1, Missed = 2, Failed = 3 };
