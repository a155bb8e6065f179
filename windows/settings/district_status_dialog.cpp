// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/district_status_dialog.h"

#include "central/district_reader.h"
#include "core/reason_text.h"
#include "store/outcome_names.h"
#include "widgets/ui_font.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

enum ComputerColumn {
    kSite,
    kComputer,
    kAccount,
    kHeartbeat,
    kNextBell,
    kFired,
    kMissed,
    kFailed,
    kSkipped,
    kClock,
    kVersion,
    kOutage,
    kProblems,
    kComputerColumns
};
enum FailureColumn {
    kTime,
    kFailureSite,
    kFailureComputer,
    kEvent,
    kOutcome,
    kLate,
    kReason,
    kFile,
    kFailureColumns
};

const QColor kRedRow(255, 200, 200);
// The widest a column of long texts grows before they wrap, in pixels.
constexpr int kWrapWidth = 230;
const QColor kWarning(170, 20, 20);

QTableWidget* Grid(QWidget* parent, const QString& name, const QString& accessible,
                   const QStringList& titles) {
    auto* grid = new QTableWidget(0, titles.size(), parent);
    grid->setObjectName(name);
    grid->setAccessibleName(accessible);
    grid->setHorizontalHeaderLabels(titles);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setWordWrap(false);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 8);
    grid->horizontalHeader()->setStretchLastSection(true);
    return grid;
}

// "14:30:05（4 分钟前）": the time of day alone when it was today on the server.
QString HeartbeatText(const ComputerStatus& c, const QDate& serverToday) {
    if (!c.heartbeat.isValid()) {
        return QStringLiteral("从未收到");
    }
    const QString when = c.heartbeat.toString(c.heartbeat.date() == serverToday
                                                  ? QStringLiteral("HH:mm:ss")
                                                  : QStringLiteral("yyyy-MM-dd HH:mm"));
    const qint64 s = std::max<qint64>(c.heartbeatAgeSec, 0);
    const QString age = s < 60      ? QStringLiteral("%1 秒前").arg(s)
                        : s < 3600  ? QStringLiteral("%1 分钟前").arg(s / 60)
                        : s < 86400 ? QStringLiteral("%1 小时前").arg(s / 3600)
                                    : QStringLiteral("%1 天前").arg(s / 86400);
    return QStringLiteral("%1（%2）").arg(when, age);
}

QString ClockText(const ComputerStatus& c) {
    if (!c.clockFlag.isEmpty()) {
        return c.clockFlag;
    }
    QStringList parts;
    if (c.clockSynced) {
        parts << QStringLiteral("已同步");
    }
    if (c.clockOffsetMs) {
        parts << QStringLiteral("偏差 %1%2 毫秒")
                     .arg(*c.clockOffsetMs > 0 ? QStringLiteral("+") : QString())
                     .arg(*c.clockOffsetMs);
    }
    return parts.join(QStringLiteral("，"));
}

QString RedReason(const DistrictDay& day) {
    return day.today ? QStringLiteral("超过 3 分钟没有心跳，正值本站点的打铃时段")
                     : QStringLiteral("本站点当天响过铃，这台计算机没有报告");
}

QString OutcomeWords(const QString& key) {
    PlayOutcome outcome{};
    return OutcomeFromKey(key, &outcome) ? OutcomeText(outcome) : key;
}

void SetRow(QTableWidget* grid, int row, const QStringList& texts) {
    for (int c = 0; c < texts.size(); ++c) {
        auto* item = new QTableWidgetItem(texts[c]);
        item->setToolTip(texts[c]); // the whole text of a cell too narrow for it
        grid->setItem(row, c, item);
    }
}

} // namespace

DistrictStatusDialog::DistrictStatusDialog(DistrictReader& reader, const QDate& today,
                                           QWidget* parent)
    : QDialog(parent), reader_(reader) {
    setObjectName(QStringLiteral("DistrictStatusDialog"));
    setWindowTitle(QStringLiteral("各校状态"));
    setFont(UiFont());
    // As large as a small screen allows: the columns need the width.
    const QRect area = screen()->availableGeometry();
    resize(std::min(1360, area.width() - 40), std::min(720, area.height() - 60));
    BuildTop(today);
    BuildComputers();
    BuildFailures();
    auto* split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("Split_District"));
    split->addWidget(computerGrid_);
    auto* lower = new QWidget(split);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    auto* caption = new QHBoxLayout;
    caption->addWidget(failuresCaption_);
    caption->addStretch();
    caption->addWidget(allFailures_);
    lowerLayout->addLayout(caption);
    lowerLayout->addWidget(failureGrid_);
    split->addWidget(lower);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    static_cast<QVBoxLayout*>(layout())->addWidget(split, 1);

    connect(&reader_, &DistrictReader::Done, this, &DistrictStatusDialog::Show);
    connect(&reader_, &DistrictReader::Failed, this, &DistrictStatusDialog::ShowFailed);
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setObjectName(QStringLiteral("Timer_Refresh"));
    refreshTimer_->setInterval(kRefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, &DistrictStatusDialog::Refresh);
    refreshTimer_->start();
    Refresh();
}

// The day picker, a button to read again, the summary line and the place for an error.
void DistrictStatusDialog::BuildTop(const QDate& today) {
    auto* dayCaption = new QLabel(QStringLiteral("日期："), this);
    dayCaption->setObjectName(QStringLiteral("Lab_DistrictDate"));
    dayCaption->setAccessibleName(QStringLiteral("日期")); // caption
    dayEdit_ = new QDateEdit(today, this);
    dayEdit_->setObjectName(QStringLiteral("Date_District"));
    dayEdit_->setAccessibleName(QStringLiteral("日期")); // caption
    dayEdit_->setCalendarPopup(true);
    dayEdit_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dayEdit_->setMaximumDate(today.addDays(1)); // the server's today may be ahead of ours
    dayEdit_->setToolTip(QStringLiteral("看另一天：计数与失败来自保留的报告；心跳总是最新的"));
    dayCaption->setBuddy(dayEdit_);
    connect(dayEdit_, &QDateEdit::dateChanged, this, &DistrictStatusDialog::Refresh);
    refreshButton_ = new QPushButton(QStringLiteral("刷新"), this);
    refreshButton_->setObjectName(QStringLiteral("MyBt_DistrictRefresh"));
    refreshButton_->setAccessibleName(QStringLiteral("刷新"));
    connect(refreshButton_, &QPushButton::clicked, this, &DistrictStatusDialog::Refresh);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("Lab_DistrictSummary"));
    summary_->setAccessibleName(QStringLiteral("概况"));
    summary_->setWordWrap(true);
    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("Lab_DistrictError"));
    error_->setAccessibleName(QStringLiteral("错误"));
    error_->setStyleSheet(QStringLiteral("color: rgb(170, 20, 20);"));
    error_->setWordWrap(true);
    error_->hide();
    auto* row = new QHBoxLayout;
    row->addWidget(dayCaption);
    row->addWidget(dayEdit_);
    row->addWidget(refreshButton_);
    row->addSpacing(12);
    row->addWidget(summary_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(error_);
}

void DistrictStatusDialog::BuildComputers() {
    const QStringList columns = {
        QStringLiteral("站点"),     // caption
        QStringLiteral("计算机"),   // caption
        QStringLiteral("账户"),     // caption
        QStringLiteral("最后心跳"), // caption
        QStringLiteral("下一铃"),   // caption
        QStringLiteral("播放"),     // caption
        QStringLiteral("错过"),     // caption
        QStringLiteral("失败"),     // caption
        QStringLiteral("跳过"),     // caption
        QStringLiteral("时钟"),     // caption
        QStringLiteral("版本"),     // caption
        QStringLiteral("中断"),     // caption
        QStringLiteral("问题"),     // caption
    };
    computerGrid_ = Grid(this, QStringLiteral("Grid_Computers"),
                         QStringLiteral("计算机"), // caption
                         columns);
    // Long texts wrap inside their columns rather than run off the window's edge.
    computerGrid_->setWordWrap(true);
    connect(computerGrid_, &QTableWidget::itemSelectionChanged, this, [this] {
        if (!SelectedAccount().isEmpty()) {
            allFailures_->setChecked(false);
        }
        FillFailures();
    });
}

void DistrictStatusDialog::BuildFailures() {
    failuresCaption_ = new QLabel(this);
    failuresCaption_->setObjectName(QStringLiteral("Lab_Failures"));
    failuresCaption_->setAccessibleName(QStringLiteral("失败与错过的铃声"));
    allFailures_ = new QCheckBox(QStringLiteral("全部计算机"), this);
    allFailures_->setObjectName(QStringLiteral("Check_AllFailures"));
    allFailures_->setAccessibleName(QStringLiteral("显示全部计算机的失败"));
    allFailures_->setChecked(true);
    connect(allFailures_, &QCheckBox::toggled, this, [this](bool all) {
        if (all) {
            computerGrid_->clearSelection();
        }
        FillFailures();
    });
    const QStringList columns = {
        QStringLiteral("时间"),     // caption
        QStringLiteral("站点"),     // caption
        QStringLiteral("计算机"),   // caption
        QStringLiteral("事件"),     // caption
        QStringLiteral("结果"),     // caption
        QStringLiteral("迟到"),     // caption
        QStringLiteral("原因"),     // caption
        QStringLiteral("音乐文件"), // caption
    };
    failureGrid_ =
        Grid(this, QStringLiteral("Grid_Failures"), QStringLiteral("失败与错过的铃声"), columns);
    failureGrid_->setTextElideMode(Qt::ElideMiddle); // a long path keeps its file name
}

void DistrictStatusDialog::Refresh() {
    if (shown_.day != dayEdit_->date()) {
        summary_->setText(QStringLiteral("正在读取…")); // what is shown is another day's
    }
    reader_.Read(dayEdit_->date());
}

void DistrictStatusDialog::Show(const DistrictDay& day) {
    if (day.day != dayEdit_->date()) {
        return; // an answer for a day no longer chosen; the chosen one is on its way
    }
    error_->hide();
    shown_ = day;
    FillComputers();
    FillFailures();
    SummaryLine();
}

void DistrictStatusDialog::ShowFailed(const QString& reason) {
    // What was shown stays, marked as old: the next refresh tries again.
    error_->setText(
        QStringLiteral("无法读取各校状态：%1（%2 秒后重试）").arg(reason).arg(kRefreshMs / 1000));
    error_->show();
    summary_->setText(shown_.serverNow.isValid()
                          ? QStringLiteral("显示的是 %1 读取的状态")
                                .arg(shown_.serverNow.toString(QStringLiteral("HH:mm:ss")))
                          : QString());
}

void DistrictStatusDialog::FillComputers() {
    const QString selected = SelectedAccount();
    const QSignalBlocker quiet(computerGrid_);
    computerGrid_->clearContents();
    computerGrid_->setRowCount(shown_.computers.size());
    for (int r = 0; r < shown_.computers.size(); ++r) {
        const ComputerStatus& c = shown_.computers[r];
        SetRow(computerGrid_, r,
               {c.site, c.computer, c.account, HeartbeatText(c, shown_.serverNow.date()),
                c.nextBell, QString::number(c.fired), QString::number(c.missed),
                QString::number(c.failed), QString::number(c.skipped), ClockText(c), c.version,
                c.outage, c.problems.join(QLatin1Char('\n'))});
        for (const auto& [col, count] : {std::pair{kMissed, c.missed}, {kFailed, c.failed}}) {
            if (count > 0) {
                computerGrid_->item(r, col)->setForeground(kWarning);
            }
        }
        if (!c.clockFlag.isEmpty()) {
            computerGrid_->item(r, kClock)->setForeground(kWarning);
        }
        if (c.red) {
            for (int col = 0; col < kComputerColumns; ++col) {
                computerGrid_->item(r, col)->setBackground(kRedRow);
            }
            computerGrid_->item(r, kHeartbeat)->setToolTip(RedReason(shown_));
        }
        if (c.account == selected) {
            computerGrid_->selectRow(r);
        }
    }
    computerGrid_->resizeColumnsToContents();
    for (const int col : {kClock, kOutage}) {
        computerGrid_->setColumnWidth(col, std::min(computerGrid_->columnWidth(col), kWrapWidth));
    }
    computerGrid_->resizeRowsToContents();
}

void DistrictStatusDialog::FillFailures() {
    const QString account = allFailures_->isChecked() ? QString() : SelectedAccount();
    failureGrid_->clearContents();
    failureGrid_->setRowCount(0);
    for (const BellFailure& f : shown_.failures) {
        if (!account.isEmpty() && f.account != account) {
            continue;
        }
        const int r = failureGrid_->rowCount();
        failureGrid_->insertRow(r);
        SetRow(failureGrid_, r,
               {f.time, f.site, f.computer, f.event, OutcomeWords(f.outcome),
                f.lateMs ? QStringLiteral("%1 ms").arg(*f.lateMs) : QString(),
                ReasonForPeople(f.reason), f.file});
        failureGrid_->item(r, kOutcome)->setForeground(kWarning);
    }
    const int row = SelectedRow();
    const QString whose =
        account.isEmpty() || row < 0
            ? QStringLiteral("全部计算机")
            : QStringLiteral("计算机 %1").arg(computerGrid_->item(row, kComputer)->text());
    failuresCaption_->setText(
        QStringLiteral("失败与错过的铃声：%1，共 %2 个%3")
            .arg(whose)
            .arg(failureGrid_->rowCount())
            .arg(shown_.failuresCut ? QStringLiteral("（只列出前 %1 个）").arg(kFailuresShown)
                                    : QString()));
    failureGrid_->resizeColumnsToContents();
}

void DistrictStatusDialog::SummaryLine() {
    int red = 0, clocks = 0;
    for (const ComputerStatus& c : shown_.computers) {
        red += c.red ? 1 : 0;
        clocks += c.clockFlag.isEmpty() ? 0 : 1;
    }
    QString text = QStringLiteral("服务器时间 %1；共 %2 台计算机")
                       .arg(shown_.serverNow.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                       .arg(shown_.computers.size());
    if (red > 0) {
        text += QStringLiteral("，%1 台需要查看（红色：%2）").arg(red).arg(RedReason(shown_));
    }
    if (clocks > 0) {
        text += QStringLiteral("，%1 台时钟有问题").arg(clocks);
    }
    summary_->setText(text);
    summary_->setToolTip(text);
}

int DistrictStatusDialog::SelectedRow() const {
    const QList<QTableWidgetItem*> items = computerGrid_->selectedItems();
    return items.isEmpty() ? -1 : items.first()->row();
}

QString DistrictStatusDialog::SelectedAccount() const {
    const int row = SelectedRow();
    const QTableWidgetItem* account = row < 0 ? nullptr : computerGrid_->item(row, kAccount);
    return account ? account->text() : QString();
}
