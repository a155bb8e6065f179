// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/zones.h"

#include "core/play_log.h"

#include <QMetaMethod>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <memory>
#include <sys/types.h>
#include <unistd.h>

namespace {

const QString kAllZones = QStringLiteral("111111");
// How much of a switch command's error output its failure line keeps.
constexpr qsizetype kSwitchSaysAtMost = 400;

bool HasOwnSetting(const ZoneRow& z) {
    return !z.sink.isEmpty() || z.channel > 0 || !z.command.isEmpty();
}

} // namespace

QString PlayedZoneCode(const QString& code) {
    if (code.size() != kZoneCount) {
        return kAllZones;
    }
    for (QChar c : code) {
        if (c != QLatin1Char('0') && c != QLatin1Char('1')) {
            return kAllZones;
        }
    }
    return code;
}

QString ZoneNamesText(const QString& code, const QStringList& names) {
    const QString played = PlayedZoneCode(code);
    if (played == kAllZones) {
        return QStringLiteral("全部区域");
    }
    QStringList picked;
    for (int i = 0; i < kZoneCount; ++i) {
        if (played[i] == QLatin1Char('1')) {
            const QString name = names.value(i).trimmed();
            picked << (name.isEmpty() ? DefaultZoneNames()[i] : name);
        }
    }
    return picked.isEmpty() ? QStringLiteral("无") : picked.join(QStringLiteral("、"));
}

bool ZonesConfigured(const QVector<ZoneRow>& zones) {
    return std::any_of(zones.begin(), zones.end(), HasOwnSetting);
}

ZonePlan PlanZones(const QString& code, const QVector<ZoneRow>& zones, const QString& defaultSink) {
    ZonePlan plan;
    plan.code = PlayedZoneCode(code);
    // The default output is the device some zone names: the same branch, not a second copy.
    const bool defaultNamed = !defaultSink.isEmpty() &&
                              std::any_of(zones.begin(), zones.end(),
                                          [&](const ZoneRow& z) { return z.sink == defaultSink; });
    for (int i = 0; i < kZoneCount && i < zones.size(); ++i) {
        if (plan.code[i] != QLatin1Char('1')) {
            continue;
        }
        ZoneRow z = zones[i];
        if (z.sink.isEmpty() && defaultNamed) {
            z.sink = defaultSink;
        }
        if (!z.ChannelsUsable()) {
            z.channel = z.channels = 0; // the whole output (ZoneProblems says so)
        }
        plan.names << z.name;
        auto out = std::find_if(plan.route.begin(), plan.route.end(),
                                [&](const AudioOutput& o) { return o.sink == z.sink; });
        if (out == plan.route.end()) {
            plan.route.push_back({z.name, z.sink, z.channels, {}});
            out = plan.route.end() - 1;
            if (z.channel > 0) {
                out->channelsOn << z.channel;
            }
        } else {
            out->name += QLatin1Char('+') + z.name;
            out->channels = std::max(out->channels, z.channels);
            // A zone that takes the whole output makes the branch whole.
            if (z.channel > 0 && !out->channelsOn.isEmpty()) {
                out->channelsOn << z.channel;
            } else {
                out->channelsOn.clear();
            }
        }
        if (!z.command.isEmpty()) {
            auto call =
                std::find_if(plan.switches.begin(), plan.switches.end(),
                             [&](const ZoneSwitchCall& c) { return c.command == z.command; });
            if (call == plan.switches.end()) {
                plan.switches.push_back({z.command, QString(kZoneCount, QLatin1Char('0'))});
                call = plan.switches.end() - 1;
            }
            call->code[i] = QLatin1Char('1');
        }
    }
    if (!ZonesConfigured(zones)) {
        plan.route.clear(); // nothing configured: the default output, whatever the code
        return plan;
    }
    plan.nowhere = plan.names.isEmpty();
    // The default output whole is the play of old, with no tee.
    if (plan.route.size() == 1 && plan.route[0].sink.isEmpty() &&
        plan.route[0].channelsOn.isEmpty()) {
        plan.route.clear();
    }
    return plan;
}

QStringList ZoneProblems(const QString& code, const QVector<ZoneRow>& zones) {
    const QString played = PlayedZoneCode(code);
    QStringList channels, outputs;
    for (int i = 0; i < kZoneCount && i < zones.size(); ++i) {
        const ZoneRow& z = zones[i];
        if (played[i] != QLatin1Char('1')) {
            continue;
        }
        if (!z.ChannelsUsable()) {
            channels << QStringLiteral("zone %1's channel %2 of %3 is not usable (at most %4 "
                                       "channels); it plays on the whole output")
                            .arg(z.name)
                            .arg(z.channel)
                            .arg(z.channels)
                            .arg(kMaxZoneChannels);
        }
        if (z.OutputMissing()) {
            outputs << QStringLiteral("zone %1's output \"%2\" is not on this computer; it "
                                      "plays to the default output")
                           .arg(z.name, z.outputName);
        }
    }
    return channels + outputs;
}

QString ZonesLeftBy(const QString& earlier, const QString& later) {
    const QString a = PlayedZoneCode(earlier), b = PlayedZoneCode(later);
    QString left(kZoneCount, QLatin1Char('0'));
    for (int i = 0; i < kZoneCount; ++i) {
        if (a[i] == QLatin1Char('1') && b[i] != QLatin1Char('1')) {
            left[i] = QLatin1Char('1');
        }
    }
    return left;
}

QString ZoneCodeOf(const QVector<bool>& picked) {
    QString code;
    for (bool p : picked) {
        code += p ? QLatin1Char('1') : QLatin1Char('0');
    }
    return code;
}

ZoneSwitch::~ZoneSwitch() {
    for (QProcess* process : findChildren<QProcess*>()) {
        process->disconnect(this);
        if (process->state() != QProcess::NotRunning && !process->waitForFinished(1000)) {
            ::kill(-pid_t(process->processId()), SIGKILL); // with what it started
        }
    }
}

void ZoneSwitch::On(const QVector<ZoneSwitchCall>& calls) {
    for (const ZoneSwitchCall& c : calls) {
        if (!on_.contains(c)) {
            on_ << c;
            Run(c, QStringLiteral("on"));
        }
    }
}

void ZoneSwitch::OffExcept(const QVector<ZoneSwitchCall>& calls) {
    QVector<ZoneSwitchCall> keep;
    for (const ZoneSwitchCall& c : on_) {
        if (calls.contains(c)) {
            keep << c;
        } else {
            Run(c, QStringLiteral("off"));
        }
    }
    on_ = keep;
}

void ZoneSwitch::Fail(const QString& text) {
    // Whoever listens says it, against the event it concerns: one line per failure.
    if (!isSignalConnected(QMetaMethod::fromSignal(&ZoneSwitch::Failed))) {
        PlayLog(QStringLiteral("error %1").arg(text));
    }
    emit Failed(text);
}

void ZoneSwitch::Run(const ZoneSwitchCall& call, const QString& how) {
    QStringList args = QProcess::splitCommand(call.command);
    if (args.isEmpty()) {
        return;
    }
    const QString program = args.takeFirst();
    args << call.code << how;
    const QString what = QStringLiteral("%1 %2 %3").arg(call.command, call.code, how);
    auto* process = new QProcess(this);
    // A group of its own: what it starts ends with it at the time limit.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
    auto* limit = new QTimer(process);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, process, [this, process, what] {
        if (const qint64 pid = process->processId(); pid > 0) {
            ::kill(-pid_t(pid), SIGKILL);
        }
        process->kill(); // finished (crashed) follows and deletes it
        Fail(QStringLiteral("zone switch \"%1\" did not end within %2 s")
                 .arg(what)
                 .arg(limitMs_ / 1000.0));
    });
    // What it says on its error output is kept, up to a little, for a failure's line; the
    // rest is read and dropped, so a chatty command neither blocks nor floods the log.
    auto said = std::make_shared<QByteArray>();
    connect(process, &QProcess::readyReadStandardError, process, [process, said] {
        const QByteArray chunk = process->readAllStandardError();
        said->append(chunk.left(std::max<qsizetype>(0, kSwitchSaysAtMost - said->size())));
    });
    connect(process, &QProcess::finished, this,
            [this, process, limit, what, said](int code, QProcess::ExitStatus status) {
                if (limit->isActive() && (status != QProcess::NormalExit || code != 0)) {
                    const QString text = QString::fromLocal8Bit(*said).simplified();
                    Fail(QStringLiteral("zone switch \"%1\" failed (exit %2)%3")
                             .arg(what)
                             .arg(code)
                             .arg(text.isEmpty() ? QString() : QStringLiteral(": ") + text));
                }
                limit->stop();
                process->deleteLater();
            });
    connect(process, &QProcess::errorOccurred, this,
            [this, process, limit, what](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart) {
                    limit->stop();
                    Fail(QStringLiteral("zone switch \"%1\" cannot be started: %2")
                             .arg(what, process->errorString()));
                    process->deleteLater();
                }
            });
    PlayLog(QStringLiteral("zones %1").arg(what));
    limit->start(limitMs_);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(program, args);
}
