// The farm under concurrent use: waiting scans that are stopped or cleaned up, sixteen sessions flashing at
// once, and last errors that stay with their thread and session.
#include "CallerThread.h"
#include "SimTestSupport.h"

#include "quillon.h"

#include <QtTest>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

using namespace simtest;

namespace {

constexpr int kThreads = 16;

// Waits with a generous bound for another thread to reach the engine's wait loop.
bool WaitForPolls(const StopFlag& flag)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (flag.polls.load() == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// Set once a download reports progress past 0%, that is once its first chunk has reached the device.
struct DownloadUnderway
{
    std::atomic<bool> underway{false};

    static void Progress(void* user, unsigned int percent, uint64_t, const char*)
    {
        if (percent > 0)
            static_cast<DownloadUnderway*>(user)->underway = true;
    }
    OperationCallbacks OperationRecord()
    {
        return OperationCallbacks{this,    nullptr, &DownloadUnderway::Progress, nullptr, nullptr,
                                  nullptr, nullptr};
    }
};

} // namespace

class FarmThreadedTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { quillon_cleanup(); }

    void stopQueryEndsWaitingScanWithinTwoSeconds();
    void cleanupWakesSixteenWaitingScans();
    void sixteenSessionsFlashAtOnceWithRightChecksums();
    void cleanupEndsSixteenDownloadsInFlight();
    void sixteenDownloadsShareTheHubFairly();
    void busySessionRefusesSecondCallAndDestroyStopsIt();
    void lastErrorsStayWithTheirThreads();
    void sessionsLastErrorFollowsItsLatestCaller_data();
    void sessionsLastErrorFollowsItsLatestCaller();
};

void FarmThreadedTest::stopQueryEndsWaitingScanWithinTwoSeconds()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("stop.ini"), QStringLiteral("[Farm]\nPorts=1\nAbsent=true\n"))));
    StopFlag flag;
    const ScanCallbacks callbacks = flag.ScanRecord();
    auto scan = std::async(std::launch::async, [&] {
        QByteArray description;
        return Scan(QStringLiteral("COM://"), description, 600000, &callbacks);
    });
    QVERIFY(WaitForPolls(flag));
    flag.stop = true;
    QCOMPARE(scan.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    QCOMPARE(scan.get(), int(QUILLON_E_STOPPED));
}

void FarmThreadedTest::cleanupWakesSixteenWaitingScans()
{
    QVERIFY(
        Restart(WriteFarm(QStringLiteral("absent.ini"), QStringLiteral("[Farm]\nPorts=16\nAbsent=true\n"))));
    std::vector<StopFlag> flags(kThreads);
    std::vector<std::future<std::pair<int, QString>>> scans;
    for (int i = 0; i < kThreads; ++i) {
        scans.push_back(std::async(std::launch::async, [&flags, i] {
            const ScanCallbacks callbacks = flags[size_t(i)].ScanRecord();
            QByteArray description;
            const QString uri = i % 2 ? QStringLiteral("COM://COM%1").arg(3 + i) : QStringLiteral("COM://");
            const int result = Scan(uri, description, 600000, &callbacks);
            return std::make_pair(result, LastError());
        }));
    }
    for (const StopFlag& flag : flags)
        QVERIFY(WaitForPolls(flag));
    QCOMPARE(quillon_cleanup(), int(QUILLON_OK));
    for (auto& scan : scans) {
        QCOMPARE(scan.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        const auto [result, error] = scan.get();
        QCOMPARE(result, int(QUILLON_E_NOT_STARTED));
        QVERIFY2(error.contains(QStringLiteral("shut down")), qPrintable(error));
    }
    QCOMPARE(quillon_create_session(), nullptr);
    QCOMPARE(quillon_startup(nullptr), int(QUILLON_OK));
    QuillonSession* session = quillon_create_session();
    QVERIFY(session != nullptr);
    quillon_destroy_session(session);
}

void FarmThreadedTest::sixteenSessionsFlashAtOnceWithRightChecksums()
{
    const SampleLoad load =
        WriteLoad(QStringLiteral("parallel_load"), {{"preloader", "preloader.bin", 50000},
                                                    {"boot", "boot.img", 1500000},
                                                    {"system", "system.img", 4000000},
                                                    {"userdata", "userdata.img", 700001}});
    QVERIFY(Restart(WriteFarm(QStringLiteral("parallel.ini"),
                              QStringLiteral("[Farm]\nTimeScale=0\nPorts=16\nLinkMBps=0\n"))));
    std::vector<std::future<QString>> sessions;
    for (int i = 0; i < kThreads; ++i) {
        sessions.push_back(std::async(std::launch::async, [&load, i]() -> QString {
            QString error;
            QuillonSession* session = OpenDaSession(QStringLiteral("COM://COM%1").arg(3 + i), load, error);
            if (session == nullptr)
                return error;
            const QString feedback = QDir::current().filePath(QStringLiteral("feedback_%1.xml").arg(i));
            const QByteArray flash =
                Command(QStringLiteral("CMD:FLASH-ALL"), {{"source_file", load.scatterPath}});
            const QByteArray report =
                Command(QStringLiteral("CMD:GET-DOWNLOADED-IMAGE-FEEDBACK"), {{"target_file", feedback}});
            if (quillon_execute_command(session, flash.constData(), nullptr) != QUILLON_OK ||
                quillon_execute_command(session, report.constData(), nullptr) != QUILLON_OK)
                error = LastError(session);
            quillon_destroy_session(session);
            if (!error.isEmpty())
                return error;
            const auto items = ReadFeedback(feedback, error);
            if (items.size() != load.checksums.size())
                return QStringLiteral("session %1 reported %2 images").arg(i).arg(items.size());
            for (auto it = load.checksums.cbegin(); it != load.checksums.cend(); ++it) {
                if (items.value(it.key()).first != it.value())
                    return QStringLiteral("session %1: wrong checksum for %2").arg(i).arg(it.key());
            }
            return error;
        }));
    }
    for (auto& session : sessions) {
        QCOMPARE(session.wait_for(std::chrono::seconds(120)), std::future_status::ready);
        const QString error = session.get();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
}

void FarmThreadedTest::cleanupEndsSixteenDownloadsInFlight()
{
    const SampleLoad load =
        WriteLoad(QStringLiteral("inflight_load"), {{"system", "system.img", 2 * 1024 * 1024}});
    // At a kilobyte a second the wait after the first chunk outlasts any test run, so every download is still
    // in flight when the cleanup comes.
    QVERIFY(Restart(WriteFarm(QStringLiteral("inflight.ini"),
                              QStringLiteral("[Farm]\nTimeScale=1\nPorts=16\nArrivalMs=0\nArrivalStepMs=0\n"
                                             "ConnectMs=0\nDaLoadMs=0\nLinkMBps=0.001\n"))));
    std::vector<DownloadUnderway> watches(kThreads);
    std::vector<std::future<std::pair<int, QString>>> downloads;
    for (int i = 0; i < kThreads; ++i) {
        downloads.push_back(std::async(std::launch::async, [&load, &watches, i] {
            QString error;
            QuillonSession* session = OpenDaSession(QStringLiteral("COM://COM%1").arg(3 + i), load, error);
            if (session == nullptr)
                return std::make_pair(int(QUILLON_E_FAILED), error);
            const OperationCallbacks callbacks = watches[size_t(i)].OperationRecord();
            const QByteArray flash =
                Command(QStringLiteral("CMD:FLASH-ALL"), {{"source_file", load.scatterPath}});
            const int result = quillon_execute_command(session, flash.constData(), &callbacks);
            const auto outcome = std::make_pair(result, LastError(session));
            quillon_destroy_session(session);
            return outcome;
        }));
    }
    // A failed check must not leave the downloads waiting out their link while the test returns.
    const auto stopDownloads = qScopeGuard([] { quillon_cleanup(); });
    for (int i = 0; i < kThreads; ++i) {
        QTRY_VERIFY_WITH_TIMEOUT(watches[size_t(i)].underway ||
                                     downloads[size_t(i)].wait_for(std::chrono::seconds(0)) ==
                                         std::future_status::ready,
                                 30000);
    }
    QCOMPARE(quillon_cleanup(), int(QUILLON_OK));
    for (auto& download : downloads) {
        QCOMPARE(download.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        const auto [result, error] = download.get();
        QVERIFY2(result == QUILLON_E_NOT_STARTED,
                 qPrintable(QStringLiteral("%1: %2").arg(result).arg(error)));
        QCOMPARE(error, QStringLiteral("Engine shut down during the operation"));
    }
}

void FarmThreadedTest::sixteenDownloadsShareTheHubFairly()
{
    // Behind a 32 MB/s hub a device alone streams at 32 MB/s (its 40 MB/s link is faster), sixteen at once at
    // 2 MB/s each. Rates are bytes per simulated second, real time over the time scale. A limit only ever
    // makes a download slower than planned, so the upper bounds on a rate are firm, the lower ones generous.
    constexpr double kScale = 0.5, kBytes = 4 * 1024 * 1024, kHub = 32.0e6;
    const SampleLoad load = WriteLoad(QStringLiteral("hub_load"), {{"system", "system.img", int(kBytes)}});
    QVERIFY(Restart(WriteFarm(QStringLiteral("hub.ini"),
                              QStringLiteral("[Farm]\nTimeScale=%1\nPorts=16\nArrivalMs=0\nArrivalStepMs=0\n"
                                             "ConnectMs=0\nDaLoadMs=0\nLinkMBps=40\nHubMBps=32\n")
                                  .arg(kScale))));
    std::vector<QuillonSession*> sessions;
    const auto destroy =
        qScopeGuard([&] { std::for_each(sessions.begin(), sessions.end(), quillon_destroy_session); });
    for (int i = 0; i < kThreads; ++i) {
        QString error;
        sessions.push_back(OpenDaSession(QStringLiteral("COM://COM%1").arg(3 + i), load, error));
        QVERIFY2(sessions.back() != nullptr, qPrintable(error));
    }
    const QByteArray flash = Command(QStringLiteral("CMD:FLASH-ALL"), {{"source_file", load.scatterPath}});
    // Simulated seconds from a common start to the end of each of the first count sessions' downloads.
    const auto downloadTogether = [&](int count) {
        std::promise<void> go;
        const std::shared_future<void> started = go.get_future().share();
        std::vector<std::future<std::chrono::steady_clock::time_point>> downloads;
        for (int i = 0; i < count; ++i)
            downloads.push_back(std::async(std::launch::async, [&, i] {
                started.wait();
                const int result = quillon_execute_command(sessions[size_t(i)], flash.constData(), nullptr);
                return result == QUILLON_OK ? std::chrono::steady_clock::now()
                                            : std::chrono::steady_clock::time_point();
            }));
        const auto begin = std::chrono::steady_clock::now();
        go.set_value();
        std::vector<double> seconds;
        for (auto& download : downloads)
            seconds.push_back(std::chrono::duration<double>(download.get() - begin).count() / kScale);
        return seconds;
    };
    const std::vector<double> together = downloadTogether(kThreads);
    double alone = downloadTogether(1)[0];
    for (int round = 0; round < 2; ++round)
        alone = std::min(alone, downloadTogether(1)[0]);
    const double last = *std::max_element(together.begin(), together.end());
    const QString figures = QStringLiteral("alone %1 s, together %2 to %3 s")
                                .arg(alone)
                                .arg(*std::min_element(together.begin(), together.end()))
                                .arg(last);
    QVERIFY2(alone > 0 && kBytes / alone <= kHub * 1.02, qPrintable(figures));
    QVERIFY2(kThreads * kBytes / last <= kHub * 1.02, qPrintable(figures));
    for (const double seconds : together) {
        const double share = kBytes / seconds / (kHub / kThreads);
        QVERIFY2(share >= 1.0 / 3 && share <= 1.5, qPrintable(figures));
    }
    QVERIFY2(last / alone >= 8 && last / alone <= 48, qPrintable(figures));
}

void FarmThreadedTest::busySessionRefusesSecondCallAndDestroyStopsIt()
{
    QVERIFY(Restart(
        WriteFarm(QStringLiteral("busy.ini"), QStringLiteral("[Farm]\nTimeScale=0\nPorts=1\nReenumerateMs=0\n"
                                                             "Hang=connect\nAnswerTimeoutMs=600000\n"))));
    QuillonSession* session = quillon_create_session();
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), description, 10000), int(QUILLON_OK));
    StopFlag flag;
    const OperationCallbacks callbacks = flag.OperationRecord();
    auto connect = std::async(std::launch::async, [&] {
        const int result =
            quillon_connect_device(session, description.constData(), "115200@", "", "", &callbacks);
        return std::make_pair(result, LastError(session));
    });
    QVERIFY(WaitForPolls(flag));
    QCOMPARE(
        quillon_enter_mode(session, "FLASH-MODE-DA", "flash.xml", RuntimeParameters().constData(), nullptr),
        int(QUILLON_E_SEQUENCE));
    QVERIFY2(LastError(session).contains(QStringLiteral("busy")), qPrintable(LastError(session)));
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), description, 100), int(QUILLON_E_TIMEOUT));

    QCOMPARE(quillon_destroy_session(session), int(QUILLON_OK));
    QCOMPARE(connect.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    QCOMPARE(connect.get().first, int(QUILLON_E_CANCELLED));
    // The abandoned call released the device on its way out.
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), description, 10000), int(QUILLON_OK));
}

void FarmThreadedTest::lastErrorsStayWithTheirThreads()
{
    QVERIFY(
        Restart(WriteFarm(QStringLiteral("errors.ini"), QStringLiteral("[Farm]\nTimeScale=0\nPorts=1\n"))));
    std::vector<std::future<QString>> workers;
    for (int i = 0; i < kThreads; ++i) {
        workers.push_back(std::async(std::launch::async, [i]() -> QString {
            QuillonSession* session = quillon_create_session();
            const QByteArray description = QStringLiteral("no such device %1").arg(i).toUtf8();
            for (int round = 0; round < 200; ++round) {
                QByteArray out;
                Scan(QStringLiteral("COM://COM%1").arg(1000 + i), out, 0);
                const QString threadError = LastError();
                if (!threadError.contains(QStringLiteral("COM%1").arg(1000 + i)))
                    return QStringLiteral("thread %1 read \"%2\"").arg(i).arg(threadError);
                quillon_connect_device(session, description.constData(), "115200@", "", "", nullptr);
                const QString sessionError = LastError(session);
                if (!sessionError.contains(QString::fromUtf8(description)))
                    return QStringLiteral("session %1 read \"%2\"").arg(i).arg(sessionError);
            }
            quillon_destroy_session(session);
            return QString();
        }));
    }
    for (auto& worker : workers) {
        QCOMPARE(worker.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        const QString error = worker.get();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
}

void FarmThreadedTest::sessionsLastErrorFollowsItsLatestCaller_data()
{
    // Steps are "<thread> <call>": the test's main thread stands for the user interface. Every connect and
    // scan fails; expected names the step whose failure the reader must see through the session's handle.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("expected");
    QTest::newRow("main's scan does not hide the worker's connect")
        << QStringList{"worker create", "worker connect", "main scan"} << "main"
        << "worker connect";
    QTest::newRow("main created it, but the worker called it last")
        << QStringList{"main create", "worker connect", "main scan"} << "main"
        << "worker connect";
    QTest::newRow("worker's scan right after creating it")
        << QStringList{"worker create", "worker scan"} << "worker"
        << "worker scan";
    QTest::newRow("worker's scan after its own connect")
        << QStringList{"worker create", "worker connect", "worker scan"} << "worker"
        << "worker scan";
    QTest::newRow("main's scan after main called it last")
        << QStringList{"worker create", "worker connect", "main connect", "main scan"} << "main"
        << "main scan";
}

void FarmThreadedTest::sessionsLastErrorFollowsItsLatestCaller()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, reader);
    QFETCH(QString, expected);
    QVERIFY(
        Restart(WriteFarm(QStringLiteral("caller.ini"), QStringLiteral("[Farm]\nTimeScale=0\nPorts=1\n"))));
    CallerThread worker;
    const auto on = [&worker](const QString& thread, const std::function<void()>& work) {
        if (thread == QLatin1String("worker"))
            worker.Run(work);
        else
            work();
    };
    QuillonSession* session = nullptr;
    QHash<QString, QString> failures; // step -> what its thread read as its own last error right after it
    for (const QString& step : steps) {
        const QString thread = step.section(QLatin1Char(' '), 0, 0);
        const QString call = step.section(QLatin1Char(' '), 1);
        on(thread, [&] {
            if (call == QLatin1String("create")) {
                session = quillon_create_session();
                return;
            }
            QByteArray out;
            const int result =
                call == QLatin1String("scan")
                    ? Scan(QStringLiteral("COM://COM%1").arg(thread == QLatin1String("main") ? 1001 : 1002),
                           out, 0)
                    : quillon_connect_device(session, QStringLiteral("no device of %1").arg(thread).toUtf8(),
                                             "115200@", "", "", nullptr);
            failures.insert(step, result == QUILLON_OK ? QString() : LastError());
        });
        QVERIFY2(session != nullptr, qPrintable(LastError()));
    }
    QVERIFY2(!failures.value(expected).isEmpty(), qPrintable(expected));
    QString read;
    on(reader, [&] { read = LastError(session); });
    QCOMPARE(read, failures.value(expected));
    QCOMPARE(quillon_destroy_session(session), int(QUILLON_OK));
}

QTEST_GUILESS_MAIN(FarmThreadedTest)
#include "tst_FarmThreaded.moc"
