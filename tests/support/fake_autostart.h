// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "system/autostart.h"

// An autostart entry kept in memory; fails with the given reason when told to.
class FakeAutostart : public Autostart {
public:
    bool Add(QString* error) override {
        ++adds;
        if (!failReason.isEmpty()) {
            return Fail(error);
        }
        present = true;
        return true;
    }
    bool Remove(QString* error) override {
        ++removes;
        if (!failReason.isEmpty()) {
            return Fail(error);
        }
        present = false;
        return true;
    }
    bool IsPresent() const override { return present; }
    QString UninstalledProgram() const override { return uninstalled; }

    bool present = false;
    int adds = 0;
    int removes = 0;
    QString failReason;  // non-empty: Add and Remove fail with it
    QString uninstalled; // the program it starts, when that is not installed

private:
    bool Fail(QString* error) {
        if (error) {
            *error = failReason;
        }
        return false;
    }
};
