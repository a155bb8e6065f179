// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/zones_page.h"

#include "core/play_log.h"

#include "audio/player.h"
#include "store/conn.h"
#include "widgets/art.h"
#include "widgets/message_box.h"
#include "widgets/my_button.h"
#include "windows/settings/settings_context.h"

#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QTimer>

namespace {

// An output item's data: the sink and its channels. The default output has an empty sink.
struct OutputItem {
    QString sink;
    int channels = 0;
};

QVariant ItemData(const QString& sink, int channels) {
    return QVariantList{sink, channels};
}

OutputItem ItemOf(const QVariant& v) {
    const QVariantList l = v.toList();
    return {l.value(0).toString(), l.value(1).toInt()};
}

const QString& kDefaultOutput = kDefaultOutputName;
constexpr int kChannelChoices[] = {2, 4, 6, 8};

} // namespace

ZonesPage::ZonesPage(SettingsContext& ctx, QWidget* parent) : SettingsPage(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frame(5)"));
    Notify = [this](const QString& text) {
        ShowMessage(this, QStringLiteral("播放区域"), text, MsgMode::Notice); // caption
    };
    connect(&switch_, &ZoneSwitch::Failed, this, [this](const QString& text) {
        PlayLog(QStringLiteral("error %1").arg(text));
        Notify(QStringLiteral("区域切换命令失败：%1").arg(text));
    });
    Build();
}

void ZonesPage::Build() {
    resize(Px(8000), Px(4900));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(245, 245, 250));
    setPalette(pal);
    auto* frame = new QGroupBox(QStringLiteral("各区域的声音输出"), this);
    frame->setObjectName(QStringLiteral("Frm_Zones"));
    frame->setGeometry(Px(QRect(240, 240, 7520, 4420)));
    auto* grid = new QGridLayout(frame);
    grid->setHorizontalSpacing(Px(90));
    // clang-format off
    const QStringList heads = {QStringLiteral("区域名称"), QStringLiteral("输出"), // caption
                               QStringLiteral("声道"), QStringLiteral("切换命令"), QString()}; // caption
    // clang-format on
    for (int c = 0; c < heads.size(); ++c) {
        grid->addWidget(new QLabel(heads[c], frame), 0, c);
    }
    for (int i = 0; i < kZoneCount; ++i) {
        AddZoneRow(grid, i);
    }
    if (Central()) {
        ExplainCentralControls();
    }
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);
    auto* note = new QLabel(QStringLiteral("未设置的区域使用默认输出；全部未设置时，"
                                           "所有铃声如常从默认输出播放。"),
                            frame);
    note->setObjectName(QStringLiteral("Lab_ZonesNote"));
    note->setWordWrap(true);
    grid->addWidget(note, kZoneCount + 1, 0, 1, heads.size());
}

// Zone i's name, output, channel, command and test button, in grid row i + 1.
void ZonesPage::AddZoneRow(QGridLayout* grid, int i) {
    QWidget* frame = grid->parentWidget();
    const QString n = QString::number(i + 1);
    auto* name = new QLineEdit(frame);
    name->setObjectName(QStringLiteral("Text_ZoneName") + n);
    name->setMaxLength(20);
    const QString zone = QStringLiteral("区域%1").arg(n);
    name->setAccessibleName(zone + QStringLiteral("名称")); // caption
    auto* output = new QComboBox(frame);
    output->setObjectName(QStringLiteral("Combo_ZoneOutput") + n);
    // An expert may type a sink ("alsasink device=hw:1"): stored as typed.
    output->setEditable(true);
    output->setAccessibleName(zone + QStringLiteral("输出")); // caption
    output->setInsertPolicy(QComboBox::NoInsert);
    // The list opens below the box, whole, rather than over it around the current item.
    output->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    output->setItemDelegate(new QStyledItemDelegate(output)); // rows as tall as their text
    output->setToolTip(QStringLiteral("本机的声音输出；也可直接输入 GStreamer 输出元件，"
                                      "如 alsasink device=hw:1"));
    auto* channel = new QComboBox(frame);
    channel->setObjectName(QStringLiteral("Combo_ZoneChannel") + n);
    channel->setToolTip(QStringLiteral("多声道输出中接此区域功放的声道"));
    channel->setAccessibleName(zone + QStringLiteral("声道")); // caption
    auto* command = new QLineEdit(frame);
    command->setObjectName(QStringLiteral("Text_ZoneCommand") + n);
    command->setPlaceholderText(QStringLiteral("无"));
    command->setAccessibleName(zone + QStringLiteral("切换命令")); // caption
    command->setToolTip(QStringLiteral("区域切换器的命令，播放前以“区域代码 on”、播放后以"
                                       "“区域代码 off”为参数运行，如 /usr/local/bin/pa-zones"));
    auto* test = MyButton::Create(frame, QStringLiteral("MyBt_TestZone") + n, QRect(0, 0, 900, 345),
                                  QStringLiteral("测试"), 1);
    test->setMinimumSize(Px(900), Px(345));
    test->setAccessibleName(zone + QStringLiteral("测试"));
    grid->addWidget(name, i + 1, 0);
    grid->addWidget(output, i + 1, 1);
    grid->addWidget(channel, i + 1, 2);
    grid->addWidget(command, i + 1, 3);
    grid->addWidget(test, i + 1, 4);
    names_ << name;
    outputBoxes_ << output;
    channelBoxes_ << channel;
    commands_ << command;
    tests_ << test;
    ConnectZoneRow(i);
}

// Each change to zone i's row is stored at once; its button plays the test tone.
void ZonesPage::ConnectZoneRow(int i) {
    connect(names_[i], &QLineEdit::editingFinished, this, [this] { Save(); });
    connect(commands_[i], &QLineEdit::editingFinished, this, [this] { Save(); });
    connect(outputBoxes_[i], &QComboBox::activated, this, [this] { Save(); });
    connect(outputBoxes_[i]->lineEdit(), &QLineEdit::editingFinished, this, [this] { Save(); });
    connect(channelBoxes_[i], &QComboBox::activated, this, [this] { Save(); });
    connect(tests_[i], &MyButton::Click, this, [this, i] { TestZone(i); });
}

// A central site's commands are greyed out and its outputs say how each computer finds them.
void ZonesPage::ExplainCentralControls() {
    for (QLineEdit* command : commands_) {
        command->setEnabled(false);
        command->setPlaceholderText(QString());
        command->setToolTip(QStringLiteral("切换命令是各台电脑自己的设置，在该电脑的“播放区域”"
                                           "页填写"));
    }
    for (QComboBox* output : outputBoxes_) {
        output->setToolTip(QStringLiteral("各台电脑上的输出名称；每台电脑从它自己同名的输出"
                                          "播放，没有同名输出时从默认输出播放"));
    }
}

bool ZonesPage::Central() const {
    return !ctx_.conn.Site().isEmpty();
}

void ZonesPage::SetManaged(bool on) {
    SettingsPage::SetManaged(on);
    if (on) {
        OpenOwnSettings();
    }
}

QList<QWidget*> ZonesPage::LiveWhileManaged() const {
    return {tests_.begin(), tests_.end()};
}

void ZonesPage::OpenOwnSettings() {
    for (QLineEdit* command : commands_) {
        command->setEnabled(true);
        command->setToolTip(QStringLiteral("本机的区域切换命令：中心时间表不会改动它"));
    }
    for (QComboBox* output : outputBoxes_) {
        output->setEnabled(true);
        output->lineEdit()->setEnabled(true); // where a sink is typed
        output->setToolTip(QStringLiteral("输出由中心时间表按名称指定；在这里直接输入的 "
                                          "GStreamer 输出元件是本机自己的，优先于中心的指定"));
    }
}

bool ZonesPage::Following() const {
    return !ctx_.state.managedSite.isEmpty();
}

void ZonesPage::FillOutputs(QComboBox* box, const ZoneRow& zone) {
    box->clear();
    box->addItem(kDefaultOutput, ItemData(QString(), 0));
    for (const OutputDevice& d : outputs_) {
        box->addItem(d.name, ItemData(d.sink, d.channels));
        box->setItemData(box->count() - 1, d.sink, Qt::ToolTipRole);
    }
    int at = -1;
    if (Central() || zone.OutputMissing()) {
        // By its name: each computer plays a site's zone on its own output of that name.
        at = zone.outputName.isEmpty() || zone.outputName == kDefaultOutput
                 ? 0
                 : box->findText(zone.outputName);
    } else {
        at = box->findData(ItemData(zone.sink, zone.channels));
    }
    for (int k = 0; at < 0 && !Central() && !zone.OutputMissing() && k < box->count(); ++k) {
        if (ItemOf(box->itemData(k)).sink == zone.sink) {
            at = k;
        }
    }
    if (at < 0 && zone.OutputMissing()) {
        box->addItem(zone.outputName, ItemData(QString(), zone.channels));
        box->setItemData(box->count() - 1, QStringLiteral("本机没有这个输出，此区域从默认输出播放"),
                         Qt::ToolTipRole);
        at = box->count() - 1;
    }
    if (at < 0) {
        // Stored but not there now (unplugged) or typed: shown by its name, kept as it is.
        box->addItem(zone.outputName.isEmpty() ? zone.sink : zone.outputName,
                     ItemData(zone.sink, zone.channels));
        box->setItemData(box->count() - 1, zone.sink, Qt::ToolTipRole);
        at = box->count() - 1;
    }
    box->setCurrentIndex(at);
}

void ZonesPage::FillChannels(QComboBox* box, const ZoneRow& zone) {
    box->clear();
    box->addItem(QStringLiteral("全部"), QVariantList{0, 0});
    for (int n : kChannelChoices) {
        for (int c = 1; c <= n; ++c) {
            box->addItem(QStringLiteral("%1/%2").arg(c).arg(n), QVariantList{c, n});
        }
    }
    const int at = box->findData(QVariantList{zone.channel, zone.channels});
    box->setCurrentIndex(zone.channel > 0 && at >= 0 ? at : 0);
}

void ZonesPage::Load() {
    loading_ = true;
    outputs_ = ListOutputs();
    loadedOutput_.fill(-1, kZoneCount);
    QString error;
    if (!ctx_.conn.Zones(&loaded_, &error)) {
        Notify(QStringLiteral("无法读取播放区域：%1").arg(error));
        loaded_.clear();
    }
    for (int i = 0; i < kZoneCount && i < loaded_.size(); ++i) {
        names_[i]->setText(loaded_[i].name);
        FillOutputs(outputBoxes_[i], loaded_[i]);
        loadedOutput_[i] = outputBoxes_[i]->currentIndex();
        FillChannels(channelBoxes_[i], loaded_[i]);
        commands_[i]->setText(loaded_[i].command);
    }
    loading_ = false;
}

QVector<ZoneRow> ZonesPage::Shown() const {
    QVector<ZoneRow> zones;
    for (int i = 0; i < kZoneCount; ++i) {
        ZoneRow z;
        z.zone = i + 1;
        z.name = names_[i]->text().trimmed();
        if (z.name.isEmpty()) {
            z.name = DefaultZoneNames()[i];
        }
        QComboBox* out = outputBoxes_[i];
        const int k = out->currentIndex();
        if (k >= 0 && out->currentText() == out->itemText(k)) {
            z.sink = ItemOf(out->itemData(k)).sink;
            // A typed sink is shown as itself: it has no name of its own.
            z.outputName = out->itemText(k) == z.sink ? QString() : out->itemText(k);
        } else if (out->currentText().trimmed() != kDefaultOutput) {
            z.sink = out->currentText().trimmed(); // typed by hand
        }
        const QVariantList channel = channelBoxes_[i]->currentData().toList();
        z.channel = channel.value(0).toInt();
        z.channels = channel.value(1).toInt();
        z.command = commands_[i]->text().trimmed();
        if (Following() && i < loaded_.size()) {
            // The site's name, output and channel stay as copied; what is changed here is
            // this computer's own: its command, and an output chosen here (kept as its sink,
            // which no copy overwrites). 默认输出 goes back to the site's output.
            ZoneRow own = loaded_[i];
            own.command = z.command;
            if (k != loadedOutput_.value(i, -1) || out->currentText() != out->itemText(k)) {
                own.sink = z.sink;
                own.outputName.clear();
            }
            zones << own;
            continue;
        }
        if (Central()) {
            // A site names its outputs; the sink that opens one, and the switch command, are
            // each computer's own.
            if (z.outputName.isEmpty()) {
                z.outputName = z.sink; // typed: the name of an output of the computers
            }
            z.sink.clear();
            z.command.clear();
        }
        zones << z;
    }
    return zones;
}

bool ZonesPage::Save() {
    if (loading_) {
        return true;
    }
    const QVector<ZoneRow> zones = Shown();
    if (zones == loaded_) {
        return true;
    }
    // What is typed as an output must be one: a path or a word would play nowhere.
    for (const ZoneRow& z : zones) {
        if (const QString why = z.sink.isEmpty() ? QString() : WhyNotAnOutput(z.sink);
            !why.isEmpty()) {
            Notify(QStringLiteral("播放区域未保存：%1 的输出“%2”%3。").arg(z.name, z.sink, why));
            return false;
        }
    }
    QString error;
    if (!ctx_.conn.SetZones(zones, &error)) {
        Notify(QStringLiteral("播放区域未保存：%1").arg(error));
        return false;
    }
    loaded_ = zones;
    return true;
}

void ZonesPage::TestZone(int index) {
    // A central site is tried as shown, never stored by a test (its account may only look).
    if (!Central() && !Save()) {
        return;
    }
    if (tone_.isEmpty()) {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        QDir().mkpath(dir);
        if (!WriteTestTone(dir + QStringLiteral("/zone-test-tone.wav"))) {
            Notify(QStringLiteral("无法生成测试音"));
            return;
        }
        tone_ = dir + QStringLiteral("/zone-test-tone.wav");
    }
    QString code(kZoneCount, QLatin1Char('0'));
    code[index] = QLatin1Char('1');
    if (loaded_.size() != kZoneCount) {
        return;
    }
    QVector<ZoneRow> zones = Central() ? Shown() : loaded_;
    if (Central()) {
        // Tried on this desk's output of the zone's name; nothing the site holds is run.
        for (ZoneRow& z : zones) {
            const auto it =
                std::find_if(outputs_.begin(), outputs_.end(),
                             [&](const OutputDevice& d) { return d.name == z.outputName; });
            z.sink = it == outputs_.end() ? QString() : it->sink;
            z.command.clear();
        }
    }
    const ZonePlan plan = PlanZones(code, zones);
    switch_.On(plan.switches);
    Player& player = ctx_.player;
    player.SetFileName(tone_, plan.route);
    player.Play();
    QTimer::singleShot(1500, this, [this] { switch_.OffExcept(); });
}
