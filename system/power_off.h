// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Switching the computer off. Tests replace it: nothing in a test may power off.
class PowerOff {
public:
    virtual ~PowerOff() = default;
    // Asks the system to power off now. True when the request was accepted; otherwise
    // false with *reason saying why (refused, not allowed, unreachable).
    virtual bool PowerOffNow(QString* reason) = 0;
};

// systemd-logind over the system D-Bus: CanPowerOff first, then PowerOff.
class LogindPowerOff : public PowerOff {
public:
    bool PowerOffNow(QString* reason) override;
};
