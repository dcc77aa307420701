// What one engine call on a session works with: the farm, the session, the caller's stop query and its
// progress callback. Simulated steps take their (scaled) time here, polling the stop query as they go.
#pragma once

#include "Farm.h"
#include "ProgressReporter.h"
#include "Session.h"
#include "Status.h"
#include "StopQuery.h"

namespace quillonsim {

class OperationContext
{
public:
    OperationContext(Farm& farm, Session& session, const OperationCallbacks* callbacks);

    Farm& TheFarm() { return farm; }
    Session& TheSession() { return session; }
    const StopQuery& Stop() const { return stop; }
    ProgressReporter& Progress() { return progress; }
    const PortSettings& Settings() const { return farm.SettingsOf(session.device); }
    QString PortName() const { return farm.PortNameOf(session.device); }

    // A step that takes simulatedMs of farm time, reporting 0 to 100 percent under the stage text.
    Status Step(double simulatedMs, const QString& text);
    // A device that never answers: fails when the stop query answers or after the engine's answer time-out.
    Status Hang(const QString& what);
    // The failure for a wait that did not end normally.
    static Status Interrupted(Farm::WaitEnd end);
    // Between chunks of work: the caller's stop query and the engine's shutdown.
    Status CheckCancelled();

    // Puts a stage's or a command's outcome on the farm's ledger and marks the session failed when the
    // device, not a stop, ended it; returns the status unchanged.
    Status Outcome(const QString& event, const QString& name, const Status& status);

    static QString CancelledText() { return QStringLiteral("Operation cancelled by user"); }

private:
    Farm& farm;
    Session& session;
    StopQuery stop;
    ProgressReporter progress;
};

} // namespace quillonsim
