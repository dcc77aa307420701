#pragma once

#include "record/AttemptRecord.h"

#include <QString>

#include <atomic>
#include <cstdint>

class ControlReader;
class FailurePacer;

// A row's start as the policies see it once the row's settings have been read.
struct RowRun
{
    int row = -1;
    bool autoPolling = false;
    int checksumLevel = 0;
    bool othersBusy = false; // another row's worker is still running
};

// An attempt that has ended, before or after its record is handed on.
struct AttemptEnd
{
    int row = -1;
    int32_t outcome = 0; // PortStatus OK, FAIL or CANL
    bool autoPolling = false;
};

// One station rule beside the ports' own work (a target, a quarantine, a locked profile, ...). The port
// manager calls every policy it holds at the same named points, in the order it holds them; a policy
// overrides the points it cares about. "UI" points run in the user-interface thread, "worker" points in the
// row's own download worker, so a policy's per-row state needs no lock between a row's points.
class StationPolicy
{
public:
    virtual ~StationPolicy() = default;

    // UI: "Start All" begins, before its first row; and has ended, after its last.
    virtual void StartAllBegins() {}
    virtual void StartAllEnded() {}
    // UI: "a row may start?": true refuses the start. Asked before anything of the row changes, so a refused
    // row is left as it was; reads asks the front end only for what the policy needs.
    virtual bool RefusesStart(int /*row*/, ControlReader& /*reads*/) { return false; }
    // UI: "a row starts": accepted, its worker not yet prepared.
    virtual void RowStarts(int /*row*/) {}
    // UI: "a row is prepared": its settings were read for its worker.
    virtual void RowPrepared(const RowRun& /*run*/) {}
    // UI: "a row was launched": its worker was started, or failed to start.
    virtual void RowLaunched(const RowRun& /*run*/) {}

    // Worker: "the row would start its next device", its first included: a policy may hold the worker here,
    // waiting on the row's pacer, which a stop wakes; false ends the row (it was stopped while held).
    virtual bool NextDeviceMayStart(int /*row*/, const std::atomic<bool>& /*stop*/, FailurePacer& /*pacer*/)
    {
        return true;
    }
    // Worker: "an attempt begins", before its device is looked for (milliseconds since the epoch).
    virtual void AttemptBegins(int /*row*/, int64_t /*startMs*/) {}
    // Worker: "a device was found", its attempt opened in the record; false withdraws the attempt before the
    // device is touched, with the reason in withdrawn.
    virtual bool DeviceFound(int /*row*/, QString& /*withdrawn*/) { return true; }
    // Worker: "an attempt ended", before its record is handed on; a policy may mark the record.
    virtual void AttemptEnded(const AttemptEnd& /*end*/, AttemptRecord& /*record*/) {}
    // Worker: "an attempt was counted": its record handed on and a good device counted.
    virtual void AttemptCounted(const AttemptEnd& /*end*/) {}
    // Worker: "does the row go on?", after each attempt of auto polling; false ends the row's worker.
    virtual bool RowGoesOn(int /*row*/) const { return true; }
    // Worker: the same after the pause that paces a failed attempt.
    virtual bool RowGoesOnAfterPause(int /*row*/) const { return true; }
    // Worker: "a row ended": its final status is shown.
    virtual void RowEnded(int /*row*/) {}
};
