#include "app/command_line.h"

#include "core/version.h"

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine cl;
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
        if (a == QLatin1String("--database")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
                cl.action = CommandLine::Error;
                cl.error = QStringLiteral("--database needs a file path");
                return cl;
            }
            cl.database = args[++i];
        } else if (a.startsWith(QLatin1String("--database="))) {
            cl.database = a.mid(11);
            if (cl.database.isEmpty()) {
                cl.action = CommandLine::Error;
                cl.error = QStringLiteral("--database needs a file path");
                return cl;
            }
        } else {
            cl.action = CommandLine::Error;
            cl.error = QStringLiteral("unknown option: %1").arg(a);
            return cl;
        }
    }
    return cl;
}

QString HelpText() {
    return QStringLiteral(
        "Usage: belvoran [--database PATH]\n"
        "\n"
        "Plays a school's bells, announcements and break music from a weekly timetable.\n"
        "\n"
        "Options:\n"
        "  --database PATH  use the store at PATH (created with defaults if missing);\n"
        "                   default: ~/.local/share/Belvoran/Music.db\n"
        "  --help           show this text and exit\n"
        "  --version        show the version and exit\n"
        "\n"
        "Environment:\n"
        "  BELVORAN_AUDIO_SINK  GStreamer audio sink description (default autoaudiosink)\n"
        "\n"
        "The play log (one line per fired, skipped or failed event) goes to standard error.\n");
}

QString VersionText() {
    return QStringLiteral("Belvoran ") + kVersionText;
}
