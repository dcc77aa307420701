#include "OperationContext.h"

#include <QJsonObject>

namespace quillonsim {

OperationContext::OperationContext(Farm& farm, Session& session, const OperationCallbacks* callbacks)
    : farm(farm), session(session), stop(callbacks ? callbacks->stop : nullptr,
                                         callbacks ? callbacks->user : nullptr, &session.Abandoned()),
      progress(callbacks ? callbacks->progress : nullptr, callbacks ? callbacks->user : nullptr)
{
}

Status OperationContext::Interrupted(Farm::WaitEnd end)
{
    switch (end) {
    case Farm::WaitEnd::Stopped:
        return Status::Fail(QUILLON_E_CANCELLED, CancelledText());
    case Farm::WaitEnd::ShutDown:
        return Status::Fail(QUILLON_E_NOT_STARTED, QStringLiteral("Engine shut down during the operation"));
    case Farm::WaitEnd::TimedOut:
        return Status::Fail(QUILLON_E_TIMEOUT, QStringLiteral("Operation timed out"));
    case Farm::WaitEnd::Ready:
        break;
    }
    return Status::Success();
}

Status OperationContext::Outcome(const QString& event, const QString& name, const Status& status)
{
    const bool stopped = status.code == QUILLON_E_CANCELLED || status.code == QUILLON_E_STOPPED ||
                         status.code == QUILLON_E_NOT_STARTED;
    if (!status.Ok() && !stopped)
        session.failed = true;
    const QString result = status.Ok() ? QStringLiteral("ok")
                           : stopped   ? QStringLiteral("cancelled")
                                       : QStringLiteral("failed");
    QJsonObject fields{
        {event, name}, {QStringLiteral("result"), result}, {QStringLiteral("session"), double(session.Id())}};
    if (!status.Ok())
        fields.insert(QStringLiteral("error"), status.message);
    farm.Note(session.device, event, fields);
    return status;
}

Status OperationContext::CheckCancelled()
{
    if (farm.IsShutDown())
        return Interrupted(Farm::WaitEnd::ShutDown);
    if (stop.Requested())
        return Interrupted(Farm::WaitEnd::Stopped);
    return Status::Success();
}

Status OperationContext::Step(double simulatedMs, const QString& text)
{
    progress.Report(0, 0, text);
    const Duration length = farm.Clock().Scaled(simulatedMs);
    const TimePoint start = FarmClock::Now();
    const Farm::WaitEnd end = farm.Delay(length, stop, [&] {
        const auto elapsed = FarmClock::Now() - start;
        const quint64 done = quint64(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
        const quint64 total = quint64(std::chrono::duration_cast<std::chrono::microseconds>(length).count());
        progress.Report(std::min(99u, ProgressReporter::Percent(done, total)), 0, text);
    });
    if (end != Farm::WaitEnd::Ready)
        return Interrupted(end);
    progress.Report(100, 0, text);
    return Status::Success();
}

Status OperationContext::Hang(const QString& what)
{
    const unsigned int timeoutMs = Settings().answerTimeoutMs;
    const Farm::WaitEnd end = farm.Delay(FarmClock::Milliseconds(timeoutMs), stop);
    if (end != Farm::WaitEnd::Ready)
        return Interrupted(end);
    return Status::Fail(
        QUILLON_E_TIMEOUT,
        QStringLiteral("Device on %1 did not answer %2 within %3 ms").arg(PortName(), what).arg(timeoutMs));
}

} // namespace quillonsim
