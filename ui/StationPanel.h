#pragma once

#include "common/PortRowState.h"
#include "record/AttemptRecord.h"
#include "ui/StationPanelColumns.h"
#include "ui/StationPanelModel.h"
#include "ui/StationPanelPlace.h"
#include "ui/StationTargetControl.h"

#include <QDockWidget>
#include <QObject>
#include <QTimer>

class FailureStrip;
class QLabel;
class QMainWindow;
class QTableWidget;
class RateChart;

// Hands each attempt on to the station's recorders first, then a copy to the panel. Called on the ports'
// workers: the copies travel as queued signals, so no widget is touched off the user-interface thread.
class StationPanelFeed : public QObject, public AttemptRecorder
{
    Q_OBJECT

public:
    explicit StationPanelFeed(AttemptRecorder& next);

    bool Started(const AttemptRecord& attempt) override;
    bool Record(const AttemptRecord& record) override;
    void Halt() override { next.Halt(); }
    void Resume() override { next.Resume(); }
    int64_t Unrecorded() const override { return next.Unrecorded(); }

Q_SIGNALS:
    void SigAttemptStarted(AttemptRecord attempt);
    void SigAttemptEnded(AttemptRecord record);

private:
    AttemptRecorder& next;
};

// The shift at a glance beside the port table: per row and for the station. A dock that starts floating
// beside the window, so the port table and its controls keep their places; narrow, its lighter columns give
// way to the row's tooltip. Where the operator puts it and whether it shows are kept in the settings file's
// own group for it (StationPanelPlace).
class StationPanel : public QDockWidget
{
    Q_OBJECT

public:
    enum Column
    {
        Port,
        Ok,
        Fail,
        Canl,
        Yield,
        Last,
        Stage,
        Reason,
        Device,
        Rate,
        Left,
        Flags,
        ColumnCount
    };

    explicit StationPanel(QMainWindow* window);

    void AttemptStarted(const AttemptRecord& attempt);
    void AttemptEnded(const AttemptRecord& record);
    void ApplyRowState(int index, const PortRowState& state);
    // Start All: connected before the port manager's own, so the target the operator set is in force for it.
    void MarkStart();
    // A disk below the station's floor is shown above the rows until it has room again.
    void ShowDiskSpace(bool low, const QString& text);
    // Brings every figure up to now; also done once a second while the panel shows.
    void Refresh();

    void RestorePlace(const QString& settingsFile);
    // Called as the window closes, while the panel still shows as the operator left it.
    void KeepPlace();
    void SavePlace(const QString& settingsFile) const;
    StationPanelPlace& Place() { return *place; }
    const StationPanelColumns& Columns() const { return *columns; }

    const StationPanelModel& Model() const { return model; }
    StationTargetControl& TargetControl() { return *targetControl; }

private:
    void RefreshRow(int index, const PanelRowFigures& row);
    // The widths its place is chosen by, the port column's as wide as its longest name.
    void SetPlaceWidths();
    void SetCell(int row, int column, const QString& text, const QString& toolTip = QString());

    StationPanelModel model;
    StationTargetControl* targetControl;
    QLabel* totals;
    QLabel* diskSpace;
    FailureStrip* strip;
    QTableWidget* rows;
    RateChart* chart;
    StationPanelColumns* columns;
    StationPanelPlace* place;
    QTimer refreshTimer;
    QVector<QString> portNames;
};
