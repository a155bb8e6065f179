// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/conn.h"
#include "widgets/message_box.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QTableView>
#include <functional>

// A read-only table of one grid query's result. With no rows it holds one empty row under
// its titles.
class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Shows data; with no rows, one empty row.
    void Show(GridData data);
    bool IsEmpty() const { return data_.rows.isEmpty(); }
    const GridData& Data() const { return data_; }
    // The column of that name, or -1.
    int ColumnOf(const QString& name) const { return data_.columns.indexOf(name); }
    // The text of a cell by its column name; null when the row or column does not exist.
    QString Cell(int row, const QString& column) const;
    // The row's id, 0 for the empty row.
    qint64 Id(int row) const;
    // The row holding that id, or -1.
    int RowOf(qint64 id) const;

    // The background of a row; an invalid colour keeps the grid's own.
    std::function<QColor(const GridModel&, int row)> RowColour;
    // The text a cell shows; empty: the stored text.
    std::function<QString(const GridModel&, int row, int column)> CellText;
    // The tip of every cell of a row; empty: each cell's tip is its whole text.
    std::function<QString(const GridModel&, int row)> RowTip;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    GridData data_;
};

// A settings grid: whole rows selected, a block of adjacent rows at once (from the current
// row to the row clicked with Shift, either way), hidden and sized columns that stay so
// across reloads. The Delete key is reported when it is released; a double-click or Enter
// on a row asks for that row to be opened.
class FlexGrid : public QTableView {
    Q_OBJECT
public:
    FlexGrid(const QString& objectName, QWidget* parent);

    GridModel* Model() const { return model_; }
    // Widths in twips of the table's columns in table order: 0 hides a column, -1 leaves the
    // default. A column is never narrower than its title.
    void SetColumnWidths(const QVector<int>& twips);
    // Shows data (the query result) and makes the first row current.
    void Show(GridData data);
    bool IsEmpty() const { return model_->IsEmpty(); }
    // The current row and its id; -1 and 0 when there is none.
    int CurrentRow() const;
    qint64 CurrentId() const;
    // The ids of the selected block in ascending row order; the current row's when nothing is
    // selected; empty when the grid is empty.
    QVector<qint64> SelectedIds() const;
    // Makes the row with that id current and selected; false when no row has it.
    bool SelectId(qint64 id);
    // Rows can be looked through and selected, never opened or deleted from the keyboard.
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }

    // How the grid asks and tells (the program's message box); tests replace it.
    std::function<bool(const QString& title, const QString& text, MsgMode mode)> Ask;

signals:
    // After every load, with whether the grid is empty.
    void Reloaded(bool empty);
    void DeleteKeyReleased();
    void OpenRow();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void ApplyWidths();

    GridModel* model_;
    QVector<int> widths_;
    bool readOnly_ = false;
};

// Loads grid with query from the store. A query that fails leaves one empty row and tells the
// reason through the grid's Ask (a notice); returns false then.
bool ReFleshGrid(FlexGrid* grid, Conn& conn, const GridQuery& query);

// Asks "删除提示" / DeleteQuestion (naming the row, or counting the rows) and, when confirmed,
// deletes the selected block of
// rows from the table query shows in one transaction and reloads grid with query. An empty grid
// asks nothing. A failure deletes nothing, tells the reason and leaves the grid as it was. Returns
// true when rows were deleted; their ids go to *deleted when given.
bool DeleteGridRows(FlexGrid* grid, Conn& conn, const GridQuery& query,
                    QVector<qint64>* deleted = nullptr);

// The week grid's row colours: break music RGB(204,255,153), switched off (any flag but "√")
// RGB(192,192,192), grey when both; an invalid colour for the other rows.
QColor WeekRowColour(const QString& musicFile, const QString& playFlag);
// The same rule as a grid's RowColour.
QColor WeekGridRowColour(const GridModel& model, int row);
