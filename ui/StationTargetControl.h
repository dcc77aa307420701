#pragma once

#include <QWidget>

class PortManager;
class QLabel;
class QSpinBox;

// The station's target of good devices in the panel: the operator's number and how many are still to make.
// The number reaches the port manager at Start All, where the count begins afresh: a target changed under a
// running count would stop rows already started by another, or never tell that it was met.
class StationTargetControl : public QWidget
{
    Q_OBJECT

public:
    explicit StationTargetControl(QWidget* parent);

    // Shows the target the settings file gave; from then on the count shown is this port manager's.
    void Bind(PortManager& ports);
    // Called at Start All, before the port manager starts the rows.
    void ApplyAtStart();
    void Refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PortManager* ports = nullptr;
    QSpinBox* target;
    QLabel* remaining;
};
