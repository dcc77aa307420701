// The load check: the image checker verifies the chosen load against its checksum list while the
// user-interface thread waits, showing its progress in the window's checksum bar.
#include "common/PortManager.h"

#include "XML/parser/FlashXMLParser.h"
#include "logging/Log.h"

#include "quillon.h"

#include <QThread>

#include <cstdio>

static constexpr char kLogSource[] = "common\\DeviceInstance";

namespace {

const QString kProgressBar = QStringLiteral("prbChecksum");
constexpr size_t kProgressTextSize = 60;

// Backs a cut off before a character that the cut would split, so the bar never shows half a character.
void CutAtCharacter(char* text, size_t length)
{
    size_t end = length;
    while (end > 0 && (static_cast<unsigned char>(text[end - 1]) & 0xC0) == 0x80)
        --end;
    if (end == 0)
        return;
    const unsigned char lead = static_cast<unsigned char>(text[end - 1]);
    const size_t needed = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length - (end - 1) < needed)
        text[end - 1] = '\0';
}

} // namespace

int PortManager::VerifyChecksum()
{
    static constexpr char kFunction[] = "DeviceInstance::VerifyChecksum";
    const QString flashXml = controls.FlashXml();
    // An unreadable flash XML leaves the scatter path empty; the checker's refusal then reaches the operator.
    QString scatter;
    FlashXMLParser parser;
    if (parser.ParseXMLFile(flashXml))
        scatter = parser.GetScatterFilePath();

    // Taken before the check and confirmed after it: the checksum list it holds is then the one the images
    // were checked against, and each device is compared with that list.
    const LoadSnapshot checked = LoadSnapshot::Take(flashXml, scatter);
    staging.Forget();
    Q_EMIT SigSetMWProgressBarVisible(kProgressBar, true);
    const int result = RunImageChecker(scatter);
    if (result == QUILLON_E_CHECKSUM_LIST_MISSING)
        LOGI(kFunction, "Image Checksum XML Not Found!");
    else if (result != QUILLON_OK)
        LOGI(kFunction, "Unknown Error Occured When Verifying Checksum!");
    else
        LOGI(kFunction, "Verify Checksum Done!");

    QString loadProblem = loadCheck.LoadChecked(result == QUILLON_OK, checked);
    if (result == QUILLON_OK && loadProblem.isEmpty() && staging.StagesLoad()) {
        LoadSnapshot used;
        // The copy's progress shows in the same bar; its text is used before the emission returns.
        loadProblem = staging.Stage(
            checked, used, [this](const QString& copy) { return RunImageChecker(copy); },
            [this](unsigned percent, uint64_t copied, const QString& file) {
                const QByteArray text = QStringLiteral("%1 Staging Progress").arg(file).left(59).toUtf8();
                Q_EMIT SigSetMWProgressBarState(kProgressBar, percent, copied, text.constData());
            });
        if (loadProblem.isEmpty())
            loadCheck.Watch(used);
        else
            loadCheck.Refuse(loadProblem);
    }
    Q_EMIT SigSetMWProgressBarVisible(kProgressBar, false);
    if (!loadProblem.isEmpty())
        LOGE(kFunction, "Load refused: %s", loadProblem.toUtf8().constData());
    if (result != QUILLON_OK || !loadProblem.isEmpty()) {
        Tell(OperatorPrompt::Kind::Critical, QStringLiteral("Critical"),
             QStringLiteral("Failed to Verify Checksum!\nPlease Regenerate scatter_checksum.xml File"), loadProblem);
        return -1;
    }
    return 0;
}

int PortManager::RunImageChecker(const QString& scatter)
{
    const QByteArray scatterUtf8 = scatter.toUtf8();
    const CheckerCallbacks callbacks{
        this, [](void* user) { return static_cast<PortManager*>(user)->checksumStop.load() ? 1 : 0; },
        &PortManager::ChecksumProgress};
    return quillon_images_checker_verify(scatterUtf8.constData(), &callbacks);
}

void PortManager::ChecksumProgress(void* user, unsigned int percent, uint64_t transferred, const char* info)
{
    auto* manager = static_cast<PortManager*>(user);
    // The text lives in this frame: a call from another thread would queue a pointer that dangles on arrival.
    if (manager == nullptr || QThread::currentThread() != manager->thread())
        return;
    char text[kProgressTextSize];
    const int length = std::snprintf(text, sizeof text, "%s Checksum Progress", info != nullptr ? info : "");
    if (length >= int(sizeof text))
        CutAtCharacter(text, sizeof text - 1);
    Q_EMIT manager->SigSetMWProgressBarState(kProgressBar, percent, transferred, text);
}
