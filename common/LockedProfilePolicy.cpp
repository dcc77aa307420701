#include "common/LockedProfilePolicy.h"

#include "XML/parser/FlashXMLParser.h"
#include "common/ControlReader.h"
#include "common/StationPolicyHost.h"
#include "logging/Log.h"
#include "record/LoadDigest.h"

#include <QFileInfo>

static constexpr char kLogSource[] = "Common\\LockedProfilePolicy";

void LockedProfilePolicy::SetProfile(bool locked, const QString& loadDigest)
{
    this->locked = locked;
    this->loadDigest = loadDigest;
}

const QStringList& LockedProfilePolicy::Controls()
{
    // The load picker and the scene; the options dialog's controls are the window's own to lock.
    static const QStringList controls{QStringLiteral("btnFlashXmlPath"), QStringLiteral("rbFormatDownload"),
                                      QStringLiteral("rbFirmwareUpgrade"), QStringLiteral("rbEFUSEWrite")};
    return controls;
}

bool LockedProfilePolicy::IsKept(const QString& control) const { return locked && Controls().contains(control); }

QString LockedProfilePolicy::PinnedLoadRefusal(const QString& flashXml) const
{
    if (!locked)
        return QString();
    QString scatter;
    FlashXMLParser parser;
    if (QFileInfo(flashXml).isFile() && parser.ParseXMLFile(flashXml))
        scatter = parser.GetScatterFilePath();
    const QString digest = LoadDigest(scatter);
    const QString pinned = loadDigest.isEmpty() ? QStringLiteral("(none)") : loadDigest;
    if (digest.isEmpty()) {
        return QStringLiteral("The station's profile is locked to the load %1, but the load %2 has no checksum list "
                              "to compare it by.")
            .arg(pinned, flashXml);
    }
    if (digest != loadDigest) {
        return QStringLiteral("The station's profile is locked to the load %1, but the load %2 is %3.")
            .arg(pinned, flashXml, digest);
    }
    return QString();
}

bool LockedProfilePolicy::RefusesStart(int /*row*/, ControlReader& reads)
{
    if (!locked)
        return false;
    const QString refusal = PinnedLoadRefusal(reads.FlashXml());
    if (refusal.isEmpty())
        return false;
    LOGE("PortManager::Start", "Start refused: %s", refusal.toUtf8().constData());
    if (!refusalTold) {
        refusalTold = true;
        host.TellOperator(OperatorPrompt::Kind::Critical, QStringLiteral("Locked Profile"), refusal);
    }
    return true;
}
