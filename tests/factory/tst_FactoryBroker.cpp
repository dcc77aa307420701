// The headless station publishing to a real broker: every attempt's messages arrive, in order, whatever the
// broker and the tool go through, and a broker that is wrong or away never costs the station a record.
#include "PortTestSupport.h"
#include "TestBroker.h"
#include "BrokerReader.h"
#include "TestFiles.h"
#include "factory/CfxMessage.h"
#include "factory/FactoryLink.h"
#include "factory/FactoryOutbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QDirIterator>
#include <QtTest>

#include <memory>

namespace {

QString Cli() { return QCoreApplication::applicationDirPath() + QStringLiteral("/praxilo-cli"); }

struct Envelope
{
    QJsonObject json;
    QString Name() const { return json.value("MessageName").toString(); }
    QJsonObject Body() const { return json.value("MessageBody").toObject(); }
    QString Transaction() const { return Body().value("TransactionID").toString(); }
    // The unit's position is its row; WorkCompleted has no lane of its own.
    int Row() const { return Body().value("Units").toArray().at(0).toObject().value("PositionNumber").toInt(); }
};

// A transfer holds one envelope, or an array of them when the station sent a backlog.
QList<Envelope> Envelopes(const std::vector<ReceivedMessage>& messages)
{
    QList<Envelope> envelopes;
    for (const ReceivedMessage& message : messages) {
        const QJsonDocument document = QJsonDocument::fromJson(message.body);
        if (document.isArray()) {
            for (const QJsonValue& value : document.array())
                envelopes << Envelope{value.toObject()};
        } else {
            envelopes << Envelope{document.object()};
        }
    }
    return envelopes;
}

// First occurrences only: a message sent again after a lost connection keeps its UniqueID.
QList<Envelope> Unique(const QList<Envelope>& envelopes)
{
    QList<Envelope> unique;
    QSet<QString> seen;
    for (const Envelope& envelope : envelopes) {
        const QString id = envelope.json.value("UniqueID").toString();
        if (!seen.contains(id)) {
            seen.insert(id);
            unique << envelope;
        }
    }
    return unique;
}

QList<QJsonObject> Records(const QString& folder)
{
    QList<QJsonObject> records;
    for (const QFileInfo& file : QDir(folder).entryInfoList({QStringLiteral("station-*.jsonl")}, QDir::Files)) {
        QFile lines(file.absoluteFilePath());
        if (!lines.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : lines.readAll().split('\n')) {
            if (!line.trimmed().isEmpty())
                records << QJsonDocument::fromJson(line).object();
        }
    }
    return records;
}

// Per row, each attempt's WorkStarted then its WorkCompleted, in the order of the row's records.
void CheckRowsAgainstRecords(const QList<Envelope>& envelopes, const QList<QJsonObject>& records)
{
    QMap<int, QList<Envelope>> perRow;
    for (const Envelope& envelope : envelopes) {
        if (envelope.Name().startsWith(QLatin1String("CFX.Production.")))
            perRow[envelope.Row()] << envelope;
    }
    QMap<int, QList<QJsonObject>> recordsPerRow;
    for (const QJsonObject& record : records)
        recordsPerRow[record.value("row").toInt()] << record;
    QVERIFY2(perRow.keys() == recordsPerRow.keys(), qPrintable(QStringLiteral("%1 rows published, %2 recorded, first %3")
                                                                     .arg(perRow.size()).arg(recordsPerRow.size())
                                                                     .arg(perRow.firstKey())));
    static const QMap<QString, QString> kResults{
        {QStringLiteral("OK"), QStringLiteral("Completed")}, {QStringLiteral("FAIL"), QStringLiteral("Failed")},
        {QStringLiteral("CANL"), QStringLiteral("Aborted")}};
    QSet<QString> transactions;
    for (auto row = perRow.constBegin(); row != perRow.constEnd(); ++row) {
        const QList<Envelope>& messages = row.value();
        const QList<QJsonObject>& rowRecords = recordsPerRow.value(row.key());
        QCOMPARE(messages.size(), 2 * rowRecords.size());
        for (int i = 0; i < rowRecords.size(); ++i) {
            const Envelope& started = messages[2 * i];
            const Envelope& completed = messages[2 * i + 1];
            QCOMPARE(started.Name(), QStringLiteral("CFX.Production.WorkStarted"));
            QCOMPARE(completed.Name(), QStringLiteral("CFX.Production.WorkCompleted"));
            QCOMPARE(completed.Transaction(), started.Transaction());
            QVERIFY(!transactions.contains(started.Transaction()));
            transactions.insert(started.Transaction());
            QCOMPARE(completed.Body().value("Result").toString(), kResults.value(rowRecords[i].value("result").toString()));
            // Without a device id the unit is named by station, row and the attempt's start.
            QVERIFY2(started.Body().value("PrimaryIdentifier").toString().endsWith(rowRecords[i].value("start").toString()),
                     qPrintable(started.Body().value("PrimaryIdentifier").toString()));
        }
    }
}

int64_t OutboxCount(const QString& recordFolder)
{
    int64_t count = -1;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("outbox-count"));
        database.setDatabaseName(recordFolder + QStringLiteral("/station.db"));
        if (database.open()) {
            QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM outbox"), database);
            if (query.next())
                count = query.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("outbox-count"));
    return count;
}

// What the runs logged about a broker they could not use; every level writes the same tag, so the lines
// are told by their text.
QStringList BrokerErrors(const QString& logs)
{
    QStringList lines;
    QDirIterator files(logs, {QStringLiteral("*.log")}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            if (line.contains(QLatin1String("No factory messages")) ||
                (line.contains(QLatin1String("Factory broker")) &&
                 (line.contains(QLatin1String("not reachable")) || line.contains(QLatin1String(" lost: ")))))
                lines << line;
        }
    }
    return lines;
}

} // namespace

class FactoryBrokerTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBroker> broker;
    simtest::SampleLoad load;

    QString Settings(const QString& name, const QString& queue, const QByteArray& extra = QByteArray());
    void Start(QProcess& process, const QString& name, const QString& farm, const QStringList& arguments);
    std::vector<ReceivedMessage> ReadAll(const QString& queue);

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void sixteenRowsFiveDevicesPublishEveryAttempt();
    void aBrokerRestartMidRunLosesNothing();
    void messagesOfAKilledToolArriveAfterTheNextStart();
    void messagesQueuedWhileTheBrokerIsAwaySurviveADamagedDatabase_data();
    void messagesQueuedWhileTheBrokerIsAwaySurviveADamagedDatabase();
    void aConnectedLinkBeatsAndDrainsInOrder();
    void aMalformedBrokerIsSaidOnceAndIgnored();
    void refusedCredentialsAreSaidOnceWhileThePortsGoOn();
};

void FactoryBrokerTest::initTestCase()
{
    load = PortTestSupport::WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("load")));
    simtest::WriteFarm(QStringLiteral("fast.ini"), QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\nArrivalMs=0\nArrivalStepMs=0\nSwapMs=0\n"));
    // Slow enough that the broker can be stopped and started again while ports still flash.
    simtest::WriteFarm(QStringLiteral("steady.ini"),
                       QStringLiteral("[Farm]\nTimeScale=0.1\nLinkMBps=0\nArrivalMs=0\nArrivalStepMs=0\nSwapMs=0\n"));
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("broker"));
    QDir(folder).removeRecursively();
    broker.reset(new TestBroker(folder));
    QVERIFY2(broker->Start(), qPrintable(broker->Failure()));
}

void FactoryBrokerTest::cleanupTestCase() { broker.reset(); }

// Also clears what an earlier run of the test left under that name.
QString FactoryBrokerTest::Settings(const QString& name, const QString& queue, const QByteArray& extra)
{
    QDir(QDir::current().absoluteFilePath(name + QStringLiteral("-record"))).removeRecursively();
    QDir(QDir::current().absoluteFilePath(name + QStringLiteral("-logs"))).removeRecursively();
    const QString path = QDir::current().absoluteFilePath(name + QStringLiteral(".ini"));
    TestFiles::WriteFile(path, "[DownloadSetting]\nAutoPollingEnabled=false\n[Factory]\nAddress=/queue/" + queue.toUtf8() +
                                   "\nEndpointHandle=Test.Station\n" + extra);
    return path;
}

// Each run gets its own record folder and log folder, named after it.
void FactoryBrokerTest::Start(QProcess& process, const QString& name, const QString& farm, const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUILLON_FARM"), QDir::current().absoluteFilePath(farm));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), QDir::current().absoluteFilePath(name + QStringLiteral("-logs")));
    process.setProcessEnvironment(environment);
    process.setProgram(Cli());
    process.setArguments(QStringList{QStringLiteral("--flash-xml"), load.flashXmlPath, QStringLiteral("--scene"),
                                     QStringLiteral("format-download"), QStringLiteral("--checksum-level"), QStringLiteral("2"),
                                     QStringLiteral("--record"), QDir::current().absoluteFilePath(name + QStringLiteral("-record")),
                                     QStringLiteral("--json")} +
                         arguments);
    process.start();
}

std::vector<ReceivedMessage> FactoryBrokerTest::ReadAll(const QString& queue)
{
    const qint64 depth = broker->QueueDepth(queue);
    if (depth <= 0)
        return {};
    BrokerReader reader;
    return reader.Read(broker->Url(), QStringLiteral("/queue/") + queue, int(depth), 60000);
}

void FactoryBrokerTest::sixteenRowsFiveDevicesPublishEveryAttempt()
{
    const QString name = QStringLiteral("sixteen");
    QProcess cli;
    Start(cli, name, QStringLiteral("fast.ini"),
          {QStringLiteral("--settings"), Settings(name, name), QStringLiteral("--auto-polling"), QStringLiteral("--devices"),
           QStringLiteral("5"), QStringLiteral("--broker"), broker->Url()});
    QVERIFY(cli.waitForFinished(120000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(OutboxCount(name + QStringLiteral("-record")), int64_t(0));

    const std::vector<ReceivedMessage> messages = ReadAll(name);
    QVERIFY(!messages.empty());
    for (const ReceivedMessage& message : messages) {
        QVERIFY(message.dataSection);
        QVERIFY(message.durable);
        QCOMPARE(message.contentType, QStringLiteral("application/json; charset=\"utf-8\""));
        QCOMPARE(message.properties.value("cfx-handle").toString(), QStringLiteral("Test.Station"));
    }
    const QList<Envelope> envelopes = Envelopes(messages);
    // The transfer's id and properties describe its first envelope.
    QCOMPARE(messages.front().messageId, envelopes.front().json.value("UniqueID").toString());
    QCOMPARE(messages.front().properties.value("cfx-message").toString(), envelopes.front().Name());

    QMap<QString, int> names;
    for (const Envelope& envelope : envelopes)
        ++names[envelope.Name()];
    QCOMPARE(names.value("CFX.Production.WorkStarted"), 80);
    QCOMPARE(names.value("CFX.Production.WorkCompleted"), 80);
    QCOMPARE(names.value("CFX.ResourcePerformance.FaultOccurred"), 0);
    QCOMPARE(names.value("CFX.ResourcePerformance.StationStateChanged"), 2);
    QCOMPARE(envelopes.size(), 162);
    QCOMPARE(Unique(envelopes).size(), 162);
    QCOMPARE(envelopes.front().Body().value("NewState").toString(), QStringLiteral("1100"));
    QCOMPARE(envelopes.back().Body().value("NewState").toString(), QStringLiteral("6500"));
    CheckRowsAgainstRecords(envelopes, Records(name + QStringLiteral("-record")));
}

void FactoryBrokerTest::aBrokerRestartMidRunLosesNothing()
{
    const QString name = QStringLiteral("restart");
    QProcess cli;
    Start(cli, name, QStringLiteral("steady.ini"),
          {QStringLiteral("--settings"), Settings(name, name), QStringLiteral("--auto-polling"), QStringLiteral("--devices"),
           QStringLiteral("20"), QStringLiteral("--broker"), broker->Url()});
    const QString records = name + QStringLiteral("-record");
    QTRY_VERIFY_WITH_TIMEOUT(Records(records).size() >= 32, 120000);
    QVERIFY2(broker->Stop(), qPrintable(broker->Failure()));
    const int atStop = Records(records).size();
    // The ports go on while the broker is away.
    QTRY_VERIFY_WITH_TIMEOUT(Records(records).size() >= atStop + 32 || cli.state() != QProcess::Running, 120000);
    QVERIFY2(broker->Start(), qPrintable(broker->Failure()));
    QVERIFY(cli.waitForFinished(180000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(Records(records).size(), 320);
    // Whatever the run could not hand over before it ended (it may end before the broker is back, or while
    // its link waits to try again) goes with the next start.
    QProcess next;
    Start(next, name, QStringLiteral("fast.ini"),
          {QStringLiteral("--settings"), QDir::current().absoluteFilePath(name + QStringLiteral(".ini")),
           QStringLiteral("--ports"), QStringLiteral("1"), QStringLiteral("--broker"), broker->Url()});
    QVERIFY(next.waitForFinished(120000));
    QCOMPARE(next.exitCode(), 0);
    QCOMPARE(OutboxCount(records), int64_t(0));

    const QList<Envelope> envelopes = Unique(Envelopes(ReadAll(name)));
    QCOMPARE(envelopes.size(), 4 + 2 * 321);
    CheckRowsAgainstRecords(envelopes, Records(records));
    // The station's own start and stop frame everything else, whatever the broker went through.
    QCOMPARE(envelopes.front().Body().value("NewState").toString(), QStringLiteral("1100"));
    QCOMPARE(envelopes.back().Body().value("NewState").toString(), QStringLiteral("6500"));
    QVERIFY(BrokerErrors(name + QStringLiteral("-logs")).size() >= 1);
}

void FactoryBrokerTest::messagesOfAKilledToolArriveAfterTheNextStart()
{
    const QString name = QStringLiteral("killed");
    const QString records = name + QStringLiteral("-record");
    const QString settings = Settings(name, name);
    QVERIFY2(broker->Stop(), qPrintable(broker->Failure()));
    QProcess first;
    Start(first, name, QStringLiteral("steady.ini"),
          {QStringLiteral("--settings"), settings, QStringLiteral("--auto-polling"), QStringLiteral("--devices"),
           QStringLiteral("20"), QStringLiteral("--broker"), broker->Url()});
    QTRY_VERIFY_WITH_TIMEOUT(Records(records).size() >= 16, 120000);
    first.kill();
    QVERIFY(first.waitForFinished(30000));
    const QList<QJsonObject> before = Records(records);
    QVERIFY(OutboxCount(records) >= 2 * before.size());

    QVERIFY2(broker->Start(), qPrintable(broker->Failure()));
    QProcess second;
    Start(second, name, QStringLiteral("fast.ini"),
          {QStringLiteral("--settings"), settings, QStringLiteral("--ports"), QStringLiteral("1"), QStringLiteral("--broker"),
           broker->Url()});
    QVERIFY(second.waitForFinished(120000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(OutboxCount(records), int64_t(0));

    const QList<Envelope> envelopes = Unique(Envelopes(ReadAll(name)));
    QSet<QString> completed;
    for (const Envelope& envelope : envelopes) {
        if (envelope.Name() == QLatin1String("CFX.Production.WorkCompleted"))
            completed.insert(envelope.Transaction());
    }
    // The killed tool's records, those it had committed and not yet filed, the attempts it left open (closed
    // as interrupted, never OK) and the next run's one: each has exactly its WorkCompleted, and no message
    // tells of an attempt the record lacks.
    const QList<QJsonObject> after = Records(records);
    QSet<QString> recorded;
    int interrupted = 0;
    for (const QJsonObject& record : after) {
        recorded.insert(record.value(QStringLiteral("attempt")).toString());
        if (record.value(QStringLiteral("failureKind")).toString() == QLatin1String("interrupted")) {
            ++interrupted;
            QCOMPARE(record.value(QStringLiteral("result")).toString(), QStringLiteral("CANL"));
        }
    }
    for (const QJsonObject& record : before)
        QVERIFY(recorded.contains(record.value(QStringLiteral("attempt")).toString()));
    QCOMPARE(recorded.size(), after.size());
    QVERIFY(after.size() >= before.size() + 1);
    QVERIFY(interrupted <= 16);
    QCOMPARE(completed, recorded);
}

void FactoryBrokerTest::messagesQueuedWhileTheBrokerIsAwaySurviveADamagedDatabase_data()
{
    QTest::addColumn<bool>("wholeFile"); // the file replaced by bytes that are no database, else 16 KiB of it
    QTest::newRow("16 KiB overwritten in place") << false;
    QTest::newRow("replaced by what is no database") << true;
}

// The rebuilt database queues again what it can no longer tell was delivered, with the ids the messages had:
// every recorded attempt reaches the factory, its repeats recognisable by id.
void FactoryBrokerTest::messagesQueuedWhileTheBrokerIsAwaySurviveADamagedDatabase()
{
    QFETCH(bool, wholeFile);
    const QString name = wholeFile ? QStringLiteral("replaced") : QStringLiteral("overwritten");
    const QString records = name + QStringLiteral("-record");
    const QString settings = Settings(name, name);
    QVERIFY2(broker->Stop(), qPrintable(broker->Failure()));
    QProcess first;
    Start(first, name, QStringLiteral("fast.ini"),
          {QStringLiteral("--settings"), settings, QStringLiteral("--auto-polling"), QStringLiteral("--devices"),
           QStringLiteral("5"), QStringLiteral("--broker"), broker->Url()});
    QVERIFY(first.waitForFinished(120000));
    QCOMPARE(first.exitCode(), 0);
    QVERIFY(OutboxCount(records) >= 160);
    {
        QFile file(records + QStringLiteral("/station.db"));
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 size = file.size();
        QVERIFY(file.seek(wholeFile ? 0 : size / 2 / 4096 * 4096));
        const qint64 length = wholeFile ? size : 16384;
        QCOMPARE(file.write(QByteArray(length, '\x5a')), length);
    }

    QVERIFY2(broker->Start(), qPrintable(broker->Failure()));
    QProcess second;
    Start(second, name, QStringLiteral("fast.ini"),
          {QStringLiteral("--settings"), settings, QStringLiteral("--ports"), QStringLiteral("1"), QStringLiteral("--broker"),
           broker->Url()});
    QVERIFY(second.waitForFinished(120000));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(QString::fromLocal8Bit(second.readAllStandardError()).contains(QStringLiteral("moved aside to")));
    QCOMPARE(OutboxCount(records), int64_t(0));

    QMap<QString, QStringList> told; // per transaction, the names of its messages, repeats dropped by id
    for (const Envelope& envelope : Unique(Envelopes(ReadAll(name)))) {
        if (envelope.Name().startsWith(QLatin1String("CFX.Production.")))
            told[envelope.Transaction()] << envelope.Name();
    }
    const QList<QJsonObject> recorded = Records(records);
    QCOMPARE(recorded.size(), 81);
    for (const QJsonObject& record : recorded) {
        QStringList names = told.value(record.value(QStringLiteral("attempt")).toString());
        names.sort();
        QCOMPARE(names,
                 (QStringList{QStringLiteral("CFX.Production.WorkCompleted"), QStringLiteral("CFX.Production.WorkStarted")}));
    }
    QCOMPARE(told.size(), recorded.size());
}

// The link alone, without a station: a backlog leaves in order, and a connected link beats.
void FactoryBrokerTest::aConnectedLinkBeatsAndDrainsInOrder()
{
    const QString database = QDir::current().absoluteFilePath(QStringLiteral("link/station.db"));
    QFile::remove(database);
    FactoryOutbox outbox(database);
    CfxMessageBuilder builder(QStringLiteral("Test.Link"));
    QStringList ids;
    for (int i = 0; i < 75; ++i) {
        const CfxMessage message =
            builder.WorkStarted(CfxMessageBuilder::NewId(), 1 + i % 16, QString::number(i), QDateTime::currentDateTimeUtc());
        ids << message.uniqueId;
        QString error;
        QVERIFY2(outbox.Append(message, error), qPrintable(error));
    }
    FactoryEndpoint endpoint;
    endpoint.broker = broker->Url();
    endpoint.address = QStringLiteral("/queue/link");
    endpoint.handle = QStringLiteral("Test.Link");
    endpoint.heartbeatSeconds = 1;
    {
        FactoryLink link(endpoint, outbox);
        QTRY_VERIFY_WITH_TIMEOUT(link.Connected(), 60000);
        QVERIFY(link.Drain(60000));
        QCOMPARE(link.Accepted(), int64_t(75));
        QTRY_VERIFY_WITH_TIMEOUT(link.Heartbeats() >= 2, 30000);
    }
    QList<Envelope> received;
    for (const Envelope& envelope : Envelopes(ReadAll(QStringLiteral("link")))) {
        if (envelope.Name() != QLatin1String("CFX.Heartbeat"))
            received << envelope;
        else
            QCOMPARE(envelope.Body().value("CFXHandle").toString(), QStringLiteral("Test.Link"));
    }
    QStringList arrived;
    for (const Envelope& envelope : received)
        arrived << envelope.json.value("UniqueID").toString();
    QCOMPARE(arrived, ids);
}

void FactoryBrokerTest::aMalformedBrokerIsSaidOnceAndIgnored()
{
    const QString name = QStringLiteral("malformed");
    QProcess cli;
    Start(cli, name, QStringLiteral("fast.ini"),
          {QStringLiteral("--settings"), Settings(name, name), QStringLiteral("--auto-polling"), QStringLiteral("--devices"),
           QStringLiteral("3"), QStringLiteral("--broker"), QStringLiteral("amqp//no-scheme:5672")});
    QVERIFY(cli.waitForFinished(120000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(Records(name + QStringLiteral("-record")).size(), 48);
    QCOMPARE(BrokerErrors(name + QStringLiteral("-logs")).size(), 1);
    QVERIFY(QString::fromLocal8Bit(cli.readAllStandardError()).contains(QLatin1String("no factory messages this run")));
}

void FactoryBrokerTest::refusedCredentialsAreSaidOnceWhileThePortsGoOn()
{
    QVERIFY(broker->AddUser(QStringLiteral("station"), QStringLiteral("right")));
    const QString credentials = QDir::current().absoluteFilePath(QStringLiteral("wrong.credentials"));
    QVERIFY(TestFiles::WriteFile(credentials, "User=station\nPassword=wrong-secret\n"));
    QVERIFY(QFile::setPermissions(credentials, QFile::ReadOwner | QFile::WriteOwner));
    const QString name = QStringLiteral("refused");
    const QString records = name + QStringLiteral("-record");
    const QString logs = name + QStringLiteral("-logs");
    QProcess cli;
    Start(cli, name, QStringLiteral("steady.ini"),
          {QStringLiteral("--settings"), Settings(name, name, "CredentialsFile=" + credentials.toUtf8() + "\n"),
           QStringLiteral("--auto-polling"), QStringLiteral("--broker"), broker->Url()});
    QTRY_VERIFY_WITH_TIMEOUT(!BrokerErrors(logs).isEmpty(), 120000);
    const int atRefusal = Records(records).size();
    QTRY_VERIFY_WITH_TIMEOUT(Records(records).size() >= atRefusal + 32, 120000);
    cli.terminate();
    QVERIFY(cli.waitForFinished(60000));
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 130,
             cli.readAllStandardError().right(4000).constData());

    const QStringList errors = BrokerErrors(logs);
    QVERIFY2(errors.size() == 1, qPrintable(errors.join('\n')));
    QVERIFY2(errors.first().contains(QLatin1String("unauthorized"), Qt::CaseInsensitive) ||
                 errors.first().contains(QLatin1String("authentication"), Qt::CaseInsensitive),
             qPrintable(errors.first()));
    QVERIFY(!errors.first().contains(QLatin1String("wrong-secret")));
    const int64_t kept = OutboxCount(records);
    // Every attempt that found its device is kept for a broker that takes the credentials later.
    int ok = 0;
    for (const QJsonObject& record : Records(records))
        ok += record.value("result").toString() == QLatin1String("OK");
    QVERIFY(ok >= atRefusal + 16);
    QVERIFY(kept >= 2 + 2 * ok);

    // With the right password the same station hands everything over: the credentials are really used (the
    // broker would let an anonymous client in as its guest).
    QVERIFY(TestFiles::WriteFile(credentials, "User=station\nPassword=right\n"));
    QVERIFY(QFile::setPermissions(credentials, QFile::ReadOwner | QFile::WriteOwner));
    QProcess next;
    Start(next, name, QStringLiteral("fast.ini"),
          {QStringLiteral("--settings"), QDir::current().absoluteFilePath(name + QStringLiteral(".ini")),
           QStringLiteral("--ports"), QStringLiteral("1"), QStringLiteral("--broker"), broker->Url()});
    QVERIFY(next.waitForFinished(120000));
    QCOMPARE(next.exitCode(), 0);
    QCOMPARE(OutboxCount(records), int64_t(0));
    QCOMPARE(int64_t(Unique(Envelopes(ReadAll(name))).size()), kept + 4);
}

QTEST_GUILESS_MAIN(FactoryBrokerTest)
#include "tst_FactoryBroker.moc"
