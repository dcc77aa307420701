#include "common/StationPolicies.h"

#include <algorithm>

void StationPolicies::StartAllBegins()
{
    for (StationPolicy* policy : policies)
        policy->StartAllBegins();
}

void StationPolicies::StartAllEnded()
{
    for (StationPolicy* policy : policies)
        policy->StartAllEnded();
}

bool StationPolicies::RefusesStart(int row, ControlReader& reads)
{
    return std::any_of(policies.begin(), policies.end(),
                       [row, &reads](StationPolicy* policy) { return policy->RefusesStart(row, reads); });
}

void StationPolicies::RowStarts(int row)
{
    for (StationPolicy* policy : policies)
        policy->RowStarts(row);
}

void StationPolicies::RowPrepared(const RowRun& run)
{
    for (StationPolicy* policy : policies)
        policy->RowPrepared(run);
}

void StationPolicies::RowLaunched(const RowRun& run)
{
    for (StationPolicy* policy : policies)
        policy->RowLaunched(run);
}

bool StationPolicies::NextDeviceMayStart(int row, const std::atomic<bool>& stop, FailurePacer& pacer)
{
    return std::all_of(policies.begin(), policies.end(), [row, &stop, &pacer](StationPolicy* policy) {
        return policy->NextDeviceMayStart(row, stop, pacer);
    });
}

void StationPolicies::AttemptBegins(int row, int64_t startMs)
{
    for (StationPolicy* policy : policies)
        policy->AttemptBegins(row, startMs);
}

bool StationPolicies::DeviceFound(int row, QString& withdrawn)
{
    return std::all_of(policies.begin(), policies.end(),
                       [row, &withdrawn](StationPolicy* policy) { return policy->DeviceFound(row, withdrawn); });
}

void StationPolicies::AttemptEnded(const AttemptEnd& end, AttemptRecord& record)
{
    for (StationPolicy* policy : policies)
        policy->AttemptEnded(end, record);
}

void StationPolicies::AttemptCounted(const AttemptEnd& end)
{
    for (StationPolicy* policy : policies)
        policy->AttemptCounted(end);
}

bool StationPolicies::RowGoesOn(int row) const
{
    return std::all_of(policies.begin(), policies.end(), [row](const StationPolicy* policy) { return policy->RowGoesOn(row); });
}

bool StationPolicies::RowGoesOnAfterPause(int row) const
{
    return std::all_of(policies.begin(), policies.end(),
                       [row](const StationPolicy* policy) { return policy->RowGoesOnAfterPause(row); });
}

void StationPolicies::RowEnded(int row)
{
    for (StationPolicy* policy : policies)
        policy->RowEnded(row);
}
