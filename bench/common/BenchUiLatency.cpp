// How responsive the user-interface thread stays while 16 ports flash with auto polling: a probe posted
// every 10 ms measures how long it waits before it runs, and the thread's CPU time is set against the
// wall time. The window has to repaint within a frame, so the target for the wait is under 16 ms.
// With --window the real window runs offscreen, its table, its station panel and their painting included.
#include "PortTestSupport.h"
#include "TestFrontEnd.h"

#include "Utility/FileUtils.h"
#include "common/PortManager.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr int kProbeIntervalMs = 10;
constexpr int kRunMs = 10000;
constexpr int kImageSize = 8 * 1024 * 1024;

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    const bool withWindow = argc > 1 && std::strcmp(argv[1], "--window") == 0;
    if (withWindow && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    FileUtils::SetAppDirectory(work.path().toUtf8());
    ParserTestSupport::StartLogging();
    const simtest::SampleLoad load =
        PortTestSupport::WriteStationLoad(work.filePath(QStringLiteral("load")), kImageSize);
    if (!PortTestSupport::ConfigureFarm(QStringLiteral("farm.ini"), QStringLiteral("[Farm]\nTimeScale=0.05\n"))) {
        std::fprintf(stderr, "the farm file was refused\n");
        return 1;
    }

    std::unique_ptr<MainWindow> window;
    std::unique_ptr<PortManager> ownManager;
    std::unique_ptr<TestFrontEnd> frontEnd;
    QObject* probeTarget = nullptr;
    if (withWindow) {
        window = std::make_unique<MainWindow>();
        window->Ports().SetSaveSettingsAtExit(false);
        window->show();
        window->SetElementContent(QStringLiteral("leFlashXmlPath"), load.flashXmlPath);
        window->SetElementCheck(QStringLiteral("rbFormatDownload"), true);
        window->SetElementCheck(QStringLiteral("cbAutoPolling"), true);
        for (uint row = 0; row < PortManager::kPortCount; ++row)
            window->SetPortSelectState(row, 2);
        probeTarget = window.get();
    } else {
        ownManager = std::make_unique<PortManager>();
        frontEnd = std::make_unique<TestFrontEnd>(*ownManager);
        frontEnd->contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
        frontEnd->checks[QStringLiteral("rbFormatDownload")] = true;
        frontEnd->checks[QStringLiteral("cbAutoPolling")] = true;
        frontEnd->runtimeParameters.checksumLevel = 2;
        frontEnd->rowSelected.fill(true);
        probeTarget = frontEnd.get();
    }
    PortManager& manager = withWindow ? window->Ports() : *ownManager;
    PortTestSupport::BindPorts(manager);
    if (withWindow)
        manager.SetScanType(0); // as the window's tests bind their rows

    std::vector<double> waitsMs;
    QElapsedTimer wall;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 posted = wall.nsecsElapsed();
        QMetaObject::invokeMethod(
            probeTarget, [&waitsMs, &wall, posted] { waitsMs.push_back((wall.nsecsElapsed() - posted) / 1e6); },
            Qt::QueuedConnection);
    });

    wall.start();
    const double cpuStart = ThreadCpuSeconds();
    manager.StartAll();
    probe.start(kProbeIntervalMs);
    QTimer::singleShot(kRunMs, &app, [&] {
        probe.stop();
        manager.StopAll();
        QTimer* idle = new QTimer(&app);
        QObject::connect(idle, &QTimer::timeout, [&] {
            for (int i = 0; i < PortManager::kPortCount; ++i) {
                if (manager.IsPortBusy(i))
                    return;
            }
            app.quit();
        });
        idle->start(20);
    });
    app.exec();
    const double cpu = ThreadCpuSeconds() - cpuStart;
    const double seconds = wall.nsecsElapsed() / 1e9;

    std::sort(waitsMs.begin(), waitsMs.end());
    const double p99 = waitsMs.empty() ? 0 : waitsMs[std::min(waitsMs.size() - 1, waitsMs.size() * 99 / 100)];
    const double worst = waitsMs.empty() ? 0 : waitsMs.back();
    std::printf("16 ports, auto polling, TimeScale 0.05, %d MiB load, %.1f s, %s\n", 2 * kImageSize / (1024 * 1024),
                seconds, withWindow ? "the window offscreen" : "no window");
    std::printf("  devices flashed             %d\n", manager.GetTotalPollingTimes());
    std::printf("  probes                      %zu\n", waitsMs.size());
    std::printf("  probe wait p99              %.2f ms (target < 16 ms)\n", p99);
    std::printf("  probe wait max              %.2f ms\n", worst);
    std::printf("  user-interface thread CPU   %.1f%% of one core\n", 100.0 * cpu / seconds);
    return 0;
}
