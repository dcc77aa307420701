#include "StationRecordFormat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <vector>

namespace StationRecordFormat {

qint64 StageMs(const SessionStage& stage, const AttemptRecord& record)
{
    const qint64 end = stage.endMs > 0 ? stage.endMs : record.end.toMSecsSinceEpoch();
    return end > stage.startMs ? end - stage.startMs : 0;
}

namespace {

struct Field
{
    QJsonValue value;
    QString text; // the CSV form, when it is not the value's own text
};

// Qt's JSON writer escapes a lone value only inside a document, so the value goes through a one-element
// array.
QByteArray JsonValueText(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

std::vector<Field> Fields(const StationIdentity& identity, const AttemptRecord& record)
{
    QJsonArray stages;
    QStringList stageTexts;
    for (const SessionStage& stage : record.stages) {
        const qint64 ms = StageMs(stage, record);
        stages.append(QJsonArray{stage.name, ms});
        stageTexts << stage.name + QLatin1Char('=') + QString::number(ms);
    }
    return {
        {identity.station, {}},
        {identity.toolVersion, {}},
        {Timestamp(record.start), {}},
        {Timestamp(record.end), {}},
        {record.row, QString::number(record.row)},
        {record.port, {}},
        {record.device, {}},
        {record.scene, {}},
        {record.checksumLevel, QString::number(record.checksumLevel)},
        {record.flashXml, {}},
        {record.loadDigest, {}},
        {record.result, {}},
        {record.failedStage, {}},
        {record.error, {}},
        {stages, stageTexts.join(QLatin1Char(';'))},
        {record.poll, QString::number(record.poll)},
        {record.operatorName, {}},
        {record.workOrder, {}},
        {record.quarantined, record.quarantined ? QStringLiteral("true") : QStringLiteral("false")},
    };
}

// Stages are written as {"name":..,"ms":..} objects with the name first, which QJsonObject's sorted keys
// would turn around.
QByteArray StagesJson(const QJsonArray& stages)
{
    QByteArray text("[");
    for (int i = 0; i < stages.size(); ++i) {
        const QJsonArray stage = stages.at(i).toArray();
        if (i > 0)
            text += ',';
        text += "{\"name\":" + JsonValueText(stage.at(0)) + ",\"ms\":" + JsonValueText(stage.at(1)) + '}';
    }
    return text + ']';
}

QByteArray CsvField(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (!bytes.contains('"') && !bytes.contains(',') && !bytes.contains('\r') && !bytes.contains('\n'))
        return bytes;
    QByteArray quoted = bytes;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

} // namespace

const QStringList& FieldNames()
{
    static const QStringList names{
        QStringLiteral("station"),     QStringLiteral("toolVersion"), QStringLiteral("start"),
        QStringLiteral("end"),         QStringLiteral("row"),         QStringLiteral("port"),
        QStringLiteral("device"),      QStringLiteral("scene"),       QStringLiteral("checksumLevel"),
        QStringLiteral("flashXml"),    QStringLiteral("loadDigest"),  QStringLiteral("result"),
        QStringLiteral("failedStage"), QStringLiteral("error"),       QStringLiteral("stages"),
        QStringLiteral("poll"),        QStringLiteral("operator"),    QStringLiteral("workOrder"),
        QStringLiteral("quarantined"),
    };
    return names;
}

QByteArray JsonLine(const StationIdentity& identity, const AttemptRecord& record)
{
    const std::vector<Field> fields = Fields(identity, record);
    const QStringList& names = FieldNames();
    QByteArray line("{");
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += ',';
        line += JsonValueText(names.at(static_cast<int>(i))) + ':';
        line += fields[i].value.isArray() ? StagesJson(fields[i].value.toArray())
                                          : JsonValueText(fields[i].value);
    }
    return line + "}\n";
}

QByteArray CsvHeader()
{
    return FieldNames().join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QByteArray CsvLine(const StationIdentity& identity, const AttemptRecord& record)
{
    QByteArray line;
    const std::vector<Field> fields = Fields(identity, record);
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += ',';
        line += CsvField(fields[i].text.isNull() ? fields[i].value.toString() : fields[i].text);
    }
    return line + "\r\n";
}

QString Timestamp(const QDateTime& time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDate RecordDay(const AttemptRecord& record)
{
    const QDateTime when = record.end.isValid()     ? record.end
                           : record.start.isValid() ? record.start
                                                    : QDateTime::currentDateTimeUtc();
    return when.toUTC().date();
}

QString DayFileBase(const QDate& day)
{
    return QStringLiteral("station-") + day.toString(QStringLiteral("yyyy-MM-dd"));
}

} // namespace StationRecordFormat
