// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QVector>
#include <functional>

#include "audio/output_devices.h"
#include "schedule/zones.h"
#include "store/conn.h"
#include "windows/settings/settings_page.h"

class MyButton;
class QComboBox;
class QGridLayout;
class QLineEdit;
struct SettingsContext;

// The play-zones page: for each of the six zones its name, the output it sounds on (one of
// the machine's outputs, the default output, or a sink typed by an expert), the channel of
// that output that feeds it, and a command that switches it on a relay controller; "测试"
// plays a short tone there. Every change is stored at once; the schedule follows from its
// next activation.
class ZonesPage : public SettingsPage {
    Q_OBJECT
public:
    ZonesPage(SettingsContext& ctx, QWidget* parent = nullptr);

    // Lists the outputs there are now and shows the stored zones.
    void Load() override;
    // Stores the six zones as the controls show them; false (after saying why) when refused.
    bool Save() override;
    // While following, what is this computer's own (a switch command, a sink typed here)
    // can still be changed.
    void SetManaged(bool on) override;
    // Plays the tone on zone index's output (0-based), switching it on first.
    void TestZone(int index);

    // The zones as the controls show them.
    QVector<ZoneRow> Shown() const;

    // The machine's outputs and the program's notices, unless a test replaces them.
    std::function<QVector<OutputDevice>()> ListOutputs = ListOutputDevices;
    std::function<void(const QString& text)> Notify;

protected:
    // A zone's test tone can be played.
    QList<QWidget*> LiveWhileManaged() const override;

private:
    void OpenOwnSettings();
    // Editing a central site: its zones name their outputs; commands are each computer's own.
    bool Central() const;
    // This computer follows a central site: only its own settings are stored from here.
    bool Following() const;

    void Build();
    void AddZoneRow(QGridLayout* grid, int index);
    void ConnectZoneRow(int index);
    void ExplainCentralControls();
    void FillOutputs(QComboBox* box, const ZoneRow& zone);
    static void FillChannels(QComboBox* box, const ZoneRow& zone);

    SettingsContext& ctx_;
    QVector<OutputDevice> outputs_;
    QVector<ZoneRow> loaded_;
    QVector<int> loadedOutput_; // the output item each zone showed as loaded
    bool loading_ = false;
    QString tone_; // the test tone's file, made once
    ZoneSwitch switch_;
    QVector<QLineEdit*> names_;        // Text_ZoneName1 …
    QVector<QComboBox*> outputBoxes_;  // Combo_ZoneOutput1 …
    QVector<QComboBox*> channelBoxes_; // Combo_ZoneChannel1 …
    QVector<QLineEdit*> commands_;     // Text_ZoneCommand1 …
    QVector<MyButton*> tests_;         // MyBt_TestZone1 …
};
