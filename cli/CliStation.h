#pragma once

#include "cli/CliDisplay.h"
#include "cli/CliOptions.h"
#include "cli/HeadlessFrontEnd.h"
#include "cli/RunSummary.h"
#include "common/PortManager.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

// One headless run: the port manager served by a front end without widgets, the rows bound, the load
// checked, every selected port started, and the summary and exit code once all have ended.
class CliStation : public QObject
{
    Q_OBJECT

public:
    enum ExitCode
    {
        AllOk = 0,
        SomeFailed = 1,
        Unusable = 2,
        Unrecorded = 3, // some attempt is missing from the station record: wins over every other outcome
        Stopped = 130
    };

    CliStation(const CliOptions& options, AttemptRecorder* records);
    ~CliStation() override;

    // Prepares everything; false (after printing why) when the run cannot start, with exit code 2.
    bool Prepare();
    // Starts the run; the application quits with ExitCode() once it has ended.
    void Run();
    int ExitCode() const { return exitCode; }
    void RequestStop();
    // The disks on which no device starts while they are below the station's floor.
    void WatchDisks(const QStringList& folders);
    // The settings file's [Station] group in force for the run; valid after Prepare.
    const StationSettings& StationPolicy() const { return manager->GetStationSettings(); }

private:
    RunSettings SettingsForRun() const;
    bool CheckProfile(const RunSettings& settings) const;
    bool CheckLoad(const QString& flashXml);
    void Poll();
    void Finish();
    bool AnyPortBusy() const;
    static void Problem(const QString& text);

    CliOptions options;
    std::unique_ptr<PortManager> manager;
    std::unique_ptr<HeadlessFrontEnd> frontEnd;
    RunSummary summary;
    std::unique_ptr<CliDisplay> display;
    QString settingsFile;
    QTimer poller;
    QElapsedTimer wall;
    QElapsedTimer sinceStop;
    bool scanning = false;
    bool stopping = false;
    bool finished = false;
    int exitCode = AllOk;
};
