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

QString LedgerFarm(const QString& ledger, const QString& farmKeys, const QString& portKeys = QString())
{
    QFile::remove(ledger);
    return WriteFarm(
        QStringLiteral("ledger.ini"),
        QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\nPorts=1\nSwapMs=0\nLedger=%1\n%2\n[Port-COM3]\n%3\n")
            .arg(ledger, farmKeys, portKeys));
}

int Run(QuillonSession* session, const QByteArray& document)
{
    return quillon_execute_command(session, document.constData(), nullptr);
}

// One session on the device of COM3: connect, DA mode, download, and a reboot when asked.
void FlashOnce(const SampleLoad& load, bool reboot)
{
    QString error;
    QuillonSession* session = OpenDaSession(QStringLiteral("COM://COM3"), load, error);
    if (session == nullptr)
        return;
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
    FlashOnce(load, true);
    FlashOnce(load, true);
    // An abrupt end can leave half a line behind; the count must still continue after the last whole one.
    quillon_cleanup();
    QFile cut(ledger);
    QVERIFY(cut.open(QIODevice::Append));
    cut.write("{\"event\":\"arrival\",\"device\":9");
    cut.close();
    QVERIFY(Restart(QStringLiteral("ledger.ini")));
    FlashOnce(load, true);
    quillon_cleanup();
    QList<double> numbers;
    for (const QJsonObject& arrival : OfEvent(ReadLedger(ledger), QStringLiteral("arrival")))
        numbers << arrival.value(QStringLiteral("device")).toDouble();
    QCOMPARE(numbers, (QList<double>{1, 2, 3}));
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
