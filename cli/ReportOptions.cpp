#include "cli/ReportOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QRegularExpression>

namespace {

const char kDescription[] =
    "Figures from the station database per row, per port, per load and per failed stage: attempts,\n"
    "OK, FAIL, CANL, yield, median and slowest stage times, the most frequent errors, and devices per\n"
    "hour over the hours with at least one attempt. Times are local; a date alone in --until includes\n"
    "that whole day. --unit lists one unit's attempts (every station, load and result) instead.\n\n"
    "Examples:\n"
    "  praxilo-cli report\n"
    "  praxilo-cli report --since 2024-03-01 --until \"2024-03-07 18:00\" --json\n"
    "  praxilo-cli report --record /data/records --load 0123456789abcdef\n"
    "  praxilo-cli report --unit 5eed01c0ffee";

QString Translate(const char* text)
{
    return QCoreApplication::translate("ReportOptions", text);
}

} // namespace

qint64 ReportOptions::ParseLocalTime(const QString& text, bool endOfDay)
{
    const QString trimmed = text.trimmed();
    static const QRegularExpression dateOnly(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    static const QRegularExpression dateTime(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}[ T]\\d{2}:\\d{2}(:\\d{2})?$"));
    if (dateOnly.match(trimmed).hasMatch()) {
        const QDate day = QDate::fromString(trimmed, Qt::ISODate);
        if (!day.isValid())
            return -1;
        return (endOfDay ? day.addDays(1) : day).startOfDay(Qt::LocalTime).toMSecsSinceEpoch();
    }
    if (!dateTime.match(trimmed).hasMatch())
        return -1;
    QString iso = trimmed;
    iso[10] = QLatin1Char('T');
    const QDateTime time = QDateTime::fromString(iso, Qt::ISODate);
    return time.isValid() ? time.toMSecsSinceEpoch() : -1;
}

ReportOptions::Outcome ReportOptions::Parse(const QStringList& arguments, ReportOptions& options,
                                            QString& message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption record(QStringLiteral("record"), QStringLiteral("Folder of the station record."),
                                    QStringLiteral("dir"));
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Attempts started at or after this local time."),
                                   QStringLiteral("time"));
    const QCommandLineOption until(QStringLiteral("until"),
                                   QStringLiteral("Attempts started before this local time."),
                                   QStringLiteral("time"));
    const QCommandLineOption load(QStringLiteral("load"), QStringLiteral("Only the load with this digest."),
                                  QStringLiteral("digest"));
    const QCommandLineOption unit(QStringLiteral("unit"),
                                  QStringLiteral("Only this unit's attempts, by its id (hexadecimal digits)."),
                                  QStringLiteral("id"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON document on standard output."));
    parser.addOptions({record, since, until, load, unit, json});

    QStringList rest = arguments;
    if (rest.size() >= 2)
        rest.removeAt(1);
    const Outcome parsed = ParseCommandLine(parser, help, rest, message);
    if (parsed != Outcome::Run)
        return parsed;
    options.recordFolder = parser.value(record);
    options.json = parser.isSet(json);
    if (parser.isSet(record) &&
        !(message = CheckFolderOption(QStringLiteral("--record"), options.recordFolder)).isEmpty())
        return Outcome::Error;
    if (parser.isSet(since) && (options.filter.sinceMs = ParseLocalTime(parser.value(since), false)) < 0) {
        message = Translate("--since: \"%1\" is not a local time such as 2024-03-01 14:30")
                      .arg(parser.value(since));
        return Outcome::Error;
    }
    if (parser.isSet(until) && (options.filter.untilMs = ParseLocalTime(parser.value(until), true)) < 0) {
        message = Translate("--until: \"%1\" is not a local time such as 2024-03-01 14:30")
                      .arg(parser.value(until));
        return Outcome::Error;
    }
    if (options.filter.sinceMs >= 0 && options.filter.untilMs >= 0 &&
        options.filter.untilMs <= options.filter.sinceMs) {
        message = Translate("--until is not after --since");
        return Outcome::Error;
    }
    options.filter.load = parser.value(load).trimmed().toLower();
    static const QRegularExpression digest(QStringLiteral("^[0-9a-f]{16}$"));
    if (parser.isSet(load) && !digest.match(options.filter.load).hasMatch()) {
        message =
            Translate("--load: \"%1\" is not a load digest (16 hexadecimal digits)").arg(parser.value(load));
        return Outcome::Error;
    }
    // Stations keep a unit's id in lowercase, whatever case it is typed in.
    options.unit = parser.value(unit).trimmed().toLower();
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]+$"));
    if (parser.isSet(unit) && !hex.match(options.unit).hasMatch()) {
        message = Translate("--unit: \"%1\" is not a unit id (hexadecimal digits)").arg(parser.value(unit));
        return Outcome::Error;
    }
    return Outcome::Run;
}
