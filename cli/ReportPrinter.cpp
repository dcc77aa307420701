#include "cli/ReportPrinter.h"

#include "cli/TerminalText.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QStringList>

using namespace StationReport;

namespace ReportPrinter {

namespace {

QString LocalTime(qint64 ms)
{
    return ms < 0 ? QStringLiteral("-")
                  : QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(
                        QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString Percent(double fraction)
{
    return QString::number(fraction * 100, 'f', 1) + QStringLiteral(" %");
}

QString GroupLine(const QString& label, const Group& group)
{
    // A result the station never writes is rare enough to be named only when there is one.
    const QString unknown = group.unknown > 0 ? QStringLiteral(", %1 unknown").arg(group.unknown) : QString();
    return QStringLiteral("%1 %2 attempts, %3 OK, %4 FAIL, %5 CANL%6, yield %7, %8 devices per hour over %9 "
                          "active hours\n")
        .arg(label, -12)
        .arg(group.attempts)
        .arg(group.ok)
        .arg(group.fail)
        .arg(group.canl)
        .arg(unknown)
        .arg(Percent(group.yield))
        .arg(group.devicesPerHour, 0, 'f', 1)
        .arg(group.activeHours);
}

QString Details(const Group& group)
{
    QString text;
    if (!group.stages.isEmpty()) {
        QStringList stages;
        for (const StageFigure& stage : group.stages)
            stages << QStringLiteral("%1 %2/%3")
                          .arg(TerminalText::OneLine(stage.stage))
                          .arg(stage.medianMs)
                          .arg(stage.slowestMs);
        text += QStringLiteral("    stages, median/slowest ms: ") + stages.join(QStringLiteral(", ")) + '\n';
    }
    // An error text may span lines, hold a terminal's escape sequences or run to megabytes; the report keeps
    // one short line per error.
    for (const auto& error : group.errors)
        text += QStringLiteral("    %1x %2\n").arg(error.second).arg(TerminalText::OneLine(error.first));
    return text;
}

QString Section(const QString& title, const QString& label, const QVector<Group>& groups)
{
    if (groups.isEmpty())
        return QString();
    QString text = QStringLiteral("\n%1\n").arg(title);
    for (const Group& group : groups)
        text += GroupLine(label.arg(group.key.isEmpty() ? QStringLiteral("(none)")
                                                        : TerminalText::OneLine(group.key)),
                          group) +
                Details(group);
    return text;
}

QJsonObject GroupObject(const Group& group)
{
    QJsonArray stages;
    for (const StageFigure& stage : group.stages) {
        stages.append(QJsonObject{{QStringLiteral("stage"), stage.stage},
                                  {QStringLiteral("medianMs"), double(stage.medianMs)},
                                  {QStringLiteral("slowestMs"), double(stage.slowestMs)}});
    }
    QJsonArray errors;
    for (const auto& error : group.errors)
        errors.append(QJsonObject{{QStringLiteral("error"), error.first},
                                  {QStringLiteral("count"), double(error.second)}});
    QJsonObject object{{QStringLiteral("key"), group.key},
                       {QStringLiteral("attempts"), double(group.attempts)},
                       {QStringLiteral("ok"), double(group.ok)},
                       {QStringLiteral("fail"), double(group.fail)},
                       {QStringLiteral("canl"), double(group.canl)},
                       {QStringLiteral("unknown"), double(group.unknown)},
                       {QStringLiteral("yield"), group.yield},
                       {QStringLiteral("stages"), stages},
                       {QStringLiteral("errors"), errors},
                       {QStringLiteral("activeHours"), double(group.activeHours)},
                       {QStringLiteral("devicesPerHour"), group.devicesPerHour}};
    if (!group.hint.isEmpty())
        object.insert(QStringLiteral("hint"), group.hint);
    return object;
}

QJsonArray GroupArray(const QVector<Group>& groups)
{
    QJsonArray array;
    for (const Group& group : groups)
        array.append(GroupObject(group));
    return array;
}

QString Selection(const Filter& filter)
{
    return QStringLiteral("attempts started from %1 until %2 (local time)%3")
        .arg(filter.sinceMs < 0 ? QStringLiteral("the first record") : LocalTime(filter.sinceMs),
             filter.untilMs < 0 ? QStringLiteral("the last") : LocalTime(filter.untilMs),
             filter.load.isEmpty() ? QString() : QStringLiteral(", load ") + filter.load);
}

QJsonObject SelectionObject(const Filter& filter)
{
    return {{QStringLiteral("since"), filter.sinceMs < 0 ? QJsonValue() : QJsonValue(LocalTime(filter.sinceMs))},
            {QStringLiteral("until"), filter.untilMs < 0 ? QJsonValue() : QJsonValue(LocalTime(filter.untilMs))},
            {QStringLiteral("load"), filter.load.isEmpty() ? QJsonValue() : QJsonValue(filter.load)}};
}

QString TextOrNone(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("-") : TerminalText::OneLine(text);
}

} // namespace

QByteArray Text(const Report& report, const Filter& filter)
{
    QString text = QStringLiteral("Station report, %1\n").arg(Selection(filter));
    text += GroupLine(QStringLiteral("Station"), report.station) + Details(report.station);
    text += QStringLiteral("Units        %1 named, %2 attempted more than once, %3 of them OK more than once\n")
                .arg(report.units.named)
                .arg(report.units.repeated)
                .arg(report.units.okRepeated);
    text += QStringLiteral("Verified     %1 OK not verified, %2 OK from before the station kept it (not known)\n")
                .arg(report.verification.unverified)
                .arg(report.verification.notKnown);
    text += Section(QStringLiteral("Per row"), QStringLiteral("row %1"), report.rows);
    text += Section(QStringLiteral("Per port"), QStringLiteral("%1"), report.ports);
    text += Section(QStringLiteral("Per load"), QStringLiteral("%1"), report.loads);
    text += Section(QStringLiteral("Per failed stage"), QStringLiteral("%1"), report.failedStages);
    QString hints;
    for (const Group& row : report.rows) {
        if (!row.hint.isEmpty())
            hints += QStringLiteral("Row %1 fails %2 of its attempts: %3\n")
                         .arg(TerminalText::OneLine(row.key), Percent(row.failureRate),
                              TerminalText::OneLine(row.hint));
    }
    if (!hints.isEmpty())
        text += QStringLiteral("\n") + hints;
    return text.toUtf8();
}

QByteArray Json(const Report& report, const Filter& filter)
{
    QJsonObject object = SelectionObject(filter);
    object.insert(QStringLiteral("station"), GroupObject(report.station));
    object.insert(QStringLiteral("rows"), GroupArray(report.rows));
    object.insert(QStringLiteral("ports"), GroupArray(report.ports));
    object.insert(QStringLiteral("loads"), GroupArray(report.loads));
    object.insert(QStringLiteral("failedStages"), GroupArray(report.failedStages));
    const UnitRepeats& units = report.units;
    object.insert(QStringLiteral("units"), QJsonObject{{QStringLiteral("named"), double(units.named)},
                                                       {QStringLiteral("repeated"), double(units.repeated)},
                                                       {QStringLiteral("okRepeated"), double(units.okRepeated)}});
    object.insert(QStringLiteral("verification"),
                  QJsonObject{{QStringLiteral("unverified"), double(report.verification.unverified)},
                              {QStringLiteral("notKnown"), double(report.verification.notKnown)}});
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QByteArray UnitText(const QString& unit, const QVector<UnitHistory::Attempt>& attempts, const Filter& filter)
{
    QMap<QString, int> results;
    for (const UnitHistory::Attempt& attempt : attempts)
        ++results[attempt.record.result];
    QStringList counts;
    for (auto result = results.cbegin(); result != results.cend(); ++result)
        counts << QStringLiteral("%1 %2").arg(result.value()).arg(TextOrNone(result.key()));
    QString text = QStringLiteral("Unit %1, %2\n%3 attempts%4\n")
                       .arg(TerminalText::OneLine(unit), Selection(filter))
                       .arg(attempts.size())
                       .arg(counts.isEmpty() ? QString() : QStringLiteral(": ") + counts.join(QStringLiteral(", ")));
    for (const UnitHistory::Attempt& attempt : attempts) {
        const AttemptRecord& record = attempt.record;
        text += QStringLiteral("%1  %2  row %3  %4  load %5  %6  %7  %8\n")
                    .arg(LocalTime(record.start.toMSecsSinceEpoch()), TextOrNone(attempt.identity.station))
                    .arg(record.row)
                    .arg(TextOrNone(record.port), TextOrNone(record.loadDigest), TextOrNone(record.result),
                         TextOrNone(record.failedStage), TextOrNone(record.error));
    }
    return text.toUtf8();
}

QByteArray UnitJson(const QString& unit, const QVector<UnitHistory::Attempt>& attempts, const Filter& filter)
{
    QJsonArray array;
    for (const UnitHistory::Attempt& attempt : attempts) {
        const AttemptRecord& record = attempt.record;
        array.append(QJsonObject{{QStringLiteral("start"), LocalTime(record.start.toMSecsSinceEpoch())},
                                 {QStringLiteral("station"), attempt.identity.station},
                                 {QStringLiteral("row"), double(record.row)},
                                 {QStringLiteral("port"), record.port},
                                 {QStringLiteral("load"), record.loadDigest},
                                 {QStringLiteral("result"), record.result},
                                 {QStringLiteral("failedStage"), record.failedStage},
                                 {QStringLiteral("error"), record.error},
                                 {QStringLiteral("attempt"), record.attempt}});
    }
    QJsonObject object = SelectionObject(filter);
    object.insert(QStringLiteral("unit"), unit);
    object.insert(QStringLiteral("attempts"), array);
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

} // namespace ReportPrinter
