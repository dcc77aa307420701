// The load every device gets is the load that was checked: a changed image stops the line whatever a writer
// put back, no device recorded OK holds anything but the checked images (the farm's ledger says what each
// device received), and a staged load runs on from its own copy when its source goes away.
#include "PortTestSupport.h"
#include "RecordingStation.h"

#include "LoadFormat.h"
#include "common/PortManager.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace PortTestSupport;

namespace {

enum class Change
{
    RewrittenInPlace,
    ReplacedByRename,
    ImageAndListWithTimesPutBack,
};

QByteArray RandomBytes(qint64 size)
{
    QVector<quint32> words(int(size / 4 + 1));
    QRandomGenerator::global()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), int(size));
}

bool Rewrite(const QString& path)
{
    QFile file(path);
    const qint64 size = file.size();
    return file.open(QIODevice::ReadWrite) && file.write(RandomBytes(size)) == size;
}

// The writer's part a watch of sizes and times alone would miss: the same size, the same modification time.
bool PutTimesBack(const QString& path, const struct stat& before)
{
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

bool ChangeLoad(Change change, const simtest::SampleLoad& load)
{
    const QString image = QDir(load.folder).filePath(QStringLiteral("system.img"));
    const QString list = loadformat::ChecksumListPath(load.scatterPath);
    if (change == Change::RewrittenInPlace)
        return Rewrite(image);
    if (change == Change::ReplacedByRename) {
        QSaveFile replacement(image); // written beside, then renamed onto the image
        return replacement.open(QIODevice::WriteOnly) && replacement.write(RandomBytes(QFileInfo(image).size())) > 0 &&
               replacement.commit();
    }
    struct stat imageBefore, listBefore;
    QVector<loadformat::ChecksumListEntry> written;
    QString error;
    return stat(QFile::encodeName(image).constData(), &imageBefore) == 0 &&
           stat(QFile::encodeName(list).constData(), &listBefore) == 0 && Rewrite(image) &&
           loadformat::WriteChecksumListForScatter(load.scatterPath, written, error) &&
           PutTimesBack(image, imageBefore) && PutTimesBack(list, listBefore);
}

// The checksums of system.img each unit received, by its socid, from the farm's own account.
QHash<QString, QStringList> ReceivedByUnit(const QString& ledgerPath)
{
    QFile ledger(ledgerPath);
    ledger.open(QIODevice::ReadOnly);
    QHash<qint64, QString> units;
    QHash<QString, QStringList> received;
    for (const QByteArray& line : ledger.readAll().split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        const qint64 device = event.value(QStringLiteral("device")).toVariant().toLongLong();
        if (event.value(QStringLiteral("event")).toString() == QLatin1String("arrival"))
            units[device] = event.value(QStringLiteral("socid")).toString().toLower();
        else if (event.value(QStringLiteral("image")).toString().endsWith(QLatin1String("system.img")))
            received[units.value(device)] << event.value(QStringLiteral("checksum")).toString();
    }
    return received;
}

void StartFourRows(RecordingStation& station, const QString& flashXml, int devices)
{
    station.manager->SetFailurePace(std::chrono::milliseconds(0));
    station.manager->SetDevicesPerPort(devices);
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = flashXml;
    station.frontEnd.checks[QStringLiteral("cbAutoPolling")] = true;
    for (int row = 0; row < 4; ++row)
        station.frontEnd.rowSelected[size_t(row)] = true;
}

} // namespace

Q_DECLARE_METATYPE(Change)

class CheckedLoadTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aChangedImageStopsTheLineAndNoOkDeviceHoldsIt_data();
    void aChangedImageStopsTheLineAndNoOkDeviceHoldsIt();
    void aStagedRunGoesOnWhenItsSourceGoesAway();
    void stagingKeepsTheLastThreeLoadsAndFlashesOnlyStagedOnes();
};

void CheckedLoadTest::aChangedImageStopsTheLineAndNoOkDeviceHoldsIt_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<int>("checksumLevel");
    QTest::addColumn<QString>("named"); // what the reason names: the first changed file the station looked at
    // Between the check and the run: a writer's change and its put-back then fall between two looks for sure.
    QTest::addColumn<bool>("beforeRun");
    const QString image = QStringLiteral("system\\.img");
    const QString either = QStringLiteral("system\\.img|scatter_checksum\\.xml");
    QTest::newRow("rewritten in place, nothing compared") << Change::RewrittenInPlace << 1 << image << false;
    QTest::newRow("rewritten in place, device checksums compared") << Change::RewrittenInPlace << 2 << image << false;
    QTest::newRow("replaced by rename") << Change::ReplacedByRename << 1 << image << false;
    QTest::newRow("image and list rewritten, times put back") << Change::ImageAndListWithTimesPutBack << 2 << either << false;
    QTest::newRow("image and list rewritten, times put back, before the run")
        << Change::ImageAndListWithTimesPutBack << 1 << either << true;
}

void CheckedLoadTest::aChangedImageStopsTheLineAndNoOkDeviceHoldsIt()
{
    QFETCH(Change, change);
    QFETCH(int, checksumLevel);
    QFETCH(QString, named);
    QFETCH(bool, beforeRun);
    const QString name = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
    const simtest::SampleLoad load = WriteStationLoad(QDir::current().absoluteFilePath(name), 64 * 1024);
    const QString ledger = QDir::current().absoluteFilePath(name + QStringLiteral(".ledger"));
    QFile::remove(ledger);
    QVERIFY(ConfigureFarm("watch.ini", "[Farm]\nTimeScale=0\nLinkMBps=0\nLedger=" + ledger + '\n'));
    RecordingStation station;
    station.manager->SetReadUnitId(true);
    station.frontEnd.runtimeParameters.checksumLevel = checksumLevel;
    StartFourRows(station, load.flashXmlPath, 0);
    QCOMPARE(station.manager->VerifyChecksum(), 0);
    if (beforeRun)
        QVERIFY(ChangeLoad(change, load)); // Start All is then refused: no device is touched
    station.manager->StartAll();
    if (!beforeRun) {
        QTRY_VERIFY_WITH_TIMEOUT(station.recorder.Records().size() >= 8, 30000);
        QVERIFY(ChangeLoad(change, load));
    }

    // Without a look at the images the line would go on for ever, flashing or failing every next device.
    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 30000);
    QVERIFY2(station.manager->GetLoadChangedReason().contains(QRegularExpression(named)),
             qPrintable(station.manager->GetLoadChangedReason()));
    QCOMPARE(station.frontEnd.prompts.filter(QStringLiteral("Warning|Load Changed|")).size(), 1);
    const QHash<QString, QStringList> received = ReceivedByUnit(ledger);
    const QString checked = load.checksums.value(QStringLiteral("system.img"));
    int ok = 0;
    for (const AttemptRecord& record : station.recorder.Records()) {
        QVERIFY(!record.quarantined);
        if (record.result == QLatin1String("OK")) {
            ++ok;
            QVERIFY(!record.socid.isEmpty());
            const QStringList images = received.value(record.socid.toLower());
            QVERIFY2(!images.isEmpty() && images.count(checked) == images.size(), qPrintable(images.join(' ')));
        } else {
            // No device is blamed for the load: a device being written when the image changed fails as such.
            QCOMPARE(record.failureKind, FailureKind::LoadChanged);
        }
    }
    QVERIFY(beforeRun ? ok == 0 : ok >= 8);
}

void CheckedLoadTest::aStagedRunGoesOnWhenItsSourceGoesAway()
{
    const simtest::SampleLoad load = WriteStationLoad(QDir::current().absoluteFilePath("staged-source"), 64 * 1024);
    const QString staging = QDir::current().absoluteFilePath("staged-loads");
    QVERIFY(ConfigureFarm("staged.ini", "[Farm]\nTimeScale=0.002\nLinkMBps=0\n"));
    RecordingStation station;
    station.manager->SetStageLoad(true);
    station.manager->SetStagingFolder(staging);
    StartFourRows(station, load.flashXmlPath, 5);
    QCOMPARE(station.manager->VerifyChecksum(), 0);
    QVERIFY(station.manager->GetStagedLoad().has_value());
    const StagedLoad staged = *station.manager->GetStagedLoad();
    QCOMPARE(QFileInfo(staged.folder).absolutePath(), staging);
    for (const QString& file : {staged.flashXml, staged.scatter, staged.folder + QStringLiteral("/system.img")})
        QVERIFY2(QFileInfo(file).isFile() && !(QFileInfo(file).permissions() & QFileDevice::WriteOwner), qPrintable(file));
    station.manager->StartAll();
    QTRY_VERIFY_WITH_TIMEOUT(station.recorder.Records().size() >= 2, 30000);
    QVERIFY(QDir(load.folder).removeRecursively());

    QTRY_VERIFY_WITH_TIMEOUT(station.Idle(), 60000);
    const std::vector<AttemptRecord> records = station.recorder.Records();
    QCOMPARE(int(records.size()), 20);
    for (const AttemptRecord& record : records) {
        QCOMPARE(record.result, QStringLiteral("OK"));
        QCOMPARE(record.flashXml, load.flashXmlPath);
        QCOMPARE(record.stagedFlashXml, staged.flashXml);
        QCOMPARE(record.loadDigest, staged.digest);
        QCOMPARE(record.verifiedImages, 2);
    }
    QVERIFY(station.manager->GetLoadChangedReason().isEmpty());
    // Told once, whenever the source's watch saw it.
    QTRY_COMPARE_WITH_TIMEOUT(station.frontEnd.prompts.filter(QStringLiteral("Warning|Load Source Changed|")).size(), 1,
                              10000);
}

void CheckedLoadTest::stagingKeepsTheLastThreeLoadsAndFlashesOnlyStagedOnes()
{
    const QString staging = QDir::current().absoluteFilePath("kept-loads");
    QDir(staging).removeRecursively();
    RecordingStation station;
    station.manager->SetStageLoad(true);
    station.manager->SetStagingFolder(staging);
    QStringList digests;
    for (int i = 0; i < 4; ++i) {
        const simtest::SampleLoad load = WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("kept-%1").arg(i)));
        station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;
        QCOMPARE(station.manager->VerifyChecksum(), 0);
        QVERIFY(!station.manager->GetStagedLoad()->reused);
        digests << station.manager->GetStagedLoad()->digest;
    }
    QStringList kept = QDir(staging).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    kept.sort();
    QStringList newest = digests.mid(1);
    newest.sort();
    QCOMPARE(kept, newest);
    // The same load checked again finds its copy.
    QCOMPARE(station.manager->VerifyChecksum(), 0);
    QVERIFY(station.manager->GetStagedLoad()->reused);

    // A load that was not checked, and so not staged, is never flashed from its source.
    const simtest::SampleLoad unstaged = WriteStationLoad(QDir::current().absoluteFilePath("kept-unstaged"));
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = unstaged.flashXmlPath;
    station.frontEnd.rowSelected[0] = true;
    station.manager->Start(0);
    QVERIFY(station.Idle());
    QVERIFY(station.recorder.Records().empty());
    QCOMPARE(station.frontEnd.prompts.filter(QStringLiteral("Critical|Start|")).size(), 1);
}

QTEST_GUILESS_MAIN(CheckedLoadTest)

#include "tst_CheckedLoad.moc"
