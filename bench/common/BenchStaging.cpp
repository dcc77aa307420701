// What load staging costs when a load is chosen: the load check as it stands, next to the check with staging
// on, once with the copy made afresh (copy and a check of the copy) and once with the copy found in place
// (the check of the copy only); the disk the copy takes; and the look at the load's files each device session
// makes. Warm caches, the three contenders in turn within each round, medians over the rounds; ratios are
// against the check alone in the same round.
//   bench_staging [size, default 256M] [rounds, default 5] [work folder, default a temporary one]
#include "PortTestSupport.h"
#include "TestFrontEnd.h"

#include "common/LoadStaging.h"
#include "common/PortManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

qint64 FolderBytes(const QString& folder)
{
    qint64 bytes = 0;
    QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        bytes += QFileInfo(files.next()).size();
    return bytes;
}

// Seconds of one load check; negative when it failed.
double TimeCheck(PortManager& manager)
{
    QElapsedTimer clock;
    clock.start();
    const int result = manager.VerifyChecksum();
    return result == 0 ? clock.nsecsElapsed() / 1e9 : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const QString size = arguments.value(1, QStringLiteral("256M"));
    const int rounds = std::max(1, arguments.value(2, QStringLiteral("5")).toInt());
    QTemporaryDir temporary;
    const QString work = arguments.size() > 3 ? arguments.at(3) : temporary.path();
    const QString load = QDir(work).filePath(QStringLiteral("load"));
    const QString staging = QDir(work).filePath(QStringLiteral("staged"));
    const QString generator = QCoreApplication::applicationDirPath() + QStringLiteral("/pxl_sample_load");
    if (QProcess::execute(generator, {QStringLiteral("--out"), load, QStringLiteral("--size"), size}) != 0) {
        std::fprintf(stderr, "pxl_sample_load failed\n");
        return 1;
    }
    PortManager manager;
    TestFrontEnd frontEnd(manager);
    frontEnd.contents[QStringLiteral("leFlashXmlPath")] = QDir(load).filePath(QStringLiteral("flash.xml"));
    manager.SetStagingFolder(staging);

    std::vector<double> plain;
    std::vector<double> fresh;
    std::vector<double> reused;
    qint64 stagedBytes = 0;
    // A first check of each kind warms the caches and the copy's folder.
    for (int round = -1; round < rounds; ++round) {
        manager.SetStageLoad(false);
        const double checkOnly = TimeCheck(manager);
        manager.SetStageLoad(true);
        RemoveStagedFolder(staging);
        const double copied = TimeCheck(manager);
        const double found = TimeCheck(manager);
        if (checkOnly < 0 || copied < 0 || found < 0 || !manager.GetStagedLoad() || !manager.GetStagedLoad()->reused) {
            std::fprintf(stderr, "a load check failed\n");
            return 1;
        }
        stagedBytes = FolderBytes(manager.GetStagedLoad()->folder);
        if (round < 0)
            continue;
        plain.push_back(checkOnly);
        fresh.push_back(copied / checkOnly);
        reused.push_back(found / checkOnly);
    }
    const double bytes = double(FolderBytes(load));
    const double check = Median(plain);
    std::printf("load %s: %.0f MiB in %s\n", qPrintable(size), bytes / 1048576.0, qPrintable(load));
    std::printf("check alone:              %.3f s (%.0f MB/s)\n", check, bytes / check / 1e6);
    std::printf("staged, copied afresh:    %.3f s, %.2fx the check alone\n", check * Median(fresh), Median(fresh));
    std::printf("staged, copy found:       %.3f s, %.2fx the check alone\n", check * Median(reused), Median(reused));
    std::printf("disk taken by one copy:   %.1f MiB (%.3fx the load); up to %d copies are kept\n",
                stagedBytes / 1048576.0, stagedBytes / bytes, LoadStaging::kKeptLoads);
    // The look each device session makes before it touches its device, and again after it wrote one.
    const LoadSnapshot snapshot = LoadSnapshot::Take(frontEnd.contents.value(QStringLiteral("leFlashXmlPath")),
                                                     QDir(load).filePath(QStringLiteral("load_scatter.txt")));
    constexpr int kLooks = 20000;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kLooks; ++i) {
        if (!snapshot.Changed().isEmpty())
            return 1;
    }
    std::printf("one look at the load's files: %.1f us\n", clock.nsecsElapsed() / 1e3 / kLooks);
    return 0;
}
