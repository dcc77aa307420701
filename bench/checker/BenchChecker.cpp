// The image checker over a sample load, next to cat, xxhsum -H3 and sha256sum over the same files: one
// load of six images and one whose system image holds 90% of the bytes, each warm as written, cold, and warm
// after a read from the disk. Runs alternate between the contenders, round after round, and every ratio is
// the median of the ratios within a round, so that what other work on the machine does to one round does not
// tilt the figures. Prints figures; asserts nothing.
#include "LoadTimer.h"

#include "LoadFormat.h"
#include "quillcheck_sim.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Shape
{
    const char* title;
    QStringList options;
};

struct Contender
{
    const char* name;
    std::function<double()> run; // seconds, negative on failure
    bool everyRound;
    bool checker;
    std::vector<double> rates;
};

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The median over the rounds of one contender's rate divided by another's in the same round.
double PairedRatio(const Contender& contender, const Contender& base)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < contender.rates.size() && i < base.rates.size(); ++i) {
        if (base.rates[i] > 0)
            ratios.push_back(contender.rates[i] / base.rates[i]);
    }
    if (ratios.empty() && !base.rates.empty() && base.rates[0] > 0)
        ratios.push_back(Median(contender.rates) / base.rates[0]);
    return Median(ratios);
}

enum class CacheState
{
    WarmAsWritten,
    WarmAfterRead,
    Cold
};

void Measure(const LoadTimer& timer, CacheState state, int rounds)
{
    const bool cold = state == CacheState::Cold;
    std::vector<Contender> contenders = {
        {"cat", [&timer] { return timer.Tool(QStringLiteral("cat"), {}); }, true, false, {}},
        {"xxhsum -H3",
         [&timer] { return timer.Tool(QStringLiteral("xxhsum"), {QStringLiteral("-H3")}); },
         true,
         false,
         {}},
        {"sha256sum", [&timer] { return timer.Tool(QStringLiteral("sha256sum"), {}); }, false, false, {}},
        {"checker, default", [&timer] { return timer.Checker(QUILLCHECK_HASHING_AUTO); }, true, true, {}},
        {"checker, choosing", [&timer] { return timer.Checker(QUILLCHECK_HASHING_HELPER); }, true, true, {}},
        {"checker, reads", [&timer] { return timer.Checker(QUILLCHECK_HASHING_READ); }, true, true, {}},
    };
    // sha256sum runs for seconds and only warm: once is enough to place the checker against it.
    if (cold)
        contenders.erase(contenders.begin() + 2);
    for (int round = 0; round < rounds; ++round) {
        for (Contender& contender : contenders) {
            if (round > 0 && !contender.everyRound)
                continue;
            // Each run starts from the same cache state: emptied, or filled by one pass of cat.
            if (cold ? !timer.Evict() : !timer.Warm())
                std::printf("  could not %s the page cache\n", cold ? "empty" : "fill");
            contender.rates.push_back(timer.Rate(contender.run()));
        }
    }
    static const char* const kTitles[] = {"warm as the generator wrote them (one cat before each run)",
                                          "warm after one read from the disk (one cat before each run)",
                                          "cold (images dropped from the page cache before each run)"};
    std::printf("  %s, %d rounds:\n", kTitles[int(state)], rounds);
    const Contender& cat = contenders[0];
    const Contender& xxhsum = contenders[1];
    for (const Contender& contender : contenders) {
        const auto [low, high] = std::minmax_element(contender.rates.begin(), contender.rates.end());
        std::printf("    %-17s %6.2f GB/s (%.2f .. %.2f)", contender.name, Median(contender.rates), *low,
                    *high);
        if (contender.checker) {
            std::printf("  = %.2fx cat, %.2fx xxhsum -H3", PairedRatio(contender, cat),
                        PairedRatio(contender, xxhsum));
            if (!cold)
                std::printf(", %.0fx sha256sum", PairedRatio(contender, contenders[2]));
        }
        std::printf("\n");
    }
}

// The load's scatter path, images and sizes, read back from what the generator wrote.
bool ReadLoad(const QString& folder, QString& scatterPath, QStringList& images, uint64_t& bytes,
              uint64_t& largest)
{
    scatterPath = QDir(folder).filePath(QStringLiteral("load_scatter.txt"));
    loadformat::Scatter scatter;
    QString error;
    if (!loadformat::ReadScatter(scatterPath, scatter, error)) {
        std::printf("%s\n", qPrintable(error));
        return false;
    }
    for (const loadformat::ScatterEntry& entry : scatter.images) {
        images << scatter.ImagePath(entry);
        const uint64_t size = uint64_t(QFileInfo(images.last()).size());
        bytes += size;
        largest = std::max(largest, size);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString size = QStringLiteral("2G");
    QString parent = QDir::currentPath();
    int rounds = 5;
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--size"))
            size = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--folder"))
            parent = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--rounds"))
            rounds = std::max(1, arguments[i + 1].toInt());
    }
    std::printf("bench_checker --size %s --folder %s --rounds %d (%d cores)\n"
                "targets: warm >= 2x cat and >= 2.4x xxhsum -H3; cold within 10%% of cat\n",
                qPrintable(size), qPrintable(parent), rounds, QThread::idealThreadCount());
    const Shape shapes[] = {{"six images", {}},
                            {"system image of 90%", {QStringLiteral("--largest"), QStringLiteral("90")}}};
    for (const Shape& shape : shapes) {
        const QStorageInfo storage(parent);
        std::printf("%s (%s free in %s)\n", shape.title,
                    qPrintable(QLocale::c().formattedDataSize(storage.bytesAvailable())), qPrintable(parent));
        // Removed with everything in it at the end of the shape's block.
        QTemporaryDir folder(QDir(parent).filePath(QStringLiteral("bench_checker_XXXXXX")));
        QProcess generator;
        generator.start(QDir(app.applicationDirPath()).filePath(QStringLiteral("pxl_sample_load")),
                        QStringList{QStringLiteral("--out"), folder.path(), QStringLiteral("--size"), size} +
                            shape.options);
        if (!folder.isValid() || !generator.waitForFinished(-1) || generator.exitCode() != 0) {
            std::printf("  cannot write the load: %s\n", generator.readAllStandardError().constData());
            return 1;
        }
        QString scatterPath;
        QStringList images;
        uint64_t bytes = 0;
        uint64_t largest = 0;
        if (!ReadLoad(folder.path(), scatterPath, images, bytes, largest))
            return 1;
        std::printf("  %d images, %llu bytes, the largest %.0f%% of them\n", int(images.size()),
                    qulonglong(bytes), 100.0 * double(largest) / double(bytes));
        const LoadTimer timer(scatterPath, images, bytes);
        // The page cache holds a file it wrote in larger pieces than one it read back from the disk, and
        // a mapping of larger pieces takes fewer faults: both happen at a station, so both are measured.
        Measure(timer, CacheState::WarmAsWritten, rounds);
        Measure(timer, CacheState::Cold, rounds);
        timer.Evict();
        timer.Warm();
        Measure(timer, CacheState::WarmAfterRead, rounds);
    }
    return 0;
}
