#include "record/RecordFields.h"

#include "record/StationRecordFormat.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace RecordFields {

namespace {

const char* const kText = "TEXT NOT NULL";
const char* const kInteger = "INTEGER NOT NULL";
// Rows an older version wrote read as empty in a column added since.
const char* const kAddedText = "TEXT NOT NULL DEFAULT ''";
// A number added since reads as NULL in older rows: not known, which a count must keep apart from 0.
const char* const kAddedInteger = "INTEGER";

// Short names for the table's lines.
constexpr Scope Station = Scope::Station;
constexpr Scope Run = Scope::Run;
constexpr Scope Attempt = Scope::Attempt;

// A null QString binds as NULL, which the NOT NULL columns refuse; empty text is what they mean.
QVariant NotNull(const QString& text)
{
    return QVariant(text.isNull() ? QStringLiteral("") : text);
}

// A field is named by the member that holds it, so that one pointer gives its value and takes it back.
QString& Member(const Target& target, QString StationIdentity::*member)
{
    return target.identity.*member;
}

QString& Member(const Target& target, QString AttemptRecord::*member)
{
    return target.record.*member;
}

const QString& Member(const Source& source, QString StationIdentity::*member)
{
    return source.identity.*member;
}

const QString& Member(const Source& source, QString AttemptRecord::*member)
{
    return source.record.*member;
}

template <typename Owner>
Field Text(const char* name, const char* column, const char* type, Scope scope, QString Owner::*member)
{
    return {QLatin1String(name), QLatin1String(column), QLatin1String(type), scope,
            [member](const Source& source) { return JsonString(Member(source, member)); },
            [member](const Source& source) { return Member(source, member); },
            [member](const Source& source) { return NotNull(Member(source, member)); },
            [member](const Target& target, const QVariant& value) {
                if (!value.isNull())
                    Member(target, member) = value.toString();
            }};
}

Field Number(const char* name, const char* column, Scope scope, int AttemptRecord::*member,
             const char* type = kInteger)
{
    return {QLatin1String(name),
            QLatin1String(column),
            QLatin1String(type),
            scope,
            [member](const Source& source) { return QByteArray::number(source.record.*member); },
            [member](const Source& source) { return QString::number(source.record.*member); },
            [member](const Source& source) { return QVariant(qint64(source.record.*member)); },
            [member](const Target& target, const QVariant& value) {
                if (!value.isNull())
                    target.record.*member = int(value.toLongLong());
            }};
}

// The files write true or false, the database 1 or 0; rows an older version wrote read as false.
Field Flag(const char* name, const char* column, Scope scope, bool AttemptRecord::*member)
{
    return {QLatin1String(name),
            QLatin1String(column),
            QLatin1String("INTEGER NOT NULL DEFAULT 0"),
            scope,
            [member](const Source& source) { return QByteArray(source.record.*member ? "true" : "false"); },
            [member](const Source& source) {
                return source.record.*member ? QStringLiteral("true") : QStringLiteral("false");
            },
            [member](const Source& source) { return QVariant(source.record.*member ? 1 : 0); },
            [member](const Target& target, const QVariant& value) {
                if (!value.isNull())
                    target.record.*member = value.toLongLong() != 0;
            }};
}

// The files write a time as text, the database as UTC milliseconds.
Field Time(const char* name, const char* column, const char* type, Scope scope,
           QDateTime AttemptRecord::*member, QVariant (*sql)(const Source&))
{
    return {QLatin1String(name),
            QLatin1String(column),
            QLatin1String(type),
            scope,
            [member](const Source& source) {
                return JsonString(StationRecordFormat::Timestamp(source.record.*member));
            },
            [member](const Source& source) { return StationRecordFormat::Timestamp(source.record.*member); },
            sql,
            [member](const Target& target, const QVariant& value) {
                if (!value.isNull())
                    target.record.*member = QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
            }};
}

// The record keeps the kind, the stores its word.
Field Kind(const char* name, const char* column, const char* type, Scope scope,
           FailureKind AttemptRecord::*member)
{
    return {QLatin1String(name),
            QLatin1String(column),
            QLatin1String(type),
            scope,
            [member](const Source& source) { return JsonString(FailureKindWord(source.record.*member)); },
            [member](const Source& source) { return FailureKindWord(source.record.*member); },
            [member](const Source& source) { return NotNull(FailureKindWord(source.record.*member)); },
            [member](const Target& target, const QVariant& value) {
                if (!value.isNull())
                    target.record.*member = FailureKindOf(value.toString());
            }};
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
    // A new field is one line at the end of this list, with its scope and the member that holds it.
    std::vector<Field> fields{
        Text("station", "station", kText, Station, &StationIdentity::station),
        Text("toolVersion", "tool_version", kText, Station, &StationIdentity::toolVersion),
        Time("start", "start_ms", kInteger, Attempt, &AttemptRecord::start, StartMs),
        Time("end", "end_ms", "INTEGER", Attempt, &AttemptRecord::end, EndMs),
        Number("row", "row", Attempt, &AttemptRecord::row),
        Text("port", "port", kText, Attempt, &AttemptRecord::port),
        Text("device", "device", kText, Attempt, &AttemptRecord::device),
        Text("scene", "scene", kText, Run, &AttemptRecord::scene),
        Number("checksumLevel", "checksum_level", Run, &AttemptRecord::checksumLevel),
        Text("flashXml", "flash_xml", kText, Run, &AttemptRecord::flashXml),
        Text("loadDigest", "load_digest", kText, Run, &AttemptRecord::loadDigest),
        Text("result", "result", kText, Attempt, &AttemptRecord::result),
        Text("failedStage", "failed_stage", kText, Attempt, &AttemptRecord::failedStage),
        Text("error", "error", kText, Attempt, &AttemptRecord::error),
        {QStringLiteral("stages"), QStringLiteral("stage_ms"), QStringLiteral("BLOB"), Attempt, StagesJson,
         StagesCsv, StagesSql, nullptr},
        Number("poll", "poll", Attempt, &AttemptRecord::poll),
        Text("operator", "operator", kText, Run, &AttemptRecord::operatorName),
        Text("workOrder", "work_order", kText, Run, &AttemptRecord::workOrder),
        Text("attempt", "attempt_uid", kAddedText, Attempt, &AttemptRecord::attempt),
        Kind("failureKind", "failure_kind", kAddedText, Attempt, &AttemptRecord::failureKind),
        Number("imagesWritten", "images_written", Attempt, &AttemptRecord::imagesWritten, kAddedInteger),
        Number("verifiedImages", "verified_images", Attempt, &AttemptRecord::verifiedImages, kAddedInteger),
        Flag("quarantined", "quarantined", Attempt, &AttemptRecord::quarantined),
        Text("unit", "unit", kAddedText, Attempt, &AttemptRecord::socid),
        Text("stagedFlashXml", "staged_flash_xml", kAddedText, Run, &AttemptRecord::stagedFlashXml),
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

const Field* Find(const QString& name)
{
    for (const Field& field : All()) {
        if (field.name == name)
            return &field;
    }
    return nullptr;
}

QString Column(const QString& name)
{
    const Field* field = Find(name);
    return field != nullptr ? field->column : QString();
}

// Qt's JSON writer escapes a lone value only inside a document, so the text goes through a one-element
// array.
QByteArray JsonString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace RecordFields
