#pragma once

#include <QObject>
#include <QVector>

class QTableWidget;

// Fits the panel's table to its width: the columns of least weight give way first, and what a hidden column
// holds is read in the row's tooltip. A panel narrow enough to stand beside the window on a factory screen
// thus keeps every row's essentials in view and loses none of its details.
class StationPanelColumns : public QObject
{
    Q_OBJECT

public:
    // widths: each column's own width; order: the columns from the one kept longest, at least `kept` of them
    // always shown. A column not in order gives way before all of them.
    StationPanelColumns(QTableWidget* table, QVector<int> widths, QVector<int> order, int kept);

    // The width the kept columns need, vertical header and frame included: the panel's narrowest.
    int NarrowestWidth() const;
    // The width every column needs.
    int FullWidth() const;
    // Widens a column to fit a text (a long port name) and fits the columns again; true when it widened.
    bool FitText(int column, const QString& text);
    void Fit();
    // What a row's tooltip says at a cell: the cell's own tooltip, then each hidden column's header and text.
    QString RowToolTip(int row, int column) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int Chrome() const;
    bool ShowRowToolTip(QEvent* event);

    QTableWidget* table;
    // Kept apart from the table: the table's own destruction still sends the viewport events, when asking
    // the half-destroyed table for its viewport is no longer a call on a table.
    QObject* viewport = nullptr;
    QVector<int> widths;
    QVector<int> order;
    int kept;
};
