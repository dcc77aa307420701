#pragma once

#include "common/LoadStaging.h"
#include "common/SourceWatch.h"
#include "common/StationPolicy.h"

#include <QString>

#include <functional>
#include <optional>

class StationPolicyHost;

// Load staging, an option of the station: a load that passed its check is copied into the station's own
// folder, the copy is checked as the source was, and the ports flash the copy, so that what happens to the
// source during a run changes nothing for it; the source is watched for the operator's sake only. With
// staging on, a start whose load was not staged is refused rather than flashed from its source.
// User-interface thread.
class LoadStagingPolicy : public StationPolicy
{
public:
    // The image checker on a scatter file, with the load check's own progress and stop query.
    using Checker = std::function<int(const QString& scatter)>;

    explicit LoadStagingPolicy(StationPolicyHost& host) : host(host) {}

    // Takes effect at the next load check.
    void SetStageLoad(bool stage) { stageLoad = stage; }
    bool StagesLoad() const { return stageLoad; }
    // Where staged loads are kept; by default StagedLoads under the log root.
    void SetFolder(const QString& staging) { folder = staging; }
    QString Folder() const;
    const std::optional<StagedLoad>& Staged() const { return staged; }

    // A new load check begins: the last copy is no longer the one flashed, and its source no longer watched.
    void Forget();
    // The checked load's copy, checked by checker; why it cannot be used, or empty with used the copy as its
    // check saw it.
    QString Stage(const LoadSnapshot& checked, LoadSnapshot& used, const Checker& checker,
                  const LoadStaging::Progress& progress);
    bool IsStagedFor(const QString& flashXml) const;
    // The flash XML a port hands the engine for the chosen one, and the scatter file beside it.
    QString EngineFlashXml(int row, const QString& flashXml, QString& scatter) const;

    void StartAllBegins() override { refusalTold = false; }
    void StartAllEnded() override { refusalTold = false; }
    bool RefusesStart(int row, ControlReader& reads) override;

private:
    StationPolicyHost& host;
    bool stageLoad = false;
    bool refusalTold = false;
    QString folder;
    std::optional<StagedLoad> staged;
    SourceWatch sourceWatch;
};
