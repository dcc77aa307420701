#pragma once

#include "XML/RuntimeParameters.h"
#include "cli/HeadlessFrontEnd.h"
#include "common/PortRowState.h"

#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>

#include <array>

// Serves the port manager's signals by element name as the window does, without widgets, for the tests of
// that interface: it keeps each element's and cell's state and an ordered history of every change it
// applied. "Get" signals are answered from the options below and counted when they come from another
// thread. Boxes are answered as the headless front end answers them.
class TestFrontEnd : public HeadlessFrontEnd
{
public:
    explicit TestFrontEnd(PortManager& manager);

    // What the "get" signals answer.
    QHash<QString, QString> contents;
    QHash<QString, bool> checks;
    QHash<QString, int> comboIndexes;
    std::array<bool, 16> rowSelected{};
    RuntimeParameters runtimeParameters;
    // Every "get" signal answered so far.
    int gets = 0;

    // State after the applied "set" signals.
    QHash<QString, bool> enabled;
    QString Cell(int row, int column) const;
    QString Icon(int row, int column) const;
    bool CellEnabled(int row, int column) const;
    int RowProgress(int row) const;
    // Where a row's typed state differs from the cells this front end was sent; empty when it does not.
    QString RowStateMismatch(int row, const PortRowState& state) const;

    // Every applied change, oldest first, e.g. "cell 3 1 RUN", "content lblPollingTimes Polling Times: 2".
    QStringList history;
    // Off for a run that lasts a shift: the history grows with every progress step and nothing reads it there.
    bool keepHistory = true;
    QStringList HistoryOfRow(int row) const;
    QStringList ContentHistory(const QString& name) const;
    bool ControlsEnabled() const;

private:
    using CellKey = QPair<int, int>;
    void Answering();
    void Remember(const QString& change);

    QHash<CellKey, QString> cells;
    QHash<CellKey, QString> icons;
    QHash<CellKey, bool> cellEnabled;
    std::array<int, 16> rowProgress{};
};
