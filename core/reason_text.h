// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A reason as the play log words it ("does not exist", "the clock reached 10:05:00") in the
// words the windows show an administrator. A reason it does not know is shown as it is.
QString ReasonForPeople(const QString& reason);
