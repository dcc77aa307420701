#pragma once

#include "XML/RuntimeParameters.h"
#include "common/OperatorPrompt.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

class PortManager;

// Serves the port manager's signals in the user-interface thread as the window does, by element name,
// for a front end without widgets (the command line, tests): it keeps each element's and cell's state and
// an ordered history of every change it applied. "Get" signals are answered from the options below and
// counted when they come from another thread. Boxes are recorded, handed to onPrompt when set, and
// questions answered with askAnswer.
class HeadlessFrontEnd : public QObject, public OperatorPrompt
{
    Q_OBJECT

public:
    explicit HeadlessFrontEnd(PortManager& manager);

    void Tell(Kind kind, const QString& title, const QString& text) override;
    bool Ask(const QString& title, const QString& text) override;

    // "Critical|<title>|<text>", "Ask|<title>|<text>", in order.
    QStringList prompts;
    bool askAnswer = true;
    std::function<void(Kind kind, const QString& title, const QString& text)> onPrompt;

    // What the "get" signals answer.
    QHash<QString, QString> contents;
    QHash<QString, bool> checks;
    QHash<QString, int> comboIndexes;
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
    // Off for a run that lasts a shift: the history grows with every progress step and nothing reads it there.
    bool keepHistory = true;
    QStringList HistoryOfRow(int row) const;
    QStringList ContentHistory(const QString& name) const;
    bool ControlsEnabled() const;

    int getsOffThread = 0;

private:
    void Remember(const QString& change);

Q_SIGNALS:
    // A row's status (column 1) or message (column 7) changed.
    void RowChanged(int row);

private:
    using CellKey = QPair<int, int>;
    void CheckThread();

    QHash<CellKey, QString> cells;
    QHash<CellKey, QString> icons;
    QHash<CellKey, bool> cellEnabled;
    std::array<int, 16> rowProgress{};
};
