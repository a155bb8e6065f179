// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/change_records_dialog.h"

#include "store/conn.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

ChangeRecordsDialog::ChangeRecordsDialog(Conn& conn, QWidget* parent)
    : QDialog(parent), conn_(conn), grid_(new QTableWidget(this)), error_(new QLabel(this)) {
    setObjectName(QStringLiteral("ChangeRecordsDialog"));
    setWindowTitle(QStringLiteral("修改记录 — 站点 %1").arg(conn.Site()));
    resize(820, 460);
    grid_->setObjectName(QStringLiteral("Grid_ChangeRecords"));
    grid_->setColumnCount(4);
    grid_->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("修改人"), // caption
                                      QStringLiteral("表"), QStringLiteral("内容")});
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->verticalHeader()->hide();
    grid_->horizontalHeader()->setStretchLastSection(true);
    grid_->setWordWrap(false);
    error_->setObjectName(QStringLiteral("Lab_ChangeRecordsError"));
    error_->setStyleSheet(QStringLiteral("color: rgb(170, 20, 20);"));
    error_->setWordWrap(true);
    error_->hide();
    auto* note = new QLabel(QStringLiteral("最近 %1 条，最新的在前；记录由中心时间表写入，"
                                           "只有区管理员可以清理")
                                .arg(Conn::kChangeRecordsShown),
                            this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addWidget(error_);
    layout->addWidget(grid_);
    Load();
}

void ChangeRecordsDialog::Load() {
    QVector<ChangeRecordRow> rows;
    QString error;
    if (!conn_.ChangeRecords(&rows, &error)) {
        error_->setText(QStringLiteral("无法读取修改记录：%1").arg(error));
        error_->show();
    } else {
        error_->hide();
    }
    grid_->setRowCount(rows.size());
    for (int r = 0; r < rows.size(); ++r) {
        const QString summary = ChangeSummary(rows[r]);
        const QStringList cells = {
            rows[r].when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            rows[r].user, rows[r].table, summary};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setToolTip(cells[c]);
            grid_->setItem(r, c, item);
        }
    }
    grid_->resizeColumnsToContents();
}
