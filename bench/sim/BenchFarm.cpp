// Sixteen farm sessions downloading one sample load at once, next to a single-thread XXH3 pass over the same
// page-cached files. It prints figures and sets no target: the farm reads its images rather than mapping
// them, which costs copies but keeps a file cut short from ending the process.
#include "LoadFormat.h"
#include "quillon.h"
#include "quillon_sim.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator64>
#include <QTemporaryDir>
#include <QXmlStreamWriter>

#include <xxh_x86dispatch.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Image
{
    QString partition;
    QString name;
    qint64 size;
};

bool WriteRandomFile(const QString& path, qint64 size, quint64 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QRandomGenerator64 random(seed);
    std::vector<quint64> block(1 << 17);
    qint64 left = size;
    while (left > 0) {
        random.fillRange(block.data(), block.size());
        const qint64 length = std::min<qint64>(left, qint64(block.size() * sizeof(quint64)));
        if (file.write(reinterpret_cast<const char*>(block.data()), length) != length)
            return false;
        left -= length;
    }
    return true;
}

QByteArray Command(const QString& name, const QString& key, const QString& value)
{
    QByteArray text;
    QXmlStreamWriter writer(&text);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("da"));
    writer.writeTextElement(QStringLiteral("version"), QStringLiteral("1.0"));
    writer.writeTextElement(QStringLiteral("command"), name);
    writer.writeStartElement(QStringLiteral("arg"));
    if (!key.isEmpty())
        writer.writeTextElement(key, value);
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    return text;
}

// One pass of XXH3 over every image on the calling thread; returns bytes hashed.
qint64 HashPass(const QString& folder, const std::vector<Image>& images, QHash<QString, QString>& sums)
{
    qint64 total = 0;
    for (const Image& image : images) {
        QFile file(QDir(folder).filePath(image.name));
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        uchar* view = file.map(0, file.size());
        if (view == nullptr)
            return -1;
        sums.insert(image.name, loadformat::ChecksumText(XXH3_64bits_dispatch(view, size_t(file.size()))));
        file.unmap(view);
        total += file.size();
    }
    return total;
}

double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

struct Round
{
    double seconds = 0;
    int wrong = 0;
};

// Sixteen sessions (one per port) connect and enter DA mode, then download the load at the same moment; the
// time runs from that moment to the end of the last download.
Round FarmRound(int sessions, const QString& folder, const QString& scatter, const QString& flashXml,
                const QHash<QString, QString>& expected)
{
    QString error;
    std::mutex mutex;
    std::condition_variable gate;
    int ready = 0;
    bool go = false;
    std::vector<int> results(static_cast<size_t>(sessions), QUILLON_OK);
    std::vector<QString> feedback(static_cast<size_t>(sessions));
    const QByteArray runtime = Command(QStringLiteral("CMD:SET-RUNTIME-PARAMETER"),
                                       QStringLiteral("checksum_level"), QStringLiteral("USB"));
    const QByteArray flashAll =
        Command(QStringLiteral("CMD:FLASH-ALL"), QStringLiteral("source_file"), scatter);
    std::vector<std::thread> threads;
    std::vector<Clock::time_point> finished(static_cast<size_t>(sessions));
    for (int i = 0; i < sessions; ++i) {
        threads.emplace_back([&, i] {
            QuillonSession* session = quillon_create_session();
            char description[512];
            const QByteArray uri = QStringLiteral("COM://COM%1").arg(3 + i).toUtf8();
            int result = session ? quillon_scan_device(uri.constData(), description, sizeof description,
                                                       60000, nullptr)
                                 : QUILLON_E_FAILED;
            if (result == QUILLON_OK)
                result = quillon_connect_device(session, description, "115200@", "", "", nullptr);
            if (result == QUILLON_OK)
                result = quillon_enter_mode(session, "FLASH-MODE-DA", flashXml.toUtf8().constData(),
                                            runtime.constData(), nullptr);
            {
                std::unique_lock<std::mutex> lock(mutex);
                ++ready;
                gate.notify_all();
                gate.wait(lock, [&] { return go; });
            }
            if (result == QUILLON_OK)
                result = quillon_execute_command(session, flashAll.constData(), nullptr);
            finished[size_t(i)] = Clock::now();
            feedback[size_t(i)] = QDir(folder).filePath(QStringLiteral("feedback_%1.xml").arg(i));
            if (result == QUILLON_OK) {
                const QByteArray report = Command(QStringLiteral("CMD:GET-DOWNLOADED-IMAGE-FEEDBACK"),
                                                  QStringLiteral("target_file"), feedback[size_t(i)]);
                result = quillon_execute_command(session, report.constData(), nullptr);
            }
            if (result != QUILLON_OK)
                std::fprintf(stderr, "session %d: %s\n", i, quillon_get_last_error_msg(session));
            results[size_t(i)] = result;
            quillon_destroy_session(session);
        });
    }
    Clock::time_point start;
    {
        std::unique_lock<std::mutex> lock(mutex);
        gate.wait(lock, [&] { return ready == sessions; });
        start = Clock::now();
        go = true;
    }
    gate.notify_all();
    for (std::thread& thread : threads)
        thread.join();
    const double farmSeconds = Seconds(*std::max_element(finished.begin(), finished.end()) - start);

    int wrong = 0;
    for (int i = 0; i < sessions; ++i) {
        loadformat::XmlNode root;
        if (results[size_t(i)] != QUILLON_OK || !loadformat::ReadXmlFile(feedback[size_t(i)], root, error)) {
            ++wrong;
            continue;
        }
        for (const loadformat::XmlNode& item : root.children) {
            const QString name = QFileInfo(item.attributes.value(QStringLiteral("file"))).fileName();
            wrong += item.attributes.value(QStringLiteral("image_chksum")) == expected.value(name) ? 0 : 1;
        }
    }
    return {farmSeconds, wrong};
}

struct StopProbe
{
    std::atomic<bool> stop{false};
    std::atomic<int> polled{0};

    static int Query(void* user)
    {
        auto* probe = static_cast<StopProbe*>(user);
        probe->polled.fetch_add(1);
        return probe->stop.load() ? 1 : 0;
    }
};

// Sixteen bare scans wait on a farm where no device ever arrives; once every scan has polled its stop query,
// all are stopped at one moment. Returns each scan's time from that moment until it returned -2 (a negative
// time marks a scan that ended otherwise).
std::vector<double> StopLatencies(int sessions, const QString& farmFile)
{
    std::vector<double> latencies(size_t(sessions), -1.0);
    if (quillon_sim_configure(farmFile.toUtf8().constData()) != QUILLON_OK ||
        quillon_startup(nullptr) != QUILLON_OK)
        return latencies;
    StopProbe probe;
    const ScanCallbacks callbacks{&probe, &StopProbe::Query};
    std::atomic<Clock::rep> stoppedAt{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < sessions; ++i) {
        threads.emplace_back([&, i] {
            char description[512];
            const int result =
                quillon_scan_device("COM://", description, sizeof description, 600000, &callbacks);
            const Clock::duration waited =
                Clock::now().time_since_epoch() - Clock::duration(stoppedAt.load());
            latencies[size_t(i)] = result == QUILLON_E_STOPPED ? Seconds(waited) : -1.0;
        });
    }
    while (probe.polled.load() < sessions * 2)
        std::this_thread::yield();
    stoppedAt.store(Clock::now().time_since_epoch().count());
    probe.stop.store(true);
    for (std::thread& thread : threads)
        thread.join();
    quillon_cleanup();
    return latencies;
}

} // namespace

int main(int argc, char** argv)
{
    const qint64 totalMiB = argc > 1 ? QByteArray(argv[1]).toLongLong() : 256;
    const int sessions = argc > 2 ? QByteArray(argv[2]).toInt() : 16;
    const int rounds = 3;
    if (totalMiB < 8 || sessions < 1 || sessions > 64) {
        std::fprintf(stderr, "usage: bench_farm [load MiB >= 8] [sessions 1..64]\n");
        return 2;
    }
    QTemporaryDir work(QDir::current().filePath(QStringLiteral("bench_farm_XXXXXX")));
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot create a work folder\n");
        return 1;
    }
    const qint64 MiB = 1024 * 1024;
    const std::vector<Image> images{{"preloader", "preloader.bin", totalMiB * MiB / 64},
                                    {"boot", "boot.img", totalMiB * MiB / 8},
                                    {"vendor", "vendor.img", totalMiB * MiB / 4},
                                    {"system", "system.img", totalMiB * MiB / 2},
                                    {"userdata", "userdata.img", totalMiB * MiB / 8 - totalMiB * MiB / 64}};
    QVector<loadformat::ScatterEntry> entries;
    qint64 loadBytes = 0;
    for (size_t i = 0; i < images.size(); ++i) {
        if (!WriteRandomFile(QDir(work.path()).filePath(images[i].name), images[i].size, 0x5eed + i)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(images[i].name));
            return 1;
        }
        entries.push_back({images[i].partition, images[i].name, 0});
        loadBytes += images[i].size;
    }
    const QString scatter = QDir(work.path()).filePath(QStringLiteral("load_scatter.txt"));
    const QString flashXml = QDir(work.path()).filePath(QStringLiteral("flash.xml"));
    QString error;
    if (!loadformat::WriteScatter(scatter, entries, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QFile flash(flashXml);
    flash.open(QIODevice::WriteOnly);
    flash.write("<flash><scatter>load_scatter.txt</scatter></flash>\n");
    flash.close();
    const QString farm = QDir(work.path()).filePath(QStringLiteral("bench_farm.ini"));
    QFile ini(farm);
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[Farm]\nTimeScale=0\nPorts=%1\nLinkMBps=0\n").arg(sessions).toUtf8());
    ini.close();
    if (quillon_sim_configure(farm.toUtf8().constData()) != QUILLON_OK ||
        quillon_startup(nullptr) != QUILLON_OK) {
        std::fprintf(stderr, "engine: %s\n", quillon_get_last_error_msg(nullptr));
        return 1;
    }

    // A first pass warms the page cache. Each round then hashes the load as many times on one thread as the
    // farm downloads it, and runs the farm right after, so both see the same machine load.
    QHash<QString, QString> expected;
    HashPass(work.path(), images, expected);
    std::printf("load: %lld MiB in %zu images, %d sessions, %u hardware threads\n", totalMiB, images.size(),
                sessions, std::thread::hardware_concurrency());
    std::vector<double> ratios;
    int wrong = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto baselineStart = Clock::now();
        qint64 hashed = 0;
        for (int pass = 0; pass < sessions; ++pass)
            hashed += HashPass(work.path(), images, expected);
        const double baselineSeconds = Seconds(Clock::now() - baselineStart);
        const double baselineRate = double(hashed) / baselineSeconds / 1e9;
        const Round farmRound = FarmRound(sessions, work.path(), scatter, flashXml, expected);
        const double farmRate = double(loadBytes) * sessions / farmRound.seconds / 1e9;
        wrong += farmRound.wrong;
        ratios.push_back(farmRate / baselineRate);
        std::printf("round %d: single-thread XXH3 %.2f GB/s (%.3f s), farm %.2f GB/s aggregate (%.3f s), "
                    "ratio %.2fx\n",
                    round + 1, baselineRate, baselineSeconds, farmRate, farmRound.seconds, ratios.back());
    }
    quillon_cleanup();

    const QString absentFarm = QDir(work.path()).filePath(QStringLiteral("absent_farm.ini"));
    QFile absent(absentFarm);
    absent.open(QIODevice::WriteOnly);
    absent.write(QStringLiteral("[Farm]\nTimeScale=1\nPorts=%1\nAbsent=true\n").arg(sessions).toUtf8());
    absent.close();
    std::vector<double> latencies = StopLatencies(sessions, absentFarm);
    std::sort(latencies.begin(), latencies.end());
    if (latencies.front() < 0) {
        std::printf("stop of waiting scans: a scan did not end as stopped\n");
        ++wrong;
    } else {
        std::printf("stop of %d waiting scans: median %.1f ms, slowest %.1f ms (target <= 100 ms)\n",
                    sessions, latencies[latencies.size() / 2] * 1e3, latencies.back() * 1e3);
    }

    std::sort(ratios.begin(), ratios.end());
    std::printf("median ratio farm / single-thread XXH3: %.2fx\n", ratios[ratios.size() / 2]);
    std::printf("checksum mismatches or failed sessions: %d\n", wrong);
    return wrong == 0 ? 0 : 1;
}
