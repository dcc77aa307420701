#include "common/VerificationPolicy.h"

#include "common/ControlReader.h"
#include "common/StationPolicyHost.h"
#include "logging/Log.h"

static constexpr char kLogSource[] = "Common\\VerificationPolicy";

namespace {

constexpr int kNoVerification = 1;

} // namespace

QString VerificationPolicy::UnverifiedRunText()
{
    return QStringLiteral("Checksum level 1: device checksums are not compared, so devices recorded OK are not verified.");
}

QString VerificationPolicy::Refusal(int checksumLevel) const
{
    if (!required || checksumLevel != kNoVerification)
        return QString();
    return QStringLiteral("This station requires verified devices, but checksum level 1 compares no device checksum: "
                          "choose the USB checksum, the storage checksum or both.");
}

// A Start All tells its run once, whichever row starts first; its refusal once as well.
void VerificationPolicy::StartAllBegins()
{
    noticeDue = true;
    refusalTold = false;
}

void VerificationPolicy::StartAllEnded()
{
    noticeDue = false;
    refusalTold = false;
}

bool VerificationPolicy::RefusesStart(int /*row*/, ControlReader& reads)
{
    if (!required)
        return false;
    RuntimeParameters parameters;
    reads.ReadOptions(parameters);
    const QString refusal = Refusal(parameters.checksumLevel);
    if (refusal.isEmpty())
        return false;
    LOGE("PortManager::Start", "Start refused: %s", refusal.toUtf8().constData());
    if (!refusalTold) {
        refusalTold = true;
        host.TellOperator(OperatorPrompt::Kind::Warning, QStringLiteral("Verification Required"), refusal);
    }
    return true;
}

void VerificationPolicy::RowLaunched(const RowRun& run)
{
    if (run.checksumLevel != kNoVerification)
        return;
    // A row started beside a running one joins a run already told.
    if (run.othersBusy && !noticeDue)
        return;
    noticeDue = false;
    LOGE("PortManager::Start", "%s", UnverifiedRunText().toUtf8().constData());
    host.NotifyUnverifiedRun(UnverifiedRunText());
}
