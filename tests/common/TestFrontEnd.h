#pragma once

#include "XML/RuntimeParameters.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <array>

class PortManager;

// Serves the port manager's signals in the user-interface thread as the window does, by element name:
// it keeps each element's and cell's state and an ordered history of every change it applied. "Get"
// signals are answered from the options below and counted when they come from another thread.
class TestFrontEnd : public QObject
{
    Q_OBJECT

public:
    explicit TestFrontEnd(PortManager& manager);

    // What the "get" signals answer.
    QHash<QString, QString> contents;
    QHash<QString, bool> checks;
    std::array<bool, 16> rowSelected{};
    RuntimeParameters runtimeParameters;

    // State after the applied "set" signals.
    QHash<QString, bool> enabled;
    QString Cell(int row, int column) const;
    QString Icon(int row, int column) const;
    bool CellEnabled(int row, int column) const;
    int RowProgress(int row) const;

    // Every applied change, oldest first, e.g. "cell 3 1 RUN", "content lblPollingTimes Polling Times: 2".
    QStringList history;
    QStringList HistoryOfRow(int row) const;
    QStringList ContentHistory(const QString& name) const;
    bool ControlsEnabled() const;

    int getsOffThread = 0;

private:
    using CellKey = QPair<int, int>;
    void CheckThread();

    QHash<CellKey, QString> cells;
    QHash<CellKey, QString> icons;
    QHash<CellKey, bool> cellEnabled;
    std::array<int, 16> rowProgress{};
};
