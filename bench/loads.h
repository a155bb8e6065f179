// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the timing benchmarks share: the loads they run under, and their quantiles.

#include <QProcess>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

// The q-quantile of v (0: min, 0.5: median, 1: max); -1 when v is empty.
inline double Pick(std::vector<double> v, double q) {
    if (v.empty()) {
        return -1;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * double(v.size() - 1) + 0.5))];
}

// Runs run("idle") and/or run("busy") as mode asks ("idle", "busy" or "both"); busy with
// `stress-ng --cpu 2` alongside. False when stress-ng cannot be started.
inline bool RunUnderLoads(const QString& mode, const std::function<void(const char*)>& run) {
    if (mode == QLatin1String("idle") || mode == QLatin1String("both")) {
        run("idle");
    }
    if (mode == QLatin1String("busy") || mode == QLatin1String("both")) {
        QProcess stress;
        stress.start(QStringLiteral("stress-ng"),
                     {QStringLiteral("--cpu"), QStringLiteral("2"), QStringLiteral("--quiet")});
        if (!stress.waitForStarted()) {
            std::fprintf(stderr, "stress-ng did not start (apt install stress-ng)\n");
            return false;
        }
        run("busy");
        stress.terminate();
        stress.waitForFinished(5000);
    }
    return true;
}
