// Production control set by the settings file's [Station] group: a locked profile that pins the load by its
// digest and keeps the operator's hands off what the file sets, and a target of good devices after which
// auto polling starts no more. Both front ends obey what is decided here.
#include "common/PortManager.h"

#include "XML/parser/FlashXMLParser.h"
#include "logging/Log.h"
#include "record/LoadDigest.h"

#include <QFileInfo>

static constexpr char kLogSource[] = "Common\\PortManager";

const QStringList& PortManager::ProfileControls()
{
    // The load picker and the scene; the options dialog's controls are the window's own to lock.
    static const QStringList controls{QStringLiteral("btnFlashXmlPath"), QStringLiteral("rbFormatDownload"),
                                      QStringLiteral("rbFirmwareUpgrade"), QStringLiteral("rbEFUSEWrite")};
    return controls;
}

bool PortManager::IsKeptByProfile(const QString& control) const
{
    return stationSettings.locked && ProfileControls().contains(control);
}

QString PortManager::PinnedLoadRefusal(const QString& flashXml) const
{
    if (!stationSettings.locked)
        return QString();
    QString scatter;
    FlashXMLParser parser;
    if (QFileInfo(flashXml).isFile() && parser.ParseXMLFile(flashXml))
        scatter = parser.GetScatterFilePath();
    const QString digest = LoadDigest(scatter);
    const QString pinned = stationSettings.loadDigest.isEmpty() ? QStringLiteral("(none)") : stationSettings.loadDigest;
    if (digest.isEmpty()) {
        return QStringLiteral("The station's profile is locked to the load %1, but the load %2 has no checksum list "
                              "to compare it by.")
            .arg(pinned, flashXml);
    }
    if (digest != stationSettings.loadDigest) {
        return QStringLiteral("The station's profile is locked to the load %1, but the load %2 is %3.")
            .arg(pinned, flashXml, digest);
    }
    return QString();
}

// Read before anything of the row changes, so a refused Start leaves the table as it was.
bool PortManager::RefuseUnpinnedLoad()
{
    if (!stationSettings.locked)
        return false;
    QString flashXml;
    ReadContent(QStringLiteral("leFlashXmlPath"), &RunSettings::flashXmlPath, flashXml);
    const QString refusal = PinnedLoadRefusal(flashXml);
    if (refusal.isEmpty())
        return false;
    LOGE("PortManager::Start", "Start refused: %s", refusal.toUtf8().constData());
    if (!lockRefusalTold) {
        lockRefusalTold = true;
        Tell(OperatorPrompt::Kind::Critical, QStringLiteral("Locked Profile"), refusal);
    }
    return true;
}

void PortManager::SetTarget(int devices) { target.SetTarget(devices); }
int PortManager::GetTarget() const { return target.Target(); }
int PortManager::GetTargetRemaining() const { return target.Remaining(); }
bool PortManager::IsTargetMet() const { return target.Met(); }

void PortManager::NoticeIgnoredTarget()
{
    if (!target.Active() || autoPolling || ignoredTargetTold)
        return;
    ignoredTargetTold = true;
    LOGI("PortManager::Start", "The target of %d good devices is ignored: it applies to auto polling only.",
         target.Target());
}

void PortManager::CountTowardsTarget()
{
    if (target.CountOk())
        LOGI("PortManager::ExecuteDownloadThread", "Target of %d good devices met; no more devices are started.",
             target.Target());
}
