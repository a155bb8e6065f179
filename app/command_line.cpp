// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include "core/version.h"

#include <algorithm>

namespace {

// An option's value, as "--name VALUE" or "--name=VALUE"; false (with the error set) when
// it is missing.
bool TakeValue(const QStringList& args, int* i, const QString& name, const QString& what,
               QString* value, CommandLine* cl) {
    const QString& a = args[*i];
    if (a == name) {
        *value = *i + 1 < args.size() ? args[++*i] : QString();
    } else {
        *value = a.mid(name.size() + 1);
    }
    if (value->isEmpty()) {
        cl->action = CommandLine::Error;
        cl->error = QStringLiteral("%1 needs %2").arg(name, what);
        return false;
    }
    return true;
}

bool Is(const QString& a, const char* name) {
    const QLatin1String n(name);
    return a == n || (a.startsWith(n) && a.mid(n.size()).startsWith(QLatin1Char('=')));
}

bool Refuse(CommandLine* cl, const QString& why) {
    cl->action = CommandLine::Error;
    cl->error = why;
    return false;
}

// The central options go together.
bool CheckCentral(CommandLine* cl) {
    if (cl->noCentral && !cl->central.isEmpty()) {
        return Refuse(cl, QStringLiteral("--no-central and --central exclude each other"));
    }
    if (cl->central.isEmpty() != cl->site.isEmpty()) {
        return Refuse(cl, QStringLiteral("--central and --site go together"));
    }
    if (cl->edit && cl->central.isEmpty()) {
        return Refuse(cl, QStringLiteral("--edit needs --central and --site"));
    }
    if (cl->edit && cl->service) {
        return Refuse(cl, QStringLiteral("--edit and --service exclude each other"));
    }
    return true;
}

// An event name that fits on the request line: no control characters.
bool IsOneLine(const QString& name) {
    return !name.isEmpty() && std::none_of(name.begin(), name.end(), [](QChar c) {
        return c.category() == QChar::Other_Control;
    });
}

// "status [--json]", "play NAME", "stop": false when args name none of them.
bool ParseCommand(const QStringList& args, CommandLine* cl) {
    const QString word = args.value(1);
    const QStringList rest = args.mid(2);
    if (word == QLatin1String("status")) {
        cl->action = CommandLine::Status;
        cl->json = rest == QStringList{QStringLiteral("--json")};
        return cl->json || rest.isEmpty() || Refuse(cl, QStringLiteral("status takes only --json"));
    }
    if (word == QLatin1String("stop")) {
        cl->action = CommandLine::Stop;
        return rest.isEmpty() || Refuse(cl, QStringLiteral("stop takes no arguments"));
    }
    if (word == QLatin1String("central-schema")) {
        cl->action = CommandLine::MakeCentralSchema;
        cl->central = rest.value(0);
        return (rest.size() == 1 && !cl->central.isEmpty()) ||
               Refuse(cl, QStringLiteral("central-schema needs the central timetable's "
                                         "connection (its owner's account)"));
    }
    if (word == QLatin1String("play")) {
        cl->action = CommandLine::Play;
        cl->eventName = rest.value(0);
        return (rest.size() == 1 && IsOneLine(cl->eventName)) ||
               Refuse(cl, QStringLiteral("play needs one event name"));
    }
    return false;
}

} // namespace

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine cl;
    if (ParseCommand(args, &cl) || cl.action == CommandLine::Error) {
        return cl;
    }
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            cl.action = CommandLine::ShowHelp;
            return cl;
        }
        if (a == QLatin1String("--version") || a == QLatin1String("-v")) {
            cl.action = CommandLine::ShowVersion;
            return cl;
        }
        if (Is(a, "--database")) {
            if (!TakeValue(args, &i, QStringLiteral("--database"), QStringLiteral("a file path"),
                           &cl.database, &cl)) {
                return cl;
            }
        } else if (Is(a, "--central")) {
            if (!TakeValue(args, &i, QStringLiteral("--central"),
                           QStringLiteral("a libpq service name, connection string or URL"),
                           &cl.central, &cl)) {
                return cl;
            }
        } else if (Is(a, "--site")) {
            if (!TakeValue(args, &i, QStringLiteral("--site"), QStringLiteral("a site name"),
                           &cl.site, &cl)) {
                return cl;
            }
        } else if (a == QLatin1String("--edit")) {
            cl.edit = true;
        } else if (a == QLatin1String("--no-central")) {
            cl.noCentral = true;
        } else if (a == QLatin1String("--service")) {
            cl.service = true;
        } else {
            cl.action = CommandLine::Error;
            cl.error = QStringLiteral("unknown option: %1").arg(a);
            return cl;
        }
    }
    CheckCentral(&cl);
    return cl;
}

QString HelpText() {
    return QStringLiteral(
        "Usage: belvoran [--service] [--database PATH] [--central SERVICE --site NAME]\n"
        "       belvoran [--database PATH] --central SERVICE --site NAME --edit\n"
        "       belvoran [--service] [--database PATH] --no-central\n"
        "       belvoran status [--json] | play NAME | stop\n"
        "       belvoran central-schema SERVICE\n"
        "\n"
        "Plays a school's bells, announcements and break music from a weekly timetable.\n"
        "\n"
        "Options:\n"
        "  --database PATH  use the store at PATH (created with defaults if missing);\n"
        "                   default: ~/.local/share/Belvoran/Music.db\n"
        "  --central SERVICE --site NAME\n"
        "                   follow site NAME of the central PostgreSQL timetable (a libpq\n"
        "                   service name, connection string or postgresql:// URL; the\n"
        "                   password goes in ~/.pgpass): its timetable is copied into the\n"
        "                   store and the bells ring from that copy; remembered\n"
        "  --edit           with --central and --site: edit that site in the settings window\n"
        "                   (this copy rings no bells)\n"
        "  --no-central     stop following; the last copy stays as the own timetable\n"
        "  --service        run without a window, as a system service (needs no display):\n"
        "                   the bells, break music, zones, records, central following and\n"
        "                   the daily power-off (at once, no countdown) run as on the\n"
        "                   desktop; problems go to the log; tells systemd (Type=notify,\n"
        "                   watchdog) through NOTIFY_SOCKET; SIGTERM ends it; the lock goes\n"
        "                   in $RUNTIME_DIRECTORY when set\n"
        "  --help           show this text and exit\n"
        "  --version        show the version and exit\n"
        "\n"
        "Commands, answered by the copy running for this user (exit status 3 when none runs):\n"
        "  status           the next bell, today's record so far, problems, version, uptime\n"
        "  status --json    the same as one JSON object\n"
        "  play NAME        play today's event NAME now, as the tray's 立即播放 does; of\n"
        "                   several with that name the next due (else the day's last)\n"
        "  stop             halt what plays, as the tray's 停止播放 does\n"
        "\n"
        "  central-schema SERVICE  make (or bring up to date) the central timetable's tables,\n"
        "                   as its owner account, then exit; needs no display\n"
        "\n"
        "Environment:\n"
        "  BELVORAN_AUDIO_SINK  GStreamer audio sink description (default autoaudiosink)\n"
        "\n"
        "The play log (one line per fired, skipped or failed event) goes to standard error,\n"
        "with journal priorities when standard error is the systemd journal.\n");
}

QString VersionText() {
    return QStringLiteral("belvoran ") + kProgramVersion;
}

QString UsageErrorText(const QString& error) {
    return QStringLiteral("belvoran: %1\nTry 'belvoran --help' for more information.\n").arg(error);
}
