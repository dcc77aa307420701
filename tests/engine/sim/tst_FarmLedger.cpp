// The farm's ledger and its seeded faults: the independent truth a soak run is checked against.
#include "SimTestSupport.h"

#include "quillon.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace simtest;

namespace {

QList<QJsonObject> ReadLedger(const QString& path)
{
    QList<QJsonObject> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            lines << QJsonDocument::fromJson(line).object();
    }
    return lines;
}

QStringList Events(const QList<QJsonObject>& lines)
{
    QStringList events;
    for (const QJsonObject& line : lines) {
        QString text = line.value(QStringLiteral("event")).toString();
        for (const char* detail :
             {"stage", "command", "result", "reason", "fault", "whole", "checksumMatches", "failed"}) {
            const QJsonValue value = line.value(QLatin1String(detail));
            if (!value.isUndefined())
                text += QLatin1Char(' ') + (value.isBool() ? QLatin1String(value.toBool() ? "true" : "false")
                                                           : value.toString());
        }
        events << text;
    }
    return events;
}

QList<QJsonObject> OfEvent(const QList<QJsonObject>& lines, const QString& event)
{
    QList<QJsonObject> found;
    for (const QJsonObject& line : lines) {
        if (line.value(QStringLiteral("event")).toString() == event)
            found << line;
    }
    return found;
}

QString LedgerFarm(const QString& ledger, const QString& farmKeys, const QString& portKeys = QString(),
                   int ports = 1)
{
    QFile::remove(ledger);
    return WriteFarm(QStringLiteral("ledger.ini"),
                     QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\nPorts=%4\nSwapMs=0\nLedger=%1\n%2\n"
                                    "[Port-COM3]\n%3\n")
                         .arg(ledger, farmKeys, portKeys)
                         .arg(ports));
}

int Run(QuillonSession* session, const QByteArray& document)
{
    return quillon_execute_command(session, document.constData(), nullptr);
}

// One session on the port's device: connect, DA mode, download, and a reboot when asked; unit, when given,
// gets the socid the device answers with.
void FlashOnce(const SampleLoad& load, bool reboot, const QString& port = QStringLiteral("COM3"),
               QString* unit = nullptr)
{
    QString error;
    QuillonSession* session = OpenDaSession(QStringLiteral("COM://") + port, load, error);
    if (session == nullptr)
        return;
    if (unit != nullptr)
        *unit = FirmwareId(session, QStringLiteral("socid"));
    if (Run(session, Command(QStringLiteral("CMD:FLASH-ALL"), {{"source_file", load.scatterPath}})) ==
            QUILLON_OK &&
        reboot)
        Run(session, Command(QStringLiteral("CMD:REBOOT"), {{"action", "IMMEDIATE"}}));
    quillon_destroy_session(session);
}

QStringList Faults(const QString& ledger, int seed, const QString& rate)
{
    QFile::remove(ledger);
    Restart(WriteFarm(QStringLiteral("seeded.ini"),
                      QStringLiteral("[Farm]\nTimeScale=0\nPorts=64\nArrivalMs=0\nArrivalStepMs=0\n"
                                     "Ledger=%1\nFaultRate=%2\nFaultSeed=%3\n")
                          .arg(ledger, rate)
                          .arg(seed)));
    QByteArray description;
    Scan(QStringLiteral("COM://COM66"), description, 10000); // every port's first device has arrived by then
    quillon_cleanup();
    QStringList faults;
    for (const QJsonObject& arrival : OfEvent(ReadLedger(ledger), QStringLiteral("arrival")))
        faults << arrival.value(QStringLiteral("fault")).toString();
    return faults;
}

// Each device of both ports through one session that ends it (rebooted, dropped, or swapped after its
// failure), one port after the other, so every run numbers the devices alike: port -> faults in order.
QHash<QString, QStringList> FaultsByPort(const SampleLoad& load, const QString& ledger,
                                         const QString& portKeys)
{
    constexpr int kDevices = 30;
    Restart(LedgerFarm(ledger,
                       QStringLiteral("DevicesPerPort=%1\nSwapFailedAfter=1\nAnswerTimeoutMs=1\n"
                                      "FaultRate=0.1\nFaultSeed=7")
                           .arg(kDevices),
                       portKeys, 2));
    for (const QString& port : {QStringLiteral("COM3"), QStringLiteral("COM4")}) {
        for (int device = 0; device < kDevices; ++device)
            FlashOnce(load, true, port);
    }
    quillon_cleanup();
    QHash<QString, QStringList> faults;
    for (const QJsonObject& arrival : OfEvent(ReadLedger(ledger), QStringLiteral("arrival")))
        faults[arrival.value(QStringLiteral("port")).toString()]
            << arrival.value(QStringLiteral("fault")).toString();
    return faults;
}

} // namespace

class FarmLedgerTest : public QObject
{
    Q_OBJECT

private:
    SampleLoad load;
    QString ledger;

private Q_SLOTS:
    void initTestCase();
    void cleanup() { quillon_cleanup(); }
    void aGoodDeviceIsWrittenWholeAndRebooted();
    void everyLineCarriesTheCallersWallClock();
    void deviceNumbersContinueAcrossRestarts();
    void aCorruptImageIsNotedAgainstTheLoadsList();
    void aDropLeavesTheImageIncomplete();
    void aDeviceIsTakenAwayAfterItsFailedSessions();
    void aStopIsNotAFailedSession();
    void theSeedReplaysTheSameFaults();
    void aPortsOwnFaultRateLeavesTheOthersAlone_data();
    void aPortsOwnFaultRateLeavesTheOthersAlone();
    void aLedgerInAMissingFolderIsRefused();
};

void FarmLedgerTest::initTestCase()
{
    load = WriteLoad(QStringLiteral("load"),
                     {{"preloader", "preloader.bin", 70000}, {"system", "system.img", 2 * 1024 * 1024 + 3}});
    ledger = QDir::current().absoluteFilePath(QStringLiteral("farm-ledger.jsonl"));
}

void FarmLedgerTest::aGoodDeviceIsWrittenWholeAndRebooted()
{
    QVERIFY(Restart(LedgerFarm(ledger, QString())));
    FlashOnce(load, true);
    quillon_cleanup();
    QCOMPARE(Events(ReadLedger(ledger)),
             (QStringList{"start", "arrival none", "session", "stage connect ok", "stage enter ok",
                          "image true true", "image true true", "command CMD:FLASH-ALL ok",
                          "command CMD:REBOOT ok", "release false", "departure rebooted", "stop"}));
    const QList<QJsonObject> images = OfEvent(ReadLedger(ledger), QStringLiteral("image"));
    QCOMPARE(images[1].value(QStringLiteral("checksum")).toString(),
             load.checksums.value(QStringLiteral("system.img")));
}

void FarmLedgerTest::everyLineCarriesTheCallersWallClock()
{
    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    QVERIFY(Restart(LedgerFarm(ledger, QString())));
    FlashOnce(load, true);
    quillon_cleanup();
    const QDateTime after = QDateTime::currentDateTimeUtc().addMSecs(1);
    QDateTime previous = before;
    for (const QJsonObject& line : ReadLedger(ledger)) {
        const QString text = line.value(QStringLiteral("time")).toString();
        QVERIFY2(text.endsWith(QLatin1Char('Z')) && text.size() == 24, qPrintable(text));
        const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
        QVERIFY(time >= previous && time <= after);
        previous = time;
    }
}

void FarmLedgerTest::deviceNumbersContinueAcrossRestarts()
{
    QVERIFY(Restart(LedgerFarm(ledger, QString())));
    QStringList units{QString(), QString(), QString()};
    FlashOnce(load, true, QStringLiteral("COM3"), &units[0]);
    FlashOnce(load, true, QStringLiteral("COM3"), &units[1]);
    // An abrupt end can leave half a line behind; the count must still continue after the last whole one.
    quillon_cleanup();
    QFile cut(ledger);
    QVERIFY(cut.open(QIODevice::Append));
    cut.write("{\"event\":\"arrival\",\"device\":9");
    cut.close();
    QVERIFY(Restart(QStringLiteral("ledger.ini")));
    FlashOnce(load, true, QStringLiteral("COM3"), &units[2]);
    quillon_cleanup();
    QList<double> numbers;
    QStringList socids;
    for (const QJsonObject& arrival : OfEvent(ReadLedger(ledger), QStringLiteral("arrival"))) {
        numbers << arrival.value(QStringLiteral("device")).toDouble();
        socids << arrival.value(QStringLiteral("socid")).toString();
    }
    QCOMPARE(numbers, (QList<double>{1, 2, 3}));
    // Each arrival names the unit its device answers with; the third is again its port's first device after
    // the restart, and still a unit of its own.
    QCOMPARE(socids, units);
    QCOMPARE(QSet<QString>(units.begin(), units.end()).size(), 3);
    QCOMPARE(OfEvent(ReadLedger(ledger), QStringLiteral("start")).size(), 2);
}

void FarmLedgerTest::aCorruptImageIsNotedAgainstTheLoadsList()
{
    QVERIFY(Restart(LedgerFarm(ledger, QString(), QStringLiteral("CorruptImage=system.img"))));
    FlashOnce(load, false);
    quillon_cleanup();
    QCOMPARE(Events(ReadLedger(ledger)).mid(5, 4), (QStringList{"image true true", "image true false",
                                                                "command CMD:FLASH-ALL ok", "release true"}));
}

void FarmLedgerTest::aDropLeavesTheImageIncomplete()
{
    QVERIFY(Restart(LedgerFarm(ledger, QString(), QStringLiteral("Fail=transfer:50"))));
    FlashOnce(load, true);
    quillon_cleanup();
    // The device is gone before its session ends, so no release follows.
    QCOMPARE(Events(ReadLedger(ledger)).mid(5),
             (QStringList{"image true true", "departure dropped", "image false false",
                          "command CMD:FLASH-ALL failed", "stop"}));
}

void FarmLedgerTest::aDeviceIsTakenAwayAfterItsFailedSessions()
{
    QVERIFY(Restart(LedgerFarm(ledger, QStringLiteral("SwapFailedAfter=2"),
                               QStringLiteral("Fail=command:CMD:FLASH-ALL"))));
    for (int attempt = 0; attempt < 3; ++attempt)
        FlashOnce(load, true);
    quillon_cleanup();
    QStringList departures;
    for (const QJsonObject& line : OfEvent(ReadLedger(ledger), QStringLiteral("departure")))
        departures << QStringLiteral("%1 %2")
                          .arg(line.value(QStringLiteral("device")).toDouble())
                          .arg(line.value(QStringLiteral("reason")).toString());
    QCOMPARE(departures, QStringList{"1 swapped"});
    QCOMPARE(OfEvent(ReadLedger(ledger), QStringLiteral("arrival")).size(), 2);
}

void FarmLedgerTest::aStopIsNotAFailedSession()
{
    QVERIFY(Restart(LedgerFarm(ledger, QStringLiteral("SwapFailedAfter=1\nAnswerTimeoutMs=60000"),
                               QStringLiteral("Hang=connect"))));
    StopFlag stop;
    stop.stop = true;
    const OperationCallbacks callbacks = stop.OperationRecord();
    QString error;
    QVERIFY(OpenDaSession(QStringLiteral("COM://COM3"), load, error, &callbacks) == nullptr);
    quillon_cleanup();
    QCOMPARE(
        Events(ReadLedger(ledger)).mid(1),
        (QStringList{"arrival hang:connect", "session", "stage connect cancelled", "release false", "stop"}));
}

void FarmLedgerTest::theSeedReplaysTheSameFaults()
{
    const QString seeded = QDir::current().absoluteFilePath(QStringLiteral("seeded.jsonl"));
    const QStringList first = Faults(seeded, 7, QStringLiteral("0.5"));
    QCOMPARE(first.size(), 64);
    QCOMPARE(Faults(seeded, 7, QStringLiteral("0.5")), first);
    QVERIFY(Faults(seeded, 8, QStringLiteral("0.5")) != first);
    const int good = first.count(QStringLiteral("none"));
    QVERIFY2(good > 16 && good < 48, qPrintable(QString::number(good)));
    QSet<QString> kinds;
    for (const QString& fault : first)
        kinds.insert(fault.section(QLatin1Char(':'), 0, 0));
    QCOMPARE(kinds, (QSet<QString>{"none", "connect", "enter", "command", "transfer", "hang", "corrupt"}));
    QCOMPARE(Faults(seeded, 7, QStringLiteral("0")).count(QStringLiteral("none")), 64);
}

void FarmLedgerTest::aPortsOwnFaultRateLeavesTheOthersAlone_data()
{
    // Faulty devices of COM3's thirty: about its own rate; COM4 keeps the farm's 0.1 with seed 7.
    QTest::addColumn<QString>("portKeys");
    QTest::addColumn<int>("least");
    QTest::addColumn<int>("most");
    QTest::addColumn<QString>("otherFaultsThan"); // port keys whose run gives COM3 other faults
    QTest::newRow("a weak port") << "FaultRate=0.6" << 12 << 24 << "";
    QTest::newRow("a weak port with its own seed")
        << "FaultRate=0.6\nFaultSeed=8" << 12 << 24 << "FaultRate=0.6";
    QTest::newRow("a healthy port") << "FaultRate=0" << 0 << 0 << "";
    QTest::newRow("a broken port") << "FaultRate=1" << 30 << 30 << "";
}

void FarmLedgerTest::aPortsOwnFaultRateLeavesTheOthersAlone()
{
    QFETCH(QString, portKeys);
    QFETCH(int, least);
    QFETCH(int, most);
    QFETCH(QString, otherFaultsThan);
    const QString seeded = QDir::current().absoluteFilePath(QStringLiteral("ports.jsonl"));
    const QHash<QString, QStringList> farmOnly = FaultsByPort(load, seeded, QString());
    const QHash<QString, QStringList> faults = FaultsByPort(load, seeded, portKeys);
    QCOMPARE(faults.value(QStringLiteral("COM3")).size(), 30);
    const int faulty = 30 - faults.value(QStringLiteral("COM3")).count(QStringLiteral("none"));
    QVERIFY2(faulty >= least && faulty <= most, qPrintable(QString::number(faulty)));
    QCOMPARE(faults.value(QStringLiteral("COM4")), farmOnly.value(QStringLiteral("COM4")));
    QCOMPARE(FaultsByPort(load, seeded, portKeys), faults);
    if (!otherFaultsThan.isEmpty())
        QVERIFY(FaultsByPort(load, seeded, otherFaultsThan).value(QStringLiteral("COM3")) !=
                faults.value(QStringLiteral("COM3")));
}

void FarmLedgerTest::aLedgerInAMissingFolderIsRefused()
{
    QString error;
    QVERIFY(!Restart(
        WriteFarm(QStringLiteral("bad.ini"), QStringLiteral("[Farm]\nLedger=/no/such/folder/ledger.jsonl\n")),
        &error));
    QVERIFY2(error.contains(QStringLiteral("Ledger")) && error.contains(QStringLiteral("/no/such/folder")),
             qPrintable(error));
}

QTEST_GUILESS_MAIN(FarmLedgerTest)
#include "tst_FarmLedger.moc"
