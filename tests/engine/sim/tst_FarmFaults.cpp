// Every fault knob of a farm port, and how the engine reports it.
#include "SimTestSupport.h"

#include "quillon.h"

#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

using namespace simtest;

namespace {

QString PortFarm(const QString& portKeys, const QString& farmKeys = QString())
{
    return QStringLiteral("[Farm]\nTimeScale=0\nPorts=1\nSwapMs=0\n%1\n[Port-COM3]\n%2\n")
        .arg(farmKeys, portKeys);
}

// Asks to stop once the engine has polled a few times, which proves the wait polls at all.
struct StopAfterPolls
{
    int polls = 0;
    static int Query(void* user) { return ++static_cast<StopAfterPolls*>(user)->polls >= 3 ? 1 : 0; }
};

// Asks to stop as soon as a download reports its first percent.
struct StopOnProgress
{
    bool stop = false;
    static int Query(void* user) { return static_cast<StopOnProgress*>(user)->stop ? 1 : 0; }
    static void Progress(void* user, unsigned int percent, uint64_t, const char*)
    {
        if (percent >= 1)
            static_cast<StopOnProgress*>(user)->stop = true;
    }
};

// Holds a download at its first progress past 0% until the test has done its part, so the test acts while
// the image is being streamed without racing the download.
class HoldAtFirstProgress
{
public:
    static void Progress(void* user, unsigned int percent, uint64_t, const char*)
    {
        auto* hold = static_cast<HoldAtFirstProgress*>(user);
        if (percent == 0)
            return;
        std::unique_lock<std::mutex> lock(hold->mutex);
        if (hold->reached)
            return;
        hold->reached = true;
        hold->changed.notify_all();
        hold->changed.wait_for(lock, kBound, [hold] { return hold->released; });
    }
    bool WaitUntilReached()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, kBound, [this] { return reached; });
    }
    void Release()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            released = true;
        }
        changed.notify_all();
    }

private:
    static constexpr std::chrono::seconds kBound{30};
    std::mutex mutex;
    std::condition_variable changed;
    bool reached = false;
    bool released = false;
};

QString Hrid(QuillonSession* session)
{
    return FirmwareId(session, QStringLiteral("hrid"));
}

int Connect(QuillonSession* session, const char* auth = "", const OperationCallbacks* callbacks = nullptr)
{
    QByteArray description;
    const int scanned = Scan(QStringLiteral("COM://COM3"), description, 10000);
    if (scanned != QUILLON_OK)
        return scanned;
    return quillon_connect_device(session, description.constData(), "115200@", auth, "", callbacks);
}

int Execute(QuillonSession* session, const QByteArray& document,
            const OperationCallbacks* callbacks = nullptr)
{
    return quillon_execute_command(session, document.constData(), callbacks);
}

} // namespace

class FarmFaultsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup() { quillon_cleanup(); }

    void failedStageReportsTheDevice_data();
    void failedStageReportsTheDevice();
    void failEveryHitsEveryNthDevice();
    void failedScanNamesThePort();
    void transferFaultDropsTheDeviceAndTheNextOneArrives();
    void hangingHandshakeTimesOut();
    void hangingDaLoadEndsWithTheStopQuery();
    void hangingScanEndsWithTimeoutOrStop();
    void stopDuringDownloadCancels();
    void imageCutShortDuringDownloadFailsOnlyThatDownload_data();
    void imageCutShortDuringDownloadFailsOnlyThatDownload();
    void refusedSessionsReturnNull();
    void authenticationFileRequired();
    void devicesPerPortLimitsArrivals();
    void rebootDisconnectKeepsTheDevice();

private:
    SampleLoad load;
};

void FarmFaultsTest::initTestCase()
{
    load = WriteLoad(QStringLiteral("fault_load"),
                     {{"boot", "boot.img", 200000}, {"system", "system.img", 3000000}});
}

void FarmFaultsTest::failedStageReportsTheDevice_data()
{
    QTest::addColumn<QString>("knob");
    QTest::addColumn<int>("stage"); // 0 connect, 1 enter, 2 command
    QTest::addColumn<QString>("expected");
    QTest::newRow("connect") << "Fail=connect" << 0 << "Device on COM3 failed the handshake";
    QTest::newRow("enter") << "Fail=enter" << 1 << "Device on COM3 failed to start the download agent";
    QTest::newRow("command") << "Fail=command:CMD:FLASH-ALL" << 2 << "Device on COM3 failed CMD:FLASH-ALL";
    QTest::newRow("command without prefix")
        << "Fail=command:flash-all" << 2 << "Device on COM3 failed CMD:FLASH-ALL";
}

void FarmFaultsTest::failedStageReportsTheDevice()
{
    QFETCH(QString, knob);
    QFETCH(int, stage);
    QFETCH(QString, expected);
    QVERIFY(Restart(WriteFarm(QStringLiteral("fail.ini"), PortFarm(knob))));
    QuillonSession* session = quillon_create_session();
    int result = Connect(session);
    if (stage > 0) {
        QCOMPARE(result, int(QUILLON_OK));
        result = quillon_enter_mode(session, "FLASH-MODE-DA", load.flashXmlPath.toUtf8().constData(),
                                    RuntimeParameters().constData(), nullptr);
    }
    if (stage > 1) {
        QCOMPARE(result, int(QUILLON_OK));
        QCOMPARE(Execute(session, Command("CMD:ERASE-FLASH", {{"partition", "ALL"}})), int(QUILLON_OK));
        result = Execute(session, Command("CMD:FLASH-ALL", {{"source_file", load.scatterPath}}));
    }
    QCOMPARE(result, int(QUILLON_E_DEVICE));
    QCOMPARE(LastError(session), expected);
    quillon_destroy_session(session);
}

void FarmFaultsTest::failEveryHitsEveryNthDevice()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("every.ini"), PortFarm("Fail=connect\nFailEvery=2"))));
    QuillonSession* first = quillon_create_session();
    QCOMPARE(Connect(first), int(QUILLON_OK));
    QCOMPARE(quillon_enter_mode(first, "FLASH-MODE-DA", load.flashXmlPath.toUtf8().constData(),
                                RuntimeParameters().constData(), nullptr),
             int(QUILLON_OK));
    QCOMPARE(Execute(first, Command("CMD:REBOOT", {{"action", "IMMEDIATE"}})), int(QUILLON_OK));
    quillon_destroy_session(first);

    // The second device fails, and keeps failing, since the fault belongs to the device.
    QuillonSession* second = quillon_create_session();
    QCOMPARE(Connect(second), int(QUILLON_E_DEVICE));
    QCOMPARE(Connect(second), int(QUILLON_E_DEVICE));
    quillon_destroy_session(second);
}

void FarmFaultsTest::failedScanNamesThePort()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("scanfail.ini"), PortFarm("Fail=scan"))));
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://"), description, 10000), int(QUILLON_E_DEVICE));
    QCOMPARE(LastError(), QStringLiteral("Device on COM3 failed to enumerate"));
    QVERIFY(description.isEmpty());
}

void FarmFaultsTest::transferFaultDropsTheDeviceAndTheNextOneArrives()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("transfer.ini"), PortFarm("Fail=transfer:50"))));
    QString error;
    QuillonSession* session = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    QVERIFY2(session != nullptr, qPrintable(error));
    const QString firstHrid = Hrid(session);
    QCOMPARE(Execute(session, Command("CMD:FLASH-ALL", {{"source_file", load.scatterPath}})),
             int(QUILLON_E_DEVICE));
    QVERIFY2(LastError(session).startsWith(QStringLiteral("Device on COM3 dropped off at ")),
             qPrintable(LastError(session)));
    QCOMPARE(Execute(session, Command("CMD:REBOOT", {{"action", "DISCONNECT"}})), int(QUILLON_E_DEVICE));
    QVERIFY2(LastError(session).contains(QStringLiteral("no longer connected")),
             qPrintable(LastError(session)));

    // The next device arrives on the port while the old session is still open.
    QuillonSession* next = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    QVERIFY2(next != nullptr, qPrintable(error));
    QVERIFY(Hrid(next) != firstHrid);
    quillon_destroy_session(session);
    quillon_destroy_session(next);
}

void FarmFaultsTest::hangingHandshakeTimesOut()
{
    QVERIFY(
        Restart(WriteFarm(QStringLiteral("hangconnect.ini"), PortFarm("Hang=connect\nAnswerTimeoutMs=100"))));
    QuillonSession* session = quillon_create_session();
    QCOMPARE(Connect(session), int(QUILLON_E_TIMEOUT));
    QCOMPARE(LastError(session), QStringLiteral("Device on COM3 did not answer the handshake within 100 ms"));
    quillon_destroy_session(session);
}

void FarmFaultsTest::hangingDaLoadEndsWithTheStopQuery()
{
    QVERIFY(
        Restart(WriteFarm(QStringLiteral("hangenter.ini"), PortFarm("Hang=enter\nAnswerTimeoutMs=600000"))));
    QuillonSession* session = quillon_create_session();
    QCOMPARE(Connect(session), int(QUILLON_OK));
    StopAfterPolls stop;
    const OperationCallbacks callbacks{&stop,  &StopAfterPolls::Query, nullptr, nullptr, nullptr, nullptr,
                                       nullptr};
    QCOMPARE(quillon_enter_mode(session, "FLASH-MODE-DA", load.flashXmlPath.toUtf8().constData(),
                                RuntimeParameters().constData(), &callbacks),
             int(QUILLON_E_CANCELLED));
    QCOMPARE(LastError(session), QStringLiteral("Operation cancelled by user"));
    QCOMPARE(stop.polls, 3);
    quillon_destroy_session(session);
}

void FarmFaultsTest::hangingScanEndsWithTimeoutOrStop()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("hangscan.ini"), PortFarm("Hang=scan"))));
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), description, 100), int(QUILLON_E_TIMEOUT));
    QCOMPARE(LastError(), QStringLiteral("Device on COM3 did not answer the scan within 100 ms"));
    StopAfterPolls stop;
    const ScanCallbacks callbacks{&stop, &StopAfterPolls::Query};
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), description, 600000, &callbacks), int(QUILLON_E_STOPPED));
}

void FarmFaultsTest::stopDuringDownloadCancels()
{
    // At 1 MB/s the download would take seconds; the stop query ends it after its first percent.
    QVERIFY(Restart(
        WriteFarm(QStringLiteral("slow.ini"), QStringLiteral("[Farm]\nTimeScale=1\nPorts=1\nArrivalMs=0\n"
                                                             "ConnectMs=0\nDaLoadMs=0\nLinkMBps=1\n"))));
    QString error;
    QuillonSession* session = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    QVERIFY2(session != nullptr, qPrintable(error));
    StopOnProgress stop;
    const OperationCallbacks callbacks{
        &stop, &StopOnProgress::Query, &StopOnProgress::Progress, nullptr, nullptr, nullptr, nullptr};
    QCOMPARE(Execute(session, Command("CMD:FLASH-ALL", {{"source_file", load.scatterPath}}), &callbacks),
             int(QUILLON_E_CANCELLED));
    QCOMPARE(LastError(session), QStringLiteral("Operation cancelled by user"));
    quillon_destroy_session(session);
}

void FarmFaultsTest::imageCutShortDuringDownloadFailsOnlyThatDownload_data()
{
    QTest::addColumn<qint64>("keep");
    // Copying a new load over the old one first truncates each image to nothing.
    QTest::newRow("emptied") << qint64(0);
    QTest::newRow("cut in half") << qint64(2 * 1024 * 1024);
}

void FarmFaultsTest::imageCutShortDuringDownloadFailsOnlyThatDownload()
{
    QFETCH(qint64, keep);
    const SampleLoad cut = WriteLoad(QStringLiteral("cut_load"), {{"system", "system.img", 4 * 1024 * 1024}});
    const QString image = QDir(cut.folder).filePath(QStringLiteral("system.img"));
    QVERIFY(Restart(WriteFarm(QStringLiteral("cut.ini"), QStringLiteral("[Farm]\nTimeScale=0\nPorts=1\n"))));
    QString error;
    QuillonSession* session = OpenDaSession(QStringLiteral("COM://COM3"), cut, error);
    QVERIFY2(session != nullptr, qPrintable(error));
    HoldAtFirstProgress hold;
    const OperationCallbacks callbacks{&hold,   nullptr, &HoldAtFirstProgress::Progress, nullptr, nullptr,
                                       nullptr, nullptr};
    const QByteArray flash = Command("CMD:FLASH-ALL", {{"source_file", cut.scatterPath}});
    auto download = std::async(std::launch::async, [&] {
        const int result = Execute(session, flash, &callbacks);
        return std::make_pair(result, LastError(session));
    });
    const auto release = qScopeGuard([&hold] { hold.Release(); });
    QVERIFY(hold.WaitUntilReached());
    QVERIFY(QFile::resize(image, keep));
    hold.Release();
    QCOMPARE(download.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const auto [result, text] = download.get();
    QCOMPARE(result, int(QUILLON_E_IO));
    QCOMPARE(text, QStringLiteral("Image %1 changed or became unreadable during the download").arg(image));
    quillon_destroy_session(session);
}

void FarmFaultsTest::refusedSessionsReturnNull()
{
    const QString path =
        WriteFarm(QStringLiteral("refuse.ini"), QStringLiteral("[Farm]\nRefuseSessions=true\n"));
    QVERIFY(Restart(path));
    QCOMPARE(quillon_create_session(), nullptr);
    QVERIFY2(LastError().contains(QStringLiteral("RefuseSessions")) && LastError().contains(path),
             qPrintable(LastError()));
}

void FarmFaultsTest::authenticationFileRequired()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("auth.ini"), PortFarm("AuthRequired=true"))));
    const QString missing = QDir::current().filePath(QStringLiteral("no_auth.auth"));
    const QString present = WriteFile(QDir::current().filePath(QStringLiteral("present.auth")), "auth");
    QuillonSession* session = quillon_create_session();
    QCOMPARE(Connect(session, ""), int(QUILLON_E_AUTH));
    QVERIFY2(LastError(session).contains(QStringLiteral("requires an authentication file")),
             qPrintable(LastError(session)));
    QCOMPARE(Connect(session, missing.toUtf8().constData()), int(QUILLON_E_AUTH));
    QCOMPARE(LastError(session), QStringLiteral("Authentication file not found: %1").arg(missing));
    QCOMPARE(Connect(session, present.toUtf8().constData()), int(QUILLON_OK));
    quillon_destroy_session(session);
}

void FarmFaultsTest::devicesPerPortLimitsArrivals()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("limit.ini"), PortFarm("DevicesPerPort=1"))));
    QString error;
    QuillonSession* session = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    QVERIFY2(session != nullptr, qPrintable(error));
    QCOMPARE(Execute(session, Command("CMD:REBOOT", {{"action", "IMMEDIATE"}})), int(QUILLON_OK));
    // The device leaves only when its session ends.
    QByteArray description;
    QCOMPARE(quillon_destroy_session(session), int(QUILLON_OK));
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), description, 200), int(QUILLON_E_TIMEOUT));
}

void FarmFaultsTest::rebootDisconnectKeepsTheDevice()
{
    QVERIFY(Restart(WriteFarm(QStringLiteral("keep.ini"), PortFarm(QString()))));
    QString error;
    QuillonSession* session = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    QVERIFY2(session != nullptr, qPrintable(error));
    const QString hrid = Hrid(session);
    QCOMPARE(Execute(session, Command("CMD:REBOOT", {{"action", "DISCONNECT"}})), int(QUILLON_OK));
    quillon_destroy_session(session);
    session = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    QVERIFY2(session != nullptr, qPrintable(error));
    QCOMPARE(Hrid(session), hrid);
    QCOMPARE(Execute(session, Command("CMD:REBOOT", {{"action", "IMMEDIATE"}})), int(QUILLON_OK));
    quillon_destroy_session(session);
    session = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    QVERIFY2(session != nullptr, qPrintable(error));
    QVERIFY(Hrid(session) != hrid);
    quillon_destroy_session(session);
}

QTEST_GUILESS_MAIN(FarmFaultsTest)
#include "tst_FarmFaults.moc"
