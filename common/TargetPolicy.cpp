#include "common/TargetPolicy.h"

#include "common/PortStatus.h"
#include "logging/Log.h"

static constexpr char kLogSource[] = "Common\\TargetPolicy";

void TargetPolicy::StartAllBegins()
{
    ignoredTold = false;
    target.Reset();
}

void TargetPolicy::RowPrepared(const RowRun& run)
{
    if (!target.Active() || run.autoPolling || ignoredTold)
        return;
    ignoredTold = true;
    LOGI("PortManager::Start", "The target of %d good devices is ignored: it applies to auto polling only.",
         target.Target());
}

void TargetPolicy::AttemptCounted(const AttemptEnd& end)
{
    if (end.outcome != PortStatus::OK || !end.autoPolling)
        return;
    if (target.CountOk())
        LOGI("PortManager::ExecuteDownloadThread", "Target of %d good devices met; no more devices are started.",
             target.Target());
}

bool TargetPolicy::RowGoesOn(int /*row*/) const { return !target.Met(); }
bool TargetPolicy::RowGoesOnAfterPause(int /*row*/) const { return !target.Met(); }
