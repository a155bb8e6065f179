// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/settings_grid.h"

#include "core/delete_question.h"
#include "schedule/break_music.h"
#include "widgets/art.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace {

constexpr int kRowHeaderTwips = 200;

} // namespace

void GridModel::Show(GridData data) {
    beginResetModel();
    data_ = std::move(data);
    endResetModel();
}

QString GridModel::Cell(int row, const QString& column) const {
    const int c = ColumnOf(column);
    if (row < 0 || row >= data_.rows.size() || c < 0) {
        return {};
    }
    const QVariant& v = data_.rows[row][c];
    return v.isNull() ? QString() : v.toString();
}

qint64 GridModel::Id(int row) const {
    return GridRowId(data_, row);
}

int GridModel::RowOf(qint64 id) const {
    for (int r = 0; r < data_.rows.size(); ++r) {
        if (Id(r) == id) {
            return r;
        }
    }
    return -1;
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max<int>(1, data_.rows.size());
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max<int>(1, data_.columns.size());
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= data_.rows.size()) {
        return {};
    }
    const QVector<QVariant>& row = data_.rows[index.row()];
    switch (role) {
    case Qt::ToolTipRole: {
        // The whole text of a cell too narrow for it, then what is wrong with its row.
        const QString cell = data(index, Qt::DisplayRole).toString();
        const QString tip = RowTip ? RowTip(*this, index.row()) : QString();
        return tip.isEmpty() || cell.isEmpty() ? cell + tip : cell + QLatin1Char('\n') + tip;
    }
    case Qt::DisplayRole:
        if (CellText) {
            return CellText(*this, index.row(), index.column());
        }
        return index.column() < row.size() ? row[index.column()] : QVariant();
    case Qt::BackgroundRole:
        if (RowColour) {
            const QColor c = RowColour(*this, index.row());
            if (c.isValid()) {
                return c;
            }
        }
        return {};
    default:
        return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    // The row headers are a blank fixed column; an empty grid keeps its titles.
    if (orientation == Qt::Vertical || section >= data_.columns.size()) {
        return QString();
    }
    return data_.columns[section];
}

FlexGrid::FlexGrid(const QString& objectName, QWidget* parent)
    : QTableView(parent), model_(new GridModel(this)) {
    setObjectName(objectName);
    setModel(model_);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle); // a long path keeps its file name in sight
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false); // Tab goes on to the next control; the arrows move in the grid
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setFixedWidth(Px(kRowHeaderTwips));
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    Ask = [this](const QString& title, const QString& text, MsgMode mode) {
        return ShowMessage(window(), title, text, mode);
    };
}

void FlexGrid::SetColumnWidths(const QVector<int>& twips) {
    widths_ = twips;
    ApplyWidths();
}

void FlexGrid::ApplyWidths() {
    QHeaderView* header = horizontalHeader();
    for (int c = 0; c < model_->columnCount(); ++c) {
        const int w = c < widths_.size() ? widths_[c] : -1;
        setColumnHidden(c, w == 0);
        if (w > 0) {
            setColumnWidth(c, std::max(Px(w), header->sectionSizeHint(c)));
        } else if (w < 0) {
            setColumnWidth(c, std::max(header->defaultSectionSize(), header->sectionSizeHint(c)));
        }
    }
}

void FlexGrid::Show(GridData data) {
    model_->Show(std::move(data));
    ApplyWidths();
    if (!IsEmpty()) {
        SelectId(model_->Id(0));
    }
    emit Reloaded(IsEmpty());
}

int FlexGrid::CurrentRow() const {
    if (IsEmpty()) {
        return -1;
    }
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() : -1;
}

qint64 FlexGrid::CurrentId() const {
    const int r = CurrentRow();
    return r < 0 ? 0 : model_->Id(r);
}

QVector<qint64> FlexGrid::SelectedIds() const {
    if (IsEmpty()) {
        return {};
    }
    QVector<int> rows;
    for (const QModelIndex& i : selectionModel()->selectedRows()) {
        rows << i.row();
    }
    if (rows.isEmpty() && CurrentRow() >= 0) {
        rows << CurrentRow();
    }
    std::sort(rows.begin(), rows.end());
    QVector<qint64> ids;
    for (int r : rows) {
        ids << model_->Id(r);
    }
    return ids;
}

bool FlexGrid::SelectId(qint64 id) {
    const int row = model_->RowOf(id);
    if (row < 0) {
        return false;
    }
    int column = 0;
    while (column < model_->columnCount() - 1 && isColumnHidden(column)) {
        ++column;
    }
    const QModelIndex index = model_->index(row, column);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
    return true;
}

void FlexGrid::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (!readOnly_ && !IsEmpty() && CurrentRow() >= 0) {
            emit OpenRow();
        }
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
}

void FlexGrid::keyReleaseEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Delete && !e->isAutoRepeat()) {
        e->accept();
        if (!readOnly_) {
            emit DeleteKeyReleased();
        }
        return;
    }
    QTableView::keyReleaseEvent(e);
}

void FlexGrid::mouseDoubleClickEvent(QMouseEvent* e) {
    QTableView::mouseDoubleClickEvent(e);
    if (!readOnly_ && !IsEmpty() && indexAt(e->position().toPoint()).isValid()) {
        emit OpenRow();
    }
}

bool ReFleshGrid(FlexGrid* grid, Conn& conn, const GridQuery& query) {
    GridData data;
    QString error;
    if (!conn.GridRows(query, &data, &error)) {
        data = GridData{GridColumns(query), {}};
        grid->Show(std::move(data));
        grid->Ask(QStringLiteral("读取失败"), QStringLiteral("无法读取表格：%1").arg(error),
                  MsgMode::Notice);
        return false;
    }
    grid->Show(std::move(data));
    return true;
}

bool DeleteGridRows(FlexGrid* grid, Conn& conn, const GridQuery& query, QVector<qint64>* deleted) {
    const QVector<qint64> ids = grid->SelectedIds();
    if (ids.isEmpty() || grid->CurrentId() == 0) {
        return false;
    }
    QStringList names;
    for (qint64 id : ids) {
        names << GridRowName(query, grid->Model()->Data(), grid->Model()->RowOf(id));
    }
    if (!grid->Ask(QStringLiteral("删除提示"), DeleteQuestion(names), MsgMode::Confirm)) {
        return false;
    }
    QString error;
    if (!conn.DeleteRows(query, ids, &error)) {
        grid->Ask(QStringLiteral("删除失败"), QStringLiteral("没有删除任何记录：%1").arg(error),
                  MsgMode::Notice);
        return false;
    }
    if (deleted) {
        *deleted = ids;
    }
    ReFleshGrid(grid, conn, query);
    return true;
}

QColor WeekRowColour(const QString& musicFile, const QString& playFlag) {
    // Anything but the play flag is skipped by the schedule, so it is shown switched off.
    if (playFlag != kPlayFlag) {
        return QColor(192, 192, 192);
    }
    if (musicFile == kBreakMusicFile) {
        return QColor(204, 255, 153);
    }
    return {};
}

QColor WeekGridRowColour(const GridModel& model, int row) {
    if (model.IsEmpty()) {
        return {};
    }
    const EventRow event = GridEvent(model.Data(), row);
    return WeekRowColour(event.musicFile, event.playFlag);
}
