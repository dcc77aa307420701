#include "record/RecordFields.h"

#include "record/StationRecordFormat.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace RecordFields {

namespace {

using Get = QString (*)(const Source&);
using GetNumber = qint64 (*)(const Source&);

const char* const kText = "TEXT NOT NULL";
const char* const kInteger = "INTEGER NOT NULL";
// Rows an older version wrote read as empty in a column added since.
const char* const kAddedText = "TEXT NOT NULL DEFAULT ''";
// A number added since reads as NULL in older rows: not known, which a count must keep apart from 0.
const char* const kAddedInteger = "INTEGER";

enum Scope : bool
{
    Run = false,
    Attempt = true,
};

Field Text(const char* name, const char* column, const char* type, Scope scope, Get get)
{
    return {QLatin1String(name), QLatin1String(column), QLatin1String(type), scope,
            [get](const Source& source) { return JsonString(get(source)); }, get,
            // A null QString binds as NULL, which the NOT NULL columns refuse; empty text is what they mean.
            [get](const Source& source) {
                const QString text = get(source);
                return QVariant(text.isNull() ? QStringLiteral("") : text);
            }};
}

Field Number(const char* name, const char* column, Scope scope, GetNumber get, const char* type = kInteger)
{
    return {QLatin1String(name),
            QLatin1String(column),
            QLatin1String(type),
            scope,
            [get](const Source& source) { return QByteArray::number(get(source)); },
            [get](const Source& source) { return QString::number(get(source)); },
            [get](const Source& source) { return QVariant(get(source)); }};
}

// The files write true or false, the database 1 or 0; rows an older version wrote read as false.
Field Flag(const char* name, const char* column, bool (*get)(const Source&))
{
    return {QLatin1String(name),
            QLatin1String(column),
            QLatin1String("INTEGER NOT NULL DEFAULT 0"),
            true,
            [get](const Source& source) { return QByteArray(get(source) ? "true" : "false"); },
            [get](const Source& source) { return get(source) ? QStringLiteral("true") : QStringLiteral("false"); },
            [get](const Source& source) { return QVariant(get(source) ? 1 : 0); }};
}

// The files write a time as text, the database as UTC milliseconds.
Field Time(const char* name, const char* column, const char* type, QVariant (*sql)(const Source&),
           QDateTime (*get)(const Source&))
{
    return {QLatin1String(name),
            QLatin1String(column),
            QLatin1String(type),
            true,
            [get](const Source& source) { return JsonString(StationRecordFormat::Timestamp(get(source))); },
            [get](const Source& source) { return StationRecordFormat::Timestamp(get(source)); },
            sql};
}

// A record without a start is filed by its end, as its day's files are.
QVariant StartMs(const Source& source)
{
    const AttemptRecord& record = source.record;
    if (record.start.isValid())
        return record.start.toMSecsSinceEpoch();
    if (record.end.isValid())
        return record.end.toMSecsSinceEpoch();
    return QDateTime::currentMSecsSinceEpoch();
}

QVariant EndMs(const Source& source)
{
    return source.record.end.isValid() ? QVariant(source.record.end.toMSecsSinceEpoch()) : QVariant();
}

// Each stage an object with its name first, which QJsonObject's sorted keys would turn around.
QByteArray StagesJson(const Source& source)
{
    QByteArray text("[");
    for (const SessionStage& stage : source.record.stages) {
        if (text.size() > 1)
            text += ',';
        text += "{\"name\":" + JsonString(stage.name) +
                ",\"ms\":" + QByteArray::number(StationRecordFormat::StageMs(stage, source.record)) + '}';
    }
    return text + ']';
}

QString StagesCsv(const Source& source)
{
    QStringList stages;
    for (const SessionStage& stage : source.record.stages)
        stages << stage.name + QLatin1Char('=') +
                      QString::number(StationRecordFormat::StageMs(stage, source.record));
    return stages.join(QLatin1Char(';'));
}

QVariant StagesSql(const Source& source)
{
    return source.stageMs ? QVariant(*source.stageMs) : QVariant(QVariant::ByteArray);
}

std::vector<Field> MakeAll()
{
    std::vector<Field> fields{
        Text("station", "station", kText, Run, [](const Source& s) { return s.identity.station; }),
        Text("toolVersion", "tool_version", kText, Run,
             [](const Source& s) { return s.identity.toolVersion; }),
        Time("start", "start_ms", kInteger, StartMs, [](const Source& s) { return s.record.start; }),
        Time("end", "end_ms", "INTEGER", EndMs, [](const Source& s) { return s.record.end; }),
        Number("row", "row", Attempt, [](const Source& s) { return qint64(s.record.row); }),
        Text("port", "port", kText, Attempt, [](const Source& s) { return s.record.port; }),
        Text("device", "device", kText, Attempt, [](const Source& s) { return s.record.device; }),
        Text("scene", "scene", kText, Run, [](const Source& s) { return s.record.scene; }),
        Number("checksumLevel", "checksum_level", Run,
               [](const Source& s) { return qint64(s.record.checksumLevel); }),
        Text("flashXml", "flash_xml", kText, Run, [](const Source& s) { return s.record.flashXml; }),
        Text("loadDigest", "load_digest", kText, Run, [](const Source& s) { return s.record.loadDigest; }),
        Text("result", "result", kText, Attempt, [](const Source& s) { return s.record.result; }),
        Text("failedStage", "failed_stage", kText, Attempt,
             [](const Source& s) { return s.record.failedStage; }),
        Text("error", "error", kText, Attempt, [](const Source& s) { return s.record.error; }),
        {QStringLiteral("stages"), QStringLiteral("stage_ms"), QStringLiteral("BLOB"), true, StagesJson,
         StagesCsv, StagesSql},
        Number("poll", "poll", Attempt, [](const Source& s) { return qint64(s.record.poll); }),
        Text("operator", "operator", kText, Run, [](const Source& s) { return s.record.operatorName; }),
        Text("workOrder", "work_order", kText, Run, [](const Source& s) { return s.record.workOrder; }),
        Text("attempt", "attempt_uid", kAddedText, Attempt, [](const Source& s) { return s.record.attempt; }),
        Text("failureKind", "failure_kind", kAddedText, Attempt,
             [](const Source& s) { return FailureKindWord(s.record.failureKind); }),
        Number("imagesWritten", "images_written", Attempt, [](const Source& s) { return qint64(s.record.imagesWritten); },
               kAddedInteger),
        Number("verifiedImages", "verified_images", Attempt,
               [](const Source& s) { return qint64(s.record.verifiedImages); }, kAddedInteger),
        Flag("quarantined", "quarantined", [](const Source& s) { return s.record.quarantined; }),
        Text("unit", "unit", kAddedText, Attempt, [](const Source& s) { return s.record.socid; }),
    };
    return fields;
}

} // namespace

const std::vector<Field>& All()
{
    static const std::vector<Field> fields = MakeAll();
    return fields;
}

QByteArray SqlColumn(const char* name)
{
    return Column(QLatin1String(name)).toUtf8();
}

QString Column(const QString& name)
{
    for (const Field& field : All()) {
        if (field.name == name)
            return field.column;
    }
    return QString();
}

// Qt's JSON writer escapes a lone value only inside a document, so the text goes through a one-element
// array.
QByteArray JsonString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace RecordFields
