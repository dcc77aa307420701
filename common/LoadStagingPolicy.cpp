#include "common/LoadStagingPolicy.h"

#include "common/ControlReader.h"
#include "common/StationPolicyHost.h"
#include "logging/Log.h"
#include "logging/Logger.h"

#include "quillon.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

static constexpr char kLogSource[] = "Common\\LoadStagingPolicy";

QString LoadStagingPolicy::Folder() const
{
    return folder.isEmpty() ? Logger::Instance().LogRootPath() + QStringLiteral("/StagedLoads") : folder;
}

void LoadStagingPolicy::Forget()
{
    sourceWatch.Stop();
    staged.reset();
}

QString LoadStagingPolicy::Stage(const LoadSnapshot& checked, LoadSnapshot& used, const Checker& checker,
                                 const LoadStaging::Progress& progress)
{
    Forget();
    QElapsedTimer clock;
    clock.start();
    StagedLoad copy;
    QString error;
    if (!LoadStaging(Folder()).Stage(checked, copy, error, progress))
        return QStringLiteral("the load could not be staged: %1").arg(error);
    const qint64 copyMs = clock.restart();
    used = LoadSnapshot::Take(copy.flashXml, copy.scatter);
    const int result = checker(copy.scatter);
    const QString changed = result == QUILLON_OK ? used.Changed() : QString();
    if (result != QUILLON_OK || !changed.isEmpty() || used.ChecksumList() != checked.ChecksumList()) {
        // A copy that does not pass is not kept: the next check copies the load afresh.
        RemoveStagedFolder(copy.folder);
        return QStringLiteral("the staged copy in %1 failed its image check%2")
            .arg(QDir::toNativeSeparators(copy.folder), changed.isEmpty() ? QString() : QStringLiteral(": ") + changed);
    }
    LOGI("PortManager::StageLoad", "Load %s staged as %s (%s, %lld bytes, copy %lld ms, check of the copy %lld ms)",
         QDir::toNativeSeparators(copy.sourceFlashXml).toUtf8().constData(),
         QDir::toNativeSeparators(copy.flashXml).toUtf8().constData(),
         copy.reused ? "copy found in place" : "copied", static_cast<long long>(copy.bytes),
         static_cast<long long>(copyMs), static_cast<long long>(clock.elapsed()));
    staged = copy;
    const QString shownCopy = QDir::toNativeSeparators(copy.flashXml);
    sourceWatch.Start(checked, [this, shownCopy](const QString& reason) {
        LOGW("PortManager::StageLoad", "The source of the staged load changed: %s; the run goes on from the copy.",
             reason.toUtf8().constData());
        host.TellOperatorLater(
            OperatorPrompt::Kind::Warning, QStringLiteral("Load Source Changed"),
            QStringLiteral("A file of the load's source changed or went away:\n%1\n\nThe station flashes its own copy, "
                           "checked when the load was chosen, so the run goes on:\n%2\n\nChoose the load again to "
                           "use the changed source.")
                .arg(reason, shownCopy));
    });
    return QString();
}

bool LoadStagingPolicy::IsStagedFor(const QString& flashXml) const
{
    return staged && QFileInfo(staged->sourceFlashXml) == QFileInfo(flashXml);
}

QString LoadStagingPolicy::EngineFlashXml(int row, const QString& flashXml, QString& scatter) const
{
    if (!stageLoad || !IsStagedFor(flashXml))
        return flashXml;
    scatter = staged->scatter;
    LOGI("PortManager::Start", "Port %d flashes the staged copy %s of %s", row,
         QDir::toNativeSeparators(staged->flashXml).toUtf8().constData(),
         QDir::toNativeSeparators(flashXml).toUtf8().constData());
    return staged->flashXml;
}

// Read before anything of the row changes, so a refused Start leaves the table as it was.
bool LoadStagingPolicy::RefusesStart(int /*row*/, ControlReader& reads)
{
    if (!stageLoad)
        return false;
    const QString flashXml = reads.FlashXml();
    if (IsStagedFor(flashXml))
        return false;
    LOGE("PortManager::Start", "Start refused: the load %s is not staged; check it again.", flashXml.toUtf8().constData());
    if (!refusalTold) {
        refusalTold = true;
        host.TellOperator(OperatorPrompt::Kind::Critical, QCoreApplication::translate("PortManager", "Start"),
                          QCoreApplication::translate("PortManager", "This station flashes staged loads only, and the "
                                                                     "load\n%1\nhas not been staged. Choose it again "
                                                                     "with Open.")
                              .arg(flashXml));
    }
    return true;
}
