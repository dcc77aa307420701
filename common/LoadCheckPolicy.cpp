#include "common/LoadCheckPolicy.h"

#include "common/LoadContents.h"
#include "common/StationPolicyHost.h"
#include "logging/Log.h"

static constexpr char kLogSource[] = "Common\\LoadCheckPolicy";

QString LoadCheckPolicy::LoadChecked(bool checkerPassed, const QString& flashXml, const QString& scatter)
{
    // The checker only compares what the list names; a load that writes nothing, or an image the list
    // leaves out, would pass it and flash every device as OK without writing or checking it.
    problem = checkerPassed ? LoadContents::Problem(scatter) : QString();
    if (checkerPassed && problem.isEmpty())
        watch.Arm(LoadSnapshot::Take(flashXml, scatter, LoadChecksumListPath(scatter)));
    else
        watch.Disarm();
    return problem;
}

QString LoadCheckPolicy::ChangedText(const QString& reason)
{
    return QStringLiteral("A file of the load changed or went away during the run:\n%1\n\nNo more devices are started; "
                          "devices already being written finish. Choose the load again to go on.")
        .arg(reason);
}

// A Start after the load changed would blame every next device for it; the operator was told when it
// changed, so the refusal itself is only logged.
bool LoadCheckPolicy::RefusesStart(int /*row*/, ControlReader& /*reads*/)
{
    QString reason;
    bool firstTime = false;
    if (watch.Check(reason, firstTime))
        return false;
    LOGE("PortManager::Start", "Start refused, the load changed: %s", reason.toUtf8().constData());
    if (firstTime)
        host.TellOperator(OperatorPrompt::Kind::Warning, QStringLiteral("Load Changed"), ChangedText(watch.Reason()));
    return true;
}

bool LoadCheckPolicy::DeviceFound(int /*row*/, QString& withdrawn)
{
    bool firstTime = false;
    if (watch.Check(withdrawn, firstTime))
        return true;
    if (firstTime) {
        LOGE("PortManager::ExecuteDownloadThread", "The load changed during the run: %s; no more devices are started.",
             withdrawn.toUtf8().constData());
        host.TellOperatorLater(OperatorPrompt::Kind::Warning, QStringLiteral("Load Changed"), ChangedText(withdrawn));
    }
    withdrawn = QStringLiteral("The load changed during the run: %1").arg(withdrawn);
    return false;
}

bool LoadCheckPolicy::RowGoesOn(int /*row*/) const { return !watch.IsGone(); }
