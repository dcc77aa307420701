// Sixteen threads write log lines through the logger; the same threads then write the very same bytes
// with plain fwrite under one std::mutex. Prints lines per second for both and their ratio.
#include "logging/Log.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

static constexpr char kLogSource[] = "Bench\\BenchLogger";

namespace {

constexpr int kThreads = 16;

template <typename Work> double RunThreads(Work work)
{
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(work, t);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int linesPerThread = argc > 1 ? QByteArray(argv[1]).toInt() : 20000;
    if (linesPerThread <= 0) {
        fprintf(stderr, "usage: bench_logger [lines per thread]\n");
        return 2;
    }
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    // The log root follows the data location, so the run stays inside the scratch folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch.path()));
    Logger::Instance().StartLogging();
    const QString logPath = QString::fromLocal8Bit(Logger::Instance().GetDumpFolder()) + "/Praxilo_TOOL.log";
    const qint64 startOffset = QFileInfo(logPath).size();

    const double loggerSeconds = RunThreads([linesPerThread](int t) {
        for (int i = 0; i < linesPerThread; ++i) {
            LOGD("BenchLogger::Worker", "port %d wrote block %d of system.img at offset 0x%08x", t, i,
                 i * 4096);
        }
    });
    Logger::Instance().StopLogging();

    QFile logFile(logPath);
    if (!logFile.open(QIODevice::ReadOnly)) {
        fprintf(stderr, "cannot read %s\n", qPrintable(logPath));
        return 1;
    }
    logFile.seek(startOffset);
    const QByteArray written = logFile.readAll();
    // Hand each thread its share of the logger's own lines, banner left out.
    std::vector<std::vector<QByteArray>> lines(kThreads);
    int lineCount = 0;
    for (const QByteArray& line : written.split('\n')) {
        if (line.contains("BenchLogger::Worker")) {
            lines[lineCount % kThreads].push_back(line + '\n');
            ++lineCount;
        }
    }
    if (lineCount != kThreads * linesPerThread) {
        fprintf(stderr, "expected %d lines in the log, found %d\n", kThreads * linesPerThread, lineCount);
        return 1;
    }

    const QByteArray plainPath = QFile::encodeName(scratch.filePath("plain.log"));
    FILE* plain = fopen(plainPath.constData(), "a");
    if (!plain) {
        fprintf(stderr, "cannot open %s\n", plainPath.constData());
        return 1;
    }
    std::mutex plainMutex;
    const double plainSeconds = RunThreads([&](int t) {
        for (const QByteArray& line : lines[t]) {
            std::lock_guard<std::mutex> guard(plainMutex);
            fwrite(line.constData(), 1, static_cast<size_t>(line.size()), plain);
            fflush(plain);
        }
    });
    fclose(plain);

    const double loggerRate = lineCount / loggerSeconds;
    const double plainRate = lineCount / plainSeconds;
    printf("threads %d, lines %d, %lld bytes\n", kThreads, lineCount, static_cast<long long>(written.size()));
    printf("logger:              %10.0f lines/s (%.3f s)\n", loggerRate, loggerSeconds);
    printf("fwrite under mutex:  %10.0f lines/s (%.3f s)\n", plainRate, plainSeconds);
    printf("logger / plain:      %10.2f\n", loggerRate / plainRate);
    return 0;
}
