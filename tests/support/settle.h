// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>
#include <QtTest>
#include <memory>

// Runs the event loop until everything already queued has run: posted events, queued calls
// and zero-time timers, and what those queue in turn, a few rounds deep. A reaction a test
// expects not to come would come from them (the program defers its checks this way), so
// "nothing happened" is proven without guessing a time.
inline bool Settle(int rounds = 3) {
    for (int i = 0; i < rounds; ++i) {
        auto done = std::make_shared<bool>(false);
        QTimer::singleShot(0, [done] { *done = true; });
        if (!QTest::qWaitFor([&] { return *done; }, 10000)) {
            return false;
        }
    }
    return true;
}
