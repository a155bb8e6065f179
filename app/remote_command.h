// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QString>

struct CommandLine;

// "belvoran status|play|stop": asks the copy running for this user over its control socket,
// with no display and no lock, and prints the answer. The exit status: 0 done, 1 refused or
// failed, 3 no copy runs (as systemctl says of a stopped unit).
int RunRemoteCommand(const CommandLine& cl);

// A status reply as lines for people.
QString StatusText(const QJsonObject& status);
