#include "record/RecordLine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace RecordLine {

namespace {

QDateTime TimeOf(const QJsonValue& value)
{
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : time;
}

} // namespace

QByteArray AttemptId(const QByteArray& line)
{
    static const QByteArray kKey("\"attempt\":\"");
    const int at = line.indexOf(kKey);
    if (at < 0)
        return QByteArray();
    const int start = at + kKey.size();
    const int end = line.indexOf('"', start);
    return end < 0 ? QByteArray() : line.mid(start, end - start);
}

bool Parse(const QByteArray& line, StationIdentity& identity, AttemptRecord& record)
{
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject())
        return false;
    const QJsonObject fields = document.object();
    record = AttemptRecord();
    record.attempt = fields.value("attempt").toString();
    if (record.attempt.isEmpty())
        return false;
    identity.station = fields.value("station").toString();
    identity.toolVersion = fields.value("toolVersion").toString();
    record.start = TimeOf(fields.value("start"));
    record.end = TimeOf(fields.value("end"));
    record.row = fields.value("row").toInt();
    record.port = fields.value("port").toString();
    record.device = fields.value("device").toString();
    record.scene = fields.value("scene").toString();
    record.checksumLevel = fields.value("checksumLevel").toInt();
    record.flashXml = fields.value("flashXml").toString();
    record.loadDigest = fields.value("loadDigest").toString();
    record.result = fields.value("result").toString();
    record.failedStage = fields.value("failedStage").toString();
    record.error = fields.value("error").toString();
    // A stage keeps only its length in the files; laid from the attempt's start, it gives that length back.
    const qint64 from = record.start.isValid() ? record.start.toMSecsSinceEpoch() : 1;
    for (const QJsonValue& value : fields.value("stages").toArray()) {
        const QJsonObject stage = value.toObject();
        const qint64 ms = static_cast<qint64>(stage.value("ms").toDouble());
        record.stages.push_back({stage.value("name").toString(), from, from + ms, 0});
    }
    record.poll = fields.value("poll").toInt();
    record.operatorName = fields.value("operator").toString();
    record.workOrder = fields.value("workOrder").toString();
    record.failureKind = FailureKindOf(fields.value("failureKind").toString());
    record.imagesWritten = fields.value("imagesWritten").toInt();
    record.verifiedImages = fields.value("verifiedImages").toInt();
    record.quarantined = fields.value("quarantined").toBool();
    record.socid = fields.value("unit").toString();
    return true;
}

} // namespace RecordLine
