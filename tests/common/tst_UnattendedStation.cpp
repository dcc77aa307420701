#include "TestFiles.h"

#include "common/DiskSpaceGuard.h"
#include "common/FailurePacer.h"
#include "common/LogHousekeeping.h"
#include "common/StationSettings.h"
#include "logging/Logger.h"

#include <QDir>
#include <QtTest>

#include <thread>

// What keeps a station going unattended: the free-space floor before each next device, and the passes that
// keep the dump folders within their bounds.
class TestUnattendedStation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void floorPausesTheNextDevicesUntilThereIsRoom_data()
    {
        QTest::addColumn<int>("floorMB");
        QTest::addColumn<int>("recordMB"); // free; -1 cannot be read
        QTest::addColumn<int>("logsMB");
        QTest::addColumn<QString>("shortFolder"); // empty: room
        QTest::newRow("room on both") << 500 << 501 << 9000 << QString();
        QTest::newRow("exactly the floor") << 500 << 500 << 500 << QString();
        QTest::newRow("no floor") << 0 << 0 << 0 << QString();
        QTest::newRow("unreadable is not full") << 500 << -1 << -1 << QString();
        QTest::newRow("record short") << 500 << 499 << 9000 << "/record";
        QTest::newRow("logs short") << 500 << 9000 << 12 << "/logs";
        QTest::newRow("both short, then stop") << 500 << 3 << 4 << "/record";
    }
    void floorPausesTheNextDevicesUntilThereIsRoom();
    void housekeepingPassesRunAtStartAndEveryPeriod();
};

void TestUnattendedStation::floorPausesTheNextDevicesUntilThereIsRoom()
{
    QFETCH(int, floorMB);
    QFETCH(int, recordMB);
    QFETCH(int, logsMB);
    QFETCH(QString, shortFolder);
    std::atomic<int> freeMB[2] = {{recordMB}, {logsMB}}; // set here, read by the workers
    DiskSpaceGuard guard([&freeMB](const QString& folder) {
        const int64_t free = freeMB[folder == "/logs"].load();
        return free < 0 ? -1 : free * 1024 * 1024;
    });
    QList<QVariantList> told;
    connect(&guard, &DiskSpaceGuard::SigNotifyDiskSpace, this,
            [&told](bool low, QString folder, qint64 free) { told << QVariantList{low, folder, free}; }, Qt::QueuedConnection);
    guard.SetFolders({"/record", "/logs"});
    guard.SetFloorMB(floorMB);
    guard.SetRecheckInterval(std::chrono::milliseconds(10));
    // Four workers reach their next device together.
    const bool stopping = QByteArray(QTest::currentDataTag()).contains("stop");
    std::atomic<bool> stop{false};
    std::atomic<int> started{0}, ended{0};
    FailurePacer pacers[4];
    std::vector<std::thread> workers;
    for (FailurePacer& pacer : pacers)
        workers.emplace_back([&] { started += guard.NextDeviceMayStart(0, stop, pacer); ++ended; });
    if (!shortFolder.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(told.size(), 1, 10000);
        QCOMPARE(told[0], (QVariantList{true, shortFolder, shortFolder == "/record" ? recordMB : logsMB}));
        QVERIFY(guard.IsPaused() && started == 0 && ended == 0);
        stop = stopping;
        for (FailurePacer& pacer : pacers)
            pacer.Wake();
        freeMB[0] = freeMB[1] = stopping ? 0 : 9000;
    }
    for (std::thread& worker : workers)
        worker.join();
    QCOMPARE(started.load(), stopping ? 0 : 4);
    // Told once each way, whatever the number of workers.
    QCoreApplication::processEvents();
    QCOMPARE(told.size(), shortFolder.isEmpty() ? 0 : stopping ? 1 : 2);
    QVERIFY(told.size() < 2 || told[1] == (QVariantList{false, shortFolder, 9000}));
}

void TestUnattendedStation::housekeepingPassesRunAtStartAndEveryPeriod()
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(QDir::current().absoluteFilePath("xdg")));
    Logger::Instance().StartLogging();
    const auto plant = [](int daysOld) {
        const QString name = "/PXL_Dump_" + QDateTime::currentDateTime().addDays(-daysOld).toString("MM-dd-yyyy-HH-mm-ss");
        TestFiles::WriteFile(QString::fromLocal8Bit(Logger::Instance().GetLogRoot()) + name + "/Praxilo_TOOL.log", "old\n");
        return QString::fromLocal8Bit(Logger::Instance().GetLogRoot()) + name;
    };
    const QString atStart = plant(10);
    StationSettings settings;
    settings.logKeepDays = 3;
    // A station's hour, shortened: a folder that turns old while the station runs goes with a later pass.
    LogHousekeeping housekeeping(std::chrono::milliseconds(20));
    housekeeping.Start(settings);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(atStart), 10000);
    const int passes = housekeeping.PassesDone();
    const QString later = plant(4);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(later) && housekeeping.PassesDone() > passes, 10000);
    QVERIFY(QFileInfo(QString::fromLocal8Bit(Logger::Instance().GetDumpFolder())).isDir());
}

QTEST_GUILESS_MAIN(TestUnattendedStation)
#include "tst_UnattendedStation.moc"
