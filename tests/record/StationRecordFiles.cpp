#include "StationRecordFiles.h"

#include "record/StationDatabase.h"
#include "record/StationRecordFormat.h"

#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QJsonParseError>

namespace StationRecordFiles {

CsvTable ReadCsv(const QByteArray& text)
{
    CsvTable table;
    QStringList row;
    QByteArray field;
    bool quoted = false;
    bool fieldStarted = false;
    int i = 0;
    const auto fail = [&table, &i](const char* what) {
        table.error = QStringLiteral("%1 at byte %2").arg(QLatin1String(what)).arg(i);
        return table;
    };
    while (i < text.size()) {
        const char c = text.at(i);
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text.at(i + 1) == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
                if (i + 1 < text.size() && text.at(i + 1) != ',' && text.at(i + 1) != '\r')
                    return fail("text after a closing quote");
            }
            ++i;
            continue;
        }
        if (c == '"') {
            if (fieldStarted && !field.isEmpty())
                return fail("quote inside an unquoted field");
            quoted = true;
            fieldStarted = true;
        } else if (c == ',') {
            row << QString::fromUtf8(field);
            field.clear();
            fieldStarted = false;
        } else if (c == '\r') {
            if (i + 1 >= text.size() || text.at(i + 1) != '\n')
                return fail("bare CR outside quotes");
            row << QString::fromUtf8(field);
            table.rows << row;
            row.clear();
            field.clear();
            fieldStarted = false;
            ++i;
        } else if (c == '\n') {
            return fail("bare LF outside quotes");
        } else {
            field += c;
            fieldStarted = true;
        }
        ++i;
    }
    if (quoted)
        return fail("unterminated quoted field");
    if (fieldStarted || !row.isEmpty())
        return fail("last record without CRLF");
    return table;
}

JsonLines ReadJsonLines(const QByteArray& text)
{
    JsonLines lines;
    if (!text.isEmpty() && !text.endsWith('\n')) {
        lines.error = QStringLiteral("the last line has no line end");
        return lines;
    }
    const QList<QByteArray> parts = text.split('\n');
    for (int i = 0; i + 1 < parts.size(); ++i) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(parts.at(i), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            lines.error = QStringLiteral("line %1 is no JSON object: %2").arg(i + 1).arg(error.errorString());
            return lines;
        }
        lines.objects << document.object();
    }
    return lines;
}

QString JsonPath(const QString& folder, const QDate& day)
{
    return folder + QLatin1Char('/') + StationRecordFormat::DayFileBase(day) + QStringLiteral(".jsonl");
}

QString CsvPath(const QString& folder, const QDate& day)
{
    return folder + QLatin1Char('/') + StationRecordFormat::DayFileBase(day) + QStringLiteral(".csv");
}

AttemptRecord MakeRecord(const QString& tag, const QDateTime& end, int row, int poll)
{
    AttemptRecord record;
    record.end = end;
    record.start = end.addMSecs(-4321);
    record.row = row;
    record.port = QStringLiteral("COM%1").arg(row + 2);
    record.device = tag;
    record.scene = QStringLiteral("format-download");
    record.checksumLevel = 2;
    record.flashXml = QStringLiteral("C:\\loads\\a,b\\flash.xml");
    record.loadDigest = QStringLiteral("0123456789abcdef");
    record.result = QStringLiteral("FAIL");
    record.failedStage = QStringLiteral("connect");
    record.error = QStringLiteral("Port \"%1\" busy, retry;\nthen\r\nagain, \"%1\"").arg(tag);
    const qint64 startMs = record.start.toMSecsSinceEpoch();
    record.stages = {{QStringLiteral("scan"), startMs, startMs + 1200, 0},
                     {QStringLiteral("connect"), startMs + 1200, startMs + 4321, 5}};
    record.poll = poll;
    record.operatorName = QStringLiteral("Zoë O'Neil, line 3");
    record.workOrder = QStringLiteral("WO-7");
    record.attempt = AttemptRecord::NewId();
    record.failureKind = FailureKind::Connect;
    return record;
}

QString Field(const QStringList& header, const QStringList& row, const QString& name)
{
    const int at = header.indexOf(name);
    return at >= 0 && at < row.size() ? row.at(at) : QString();
}

QStringList FirstVersionSchema()
{
    return {
        "CREATE TABLE attempt (id INTEGER PRIMARY KEY, start_ms INTEGER NOT NULL, end_ms INTEGER,"
        " row INTEGER NOT NULL, port TEXT NOT NULL, device TEXT NOT NULL, scene TEXT NOT NULL,"
        " checksum_level INTEGER NOT NULL, flash_xml TEXT NOT NULL, load_digest TEXT NOT NULL,"
        " result TEXT NOT NULL, failed_stage TEXT NOT NULL, error TEXT NOT NULL, poll INTEGER NOT NULL,"
        " operator TEXT NOT NULL, work_order TEXT NOT NULL, station TEXT NOT NULL, tool_version TEXT NOT NULL)",
        "CREATE TABLE stage (attempt INTEGER NOT NULL REFERENCES attempt(id), stage TEXT NOT NULL,"
        " ms INTEGER NOT NULL)",
        "CREATE INDEX attempt_time ON attempt(start_ms)",
        "CREATE INDEX attempt_row ON attempt(row, start_ms)",
        "CREATE INDEX attempt_port ON attempt(port, start_ms)",
        "CREATE INDEX attempt_load ON attempt(load_digest, start_ms)",
        "CREATE INDEX stage_attempt ON stage(attempt)",
        "PRAGMA user_version = 1",
    };
}

QStringList SecondVersionSchema()
{
    QStringList schema = FirstVersionSchema();
    schema.last() = "ALTER TABLE attempt ADD COLUMN stage_ms BLOB";
    return schema << "CREATE TABLE stage_name (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)"
                  << "PRAGMA user_version = 2";
}

QStringList LaterVersionSchema(int version)
{
    const QStringList added[] = {
        {"attempt_uid TEXT NOT NULL DEFAULT ''", "failure_kind TEXT NOT NULL DEFAULT ''"},
        {"images_written INTEGER", "verified_images INTEGER"},
        {"quarantined INTEGER NOT NULL DEFAULT 0", "unit TEXT NOT NULL DEFAULT ''"}};
    QStringList schema = SecondVersionSchema();
    schema.removeLast();
    for (int later = 3; later <= version; ++later) {
        for (const QString& column : added[later - 3])
            schema << QStringLiteral("ALTER TABLE attempt ADD COLUMN ") + column;
    }
    return schema << QStringLiteral("PRAGMA user_version = %1").arg(version);
}

Reader::Reader(const QString& folder) : name(QStringLiteral("test-reader-") + QString::number(quintptr(this)))
{
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    database.setDatabaseName(StationDatabase::Path(folder));
    database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    opened = database.open();
}

Reader::~Reader()
{
    QSqlDatabase::removeDatabase(name);
}

QStringList Reader::Rows(const QString& statement) const
{
    QStringList rows;
    QSqlQuery query(QSqlDatabase::database(name));
    if (!opened || !query.exec(statement))
        return {QStringLiteral("error: ") + query.lastError().text()};
    while (query.next()) {
        QStringList columns;
        for (int i = 0; i < query.record().count(); ++i)
            columns << query.value(i).toString();
        rows << columns.join(QLatin1Char('|'));
    }
    return rows;
}

} // namespace StationRecordFiles
