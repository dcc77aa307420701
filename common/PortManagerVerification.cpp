// Whether a run checks what it writes: a checksum level of 1 compares no device checksum, so an OK device
// is written but not verified. The station says so once per run, and refuses such a run when it requires
// verification.
#include "common/PortManager.h"

#include "logging/Log.h"

static constexpr char kLogSource[] = "Common\\PortManager";

namespace {

constexpr int kNoVerification = 1;

} // namespace

QString PortManager::UnverifiedRunText()
{
    return QStringLiteral("Checksum level 1: device checksums are not compared, so devices recorded OK are not verified.");
}

QString PortManager::VerificationRefusal(int checksumLevel) const
{
    if (!requireVerification || checksumLevel != kNoVerification)
        return QString();
    return QStringLiteral("This station requires verified devices, but checksum level 1 compares no device checksum: "
                          "choose the USB checksum, the storage checksum or both.");
}

// Read before anything of the row changes, so a refused Start leaves the table as it was.
bool PortManager::RefuseUnverifiedRun()
{
    if (!requireVerification)
        return false;
    RuntimeParameters parameters;
    if (runSettings)
        parameters = runSettings->runtimeParameters;
    else
        Q_EMIT SigGetOWDASetting(parameters);
    const QString refusal = VerificationRefusal(parameters.checksumLevel);
    if (refusal.isEmpty())
        return false;
    LOGE("PortManager::Start", "Start refused: %s", refusal.toUtf8().constData());
    if (!verificationRefusalTold) {
        verificationRefusalTold = true;
        Tell(OperatorPrompt::Kind::Warning, QStringLiteral("Verification Required"), refusal);
    }
    return true;
}

void PortManager::NoticeUnverifiedRun(int index)
{
    if (runtimeParams.checksumLevel != kNoVerification)
        return;
    bool othersBusy = false;
    for (int other = 0; other < kPortCount; ++other)
        othersBusy = othersBusy || (other != index && portBusy[other]);
    // A row started beside a running one joins a run already told.
    if (othersBusy && !unverifiedNoticeDue)
        return;
    unverifiedNoticeDue = false;
    LOGE("PortManager::Start", "%s", UnverifiedRunText().toUtf8().constData());
    Q_EMIT SigNotifyUnverifiedRun(UnverifiedRunText());
}
