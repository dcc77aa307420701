// The station record's two line formats: every field survives both, in the documented order, with UTC
// times to the millisecond and stage durations in order.
#include "StationRecordFiles.h"

#include "record/StationRecordFormat.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

using namespace StationRecordFiles;
using namespace StationRecordFormat;

namespace {

const StationIdentity kIdentity{QStringLiteral("st-07"), QStringLiteral("W2316.00.000 (3f2a9c1)")};

// Every text field of a record, by its field name.
QMap<QString, QString> TextFields(const StationIdentity& identity, const AttemptRecord& record)
{
    return {{"station", identity.station},
            {"toolVersion", identity.toolVersion},
            {"port", record.port},
            {"device", record.device},
            {"scene", record.scene},
            {"flashXml", record.flashXml},
            {"loadDigest", record.loadDigest},
            {"result", record.result},
            {"failedStage", record.failedStage},
            {"error", record.error},
            {"operator", record.operatorName},
            {"workOrder", record.workOrder},
            {"attempt", record.attempt}};
}

// The CSV of one record with its header, read back as named fields.
QMap<QString, QString> CsvRecord(const StationIdentity& identity, const AttemptRecord& record, QString& error)
{
    const CsvTable table = ReadCsv(CsvHeader() + CsvLine(identity, record));
    error = table.error;
    QMap<QString, QString> fields;
    if (!table.error.isEmpty() || table.rows.size() != 2 || table.rows[0].size() != table.rows[1].size()) {
        error += QStringLiteral(" (%1 rows)").arg(table.rows.size());
        return fields;
    }
    for (int i = 0; i < table.rows[0].size(); ++i)
        fields[table.rows[0][i]] = table.rows[1][i];
    return fields;
}

} // namespace

class StationRecordFormatTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fieldsComeInTheDocumentedOrder();
    void awkwardTextSurvivesBothFormats_data();
    void awkwardTextSurvivesBothFormats();
    void timesAreUtcWithMilliseconds_data();
    void timesAreUtcWithMilliseconds();
    void stagesKeepTheirOrderAndDurations();
    void numbersStayNumbers();
    void eachFailureKindIsItsWord();
    void theRecordEventCarriesTheAttemptsOwnFields();
};

void StationRecordFormatTest::fieldsComeInTheDocumentedOrder()
{
    const QStringList documented{"station",    "toolVersion", "start",       "end",           "row",
                                 "port",       "device",      "scene",       "checksumLevel", "flashXml",
                                 "loadDigest", "result",      "failedStage", "error",         "stages",
                                 "poll",       "operator",    "workOrder",   "attempt",       "failureKind",
                                 "imagesWritten", "verifiedImages", "quarantined",
                                 "unit",       "stagedFlashXml"};
    QCOMPARE(FieldNames(), documented);

    const CsvTable header = ReadCsv(CsvHeader());
    QVERIFY2(header.error.isEmpty(), qPrintable(header.error));
    QCOMPARE(header.rows.size(), 1);
    QCOMPARE(header.rows[0], documented);

    const AttemptRecord record = MakeRecord(QStringLiteral("dev-1"), QDateTime::currentDateTimeUtc());
    const CsvTable line = ReadCsv(CsvLine(kIdentity, record));
    QVERIFY2(line.error.isEmpty(), qPrintable(line.error));
    QCOMPARE(line.rows.size(), 1);
    QCOMPARE(line.rows[0].size(), documented.size());

    // QJsonObject forgets the order, so the keys are looked for in the text one after the other.
    const QByteArray json = JsonLine(kIdentity, record);
    int at = 0;
    for (const QString& name : documented) {
        const int found = json.indexOf('"' + name.toUtf8() + "\":", at);
        QVERIFY2(found > at, qPrintable(name));
        at = found;
    }
    QCOMPARE(ReadJsonLines(json).objects.value(0).keys().size(), documented.size());
}

void StationRecordFormatTest::awkwardTextSurvivesBothFormats_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("plain") << QStringLiteral("plain");
    QTest::newRow("empty") << QString();
    QTest::newRow("quotes") << QStringLiteral("say \"hi\" and \"\"twice\"\"");
    QTest::newRow("only a quote") << QStringLiteral("\"");
    QTest::newRow("commas") << QStringLiteral("a,b,,c,");
    QTest::newRow("line feed") << QStringLiteral("first\nsecond\n");
    QTest::newRow("CRLF") << QStringLiteral("first\r\nsecond");
    QTest::newRow("lone CR") << QStringLiteral("first\rsecond");
    QTest::newRow("all of them") << QStringLiteral("\"a\",\r\nb\n\"");
    QTest::newRow("non-ASCII") << QStringLiteral("Zoë, 工单 №7 – ✓ 🚀");
    QTest::newRow("spaces around") << QStringLiteral("  padded  ");
    QTest::newRow("tab and control") << QStringLiteral("a\tb\x01"
                                                       "c\x1f");
    QTest::newRow("backslashes") << QStringLiteral("C:\\loads\\new\\flash.xml \\\" \\n");
    QTest::newRow("JSON inside") << QStringLiteral("{\"result\":\"OK\"},[1]");
    QTest::newRow("CSV inside") << QStringLiteral("x\"\r\nOK,FAIL,\"");
    QTest::newRow("semicolons and equals") << QStringLiteral("scan=5;connect=7");
}

void StationRecordFormatTest::awkwardTextSurvivesBothFormats()
{
    QFETCH(QString, text);

    // Each field gets its own variant, so a value landing in the wrong column shows too.
    const auto variant = [&text](const char* field) {
        return QLatin1String(field) + QLatin1Char('|') + text;
    };
    const StationIdentity identity{variant("station"), variant("toolVersion")};
    AttemptRecord record = MakeRecord(QString(), QDateTime::currentDateTimeUtc());
    record.port = variant("port");
    record.device = variant("device");
    record.scene = variant("scene");
    record.flashXml = variant("flashXml");
    record.loadDigest = variant("loadDigest");
    record.result = variant("result");
    record.failedStage = variant("failedStage");
    record.error = variant("error");
    record.operatorName = variant("operator");
    record.workOrder = variant("workOrder");
    record.attempt = variant("attempt");
    const QMap<QString, QString> expected = TextFields(identity, record);

    const QByteArray json = JsonLine(identity, record);
    QVERIFY(json.endsWith('\n'));
    QCOMPARE(json.count('\n'), 1);
    const JsonLines lines = ReadJsonLines(json);
    QVERIFY2(lines.error.isEmpty(), qPrintable(lines.error));
    QCOMPARE(lines.objects.size(), 1);

    QString csvError;
    const QMap<QString, QString> csv = CsvRecord(identity, record, csvError);
    QVERIFY2(csvError.isEmpty(), qPrintable(csvError));

    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QCOMPARE(lines.objects[0].value(it.key()).toString(), it.value());
        QCOMPARE(csv.value(it.key()), it.value());
    }
}

void StationRecordFormatTest::timesAreUtcWithMilliseconds_data()
{
    QTest::addColumn<QDateTime>("time");

    QTest::newRow("UTC") << QDateTime(QDate(2023, 4, 12), QTime(23, 59, 59, 999), Qt::UTC);
    QTest::newRow("whole second") << QDateTime(QDate(2023, 4, 12), QTime(8, 0, 0, 0), Qt::UTC);
    QTest::newRow("two hours east") << QDateTime(QDate(2023, 4, 13), QTime(1, 30, 0, 5), Qt::OffsetFromUTC,
                                                 7200);
    QTest::newRow("five hours west") << QDateTime(QDate(2023, 4, 12), QTime(20, 0, 0, 42), Qt::OffsetFromUTC,
                                                  -18000);
    QTest::newRow("local") << QDateTime::currentDateTime();
}

void StationRecordFormatTest::timesAreUtcWithMilliseconds()
{
    QFETCH(QDateTime, time);

    AttemptRecord record = MakeRecord(QStringLiteral("d"), time);
    record.start = time.addMSecs(-1);
    const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    const QJsonObject json = ReadJsonLines(JsonLine(kIdentity, record)).objects.value(0);
    QString csvError;
    const QMap<QString, QString> csv = CsvRecord(kIdentity, record, csvError);
    QVERIFY2(csvError.isEmpty(), qPrintable(csvError));

    for (const QString& name : {QStringLiteral("start"), QStringLiteral("end")}) {
        const QString text = json.value(name).toString();
        QVERIFY2(iso.match(text).hasMatch(), qPrintable(text));
        QCOMPARE(csv.value(name), text);
        const QDateTime expected = name == QLatin1String("end") ? time : time.addMSecs(-1);
        QCOMPARE(QDateTime::fromString(text, Qt::ISODateWithMs), expected);
    }
}

void StationRecordFormatTest::stagesKeepTheirOrderAndDurations()
{
    const QDateTime end(QDate(2023, 4, 12), QTime(10, 0, 0, 500), Qt::UTC);
    AttemptRecord record = MakeRecord(QStringLiteral("d"), end);
    const qint64 base = record.start.toMSecsSinceEpoch();
    // Names out of alphabetical order, one repeated and one unfinished, which runs until the attempt ends.
    record.stages = {{"scan", base, base + 1500, 0},
                     {"CMD:FLASH-ALL", base + 1500, base + 1501, 0},
                     {"connect", base + 1501, base + 1501, 0},
                     {"CMD:FLASH-ALL", base + 1501, base + 2000, 0},
                     {"CMD:REBOOT", base + 2000, 0, 0}};
    QVector<QPair<QString, qint64>> expected;
    for (const SessionStage& stage : record.stages) {
        const qint64 stageEnd = stage.endMs > 0 ? stage.endMs : end.toMSecsSinceEpoch();
        expected.append({stage.name, stageEnd - stage.startMs});
    }

    const QByteArray line = JsonLine(kIdentity, record);
    const QJsonArray stages = ReadJsonLines(line).objects.value(0).value("stages").toArray();
    QCOMPARE(stages.size(), expected.size());
    QStringList csvParts;
    for (int i = 0; i < expected.size(); ++i) {
        const QJsonObject stage = stages.at(i).toObject();
        QCOMPARE(stage.keys(), (QStringList{"ms", "name"}));
        QCOMPARE(stage.value("name").toString(), expected[i].first);
        QVERIFY(stage.value("ms").isDouble());
        QCOMPARE(static_cast<qint64>(stage.value("ms").toDouble()), expected[i].second);
        csvParts << expected[i].first + '=' + QString::number(expected[i].second);
    }
    // The name comes first in each stage object, as the README shows it.
    QVERIFY(line.contains("{\"name\":\"scan\",\"ms\":1500}"));

    QString csvError;
    QCOMPARE(CsvRecord(kIdentity, record, csvError).value("stages"), csvParts.join(';'));
    QVERIFY2(csvError.isEmpty(), qPrintable(csvError));

    record.stages.clear();
    QCOMPARE(ReadJsonLines(JsonLine(kIdentity, record)).objects.value(0).value("stages"),
             QJsonValue(QJsonArray()));
    QCOMPARE(CsvRecord(kIdentity, record, csvError).value("stages"), QString());
}

void StationRecordFormatTest::numbersStayNumbers()
{
    AttemptRecord record = MakeRecord(QStringLiteral("d"), QDateTime::currentDateTimeUtc(), 16, 123456);
    record.checksumLevel = 3;
    const QJsonObject json = ReadJsonLines(JsonLine(kIdentity, record)).objects.value(0);
    QString csvError;
    const QMap<QString, QString> csv = CsvRecord(kIdentity, record, csvError);
    const QMap<QString, int> numbers{
        {"row", record.row}, {"checksumLevel", record.checksumLevel}, {"poll", record.poll}};
    for (auto it = numbers.cbegin(); it != numbers.cend(); ++it) {
        QVERIFY2(json.value(it.key()).isDouble(), qPrintable(it.key()));
        QCOMPARE(json.value(it.key()).toInt(), it.value());
        QCOMPARE(csv.value(it.key()), QString::number(it.value()));
    }
}

void StationRecordFormatTest::eachFailureKindIsItsWord()
{
    const QVector<QPair<FailureKind, QString>> words{{FailureKind::None, ""},
                                                     {FailureKind::Scan, "scan"},
                                                     {FailureKind::Connect, "connect"},
                                                     {FailureKind::EnterMode, "enter-mode"},
                                                     {FailureKind::Authentication, "authentication"},
                                                     {FailureKind::Command, "command"},
                                                     {FailureKind::ChecksumMismatch, "checksum-mismatch"},
                                                     {FailureKind::FeedbackUnreadable, "feedback-unreadable"},
                                                     {FailureKind::Cancelled, "cancelled"},
                                                     {FailureKind::LoadChanged, "load-changed"}};
    AttemptRecord record = MakeRecord(QStringLiteral("d"), QDateTime::currentDateTimeUtc());
    for (const auto& [kind, word] : words) {
        record.failureKind = kind;
        QString csvError;
        QCOMPARE(CsvRecord(kIdentity, record, csvError).value("failureKind"), word);
        QCOMPARE(ReadJsonLines(JsonLine(kIdentity, record)).objects.value(0).value("failureKind").toString(),
                 word);
    }
}

void StationRecordFormatTest::theRecordEventCarriesTheAttemptsOwnFields()
{
    AttemptRecord record =
        MakeRecord(QStringLiteral("d"), QDateTime(QDate(2023, 4, 12), QTime(9, 0), Qt::UTC));
    // A stage still running at the end counts until the end, as in the files.
    record.stages.append({QStringLiteral("CMD:FLASH-ALL"), record.start.toMSecsSinceEpoch() + 4000, 0, 0});
    record.socid = QStringLiteral("00aa17");
    const QByteArray event = AttemptJson("\"event\":\"record\"", kIdentity, record);
    QVERIFY(event.startsWith("{\"event\":\"record\","));
    const QJsonObject object = ReadJsonLines(event + '\n').objects.value(0);
    const QJsonObject line = ReadJsonLines(JsonLine(kIdentity, record)).objects.value(0);
    const QStringList perAttempt{"start",       "end",   "row",    "port", "device",  "result",
                                 "failedStage", "error", "stages", "poll", "attempt", "failureKind",
                                 "imagesWritten", "verifiedImages", "quarantined",
                                 "unit"};
    QCOMPARE(object.size(), perAttempt.size() + 1);
    for (const QString& name : perAttempt)
        QCOMPARE(object.value(name), line.value(name));
    QCOMPARE(object.value("stages").toArray().last().toObject().value("ms"), QJsonValue(321));
    QCOMPARE(object.value("unit").toString(), record.socid);
}

QTEST_GUILESS_MAIN(StationRecordFormatTest)
#include "tst_StationRecordFormat.moc"
