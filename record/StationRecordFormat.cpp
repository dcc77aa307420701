#include "StationRecordFormat.h"

namespace StationRecordFormat {

qint64 StageMs(const SessionStage& stage, const AttemptRecord& record)
{
    const qint64 end = stage.endMs > 0 ? stage.endMs : record.end.toMSecsSinceEpoch();
    return end > stage.startMs ? end - stage.startMs : 0;
}

namespace {

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
    static const QStringList names = [] {
        QStringList all;
        for (const RecordFields::Field& field : RecordFields::All())
            all << field.name;
        return all;
    }();
    return names;
}

QByteArray JsonLine(const StationIdentity& identity, const AttemptRecord& record)
{
    const RecordFields::Source source{identity, record};
    QByteArray line("{");
    for (const RecordFields::Field& field : RecordFields::All()) {
        if (line.size() > 1)
            line += ',';
        line += RecordFields::JsonString(field.name) + ':' + field.json(source);
    }
    return line + "}\n";
}

QByteArray CsvHeader()
{
    return FieldNames().join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QByteArray CsvLine(const StationIdentity& identity, const AttemptRecord& record)
{
    const RecordFields::Source source{identity, record};
    QByteArrayList fields;
    for (const RecordFields::Field& field : RecordFields::All())
        fields << CsvField(field.csv(source));
    return fields.join(',') + "\r\n";
}

QByteArray AttemptJson(const QByteArray& leadingMembers, const StationIdentity& identity,
                       const AttemptRecord& record)
{
    const RecordFields::Source source{identity, record};
    QByteArray object = '{' + leadingMembers;
    for (const RecordFields::Field& field : RecordFields::All()) {
        if (field.scope != RecordFields::Scope::Attempt)
            continue;
        if (object.size() > 1)
            object += ',';
        object += RecordFields::JsonString(field.name) + ':' + field.json(source);
    }
    return object + '}';
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

QString CsvFileName(const QDate& day, int part)
{
    // "_" sorts after ".", so a listing by name keeps a day's parts in order after the first.
    return DayFileBase(day) + (part > 1 ? QStringLiteral("_%1").arg(part) : QString()) +
           QStringLiteral(".csv");
}

} // namespace StationRecordFormat
