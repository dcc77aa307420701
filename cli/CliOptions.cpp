#include "cli/CliOptions.h"

#include "Utility/XmlSafeText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace {

const char kDescription[] =
    "Flashes one load to the devices on up to 16 ports, headless.\n\n"
    "Examples:\n"
    "  praxilo-cli --flash-xml load/flash.xml --scene format-download\n"
    "  praxilo-cli --flash-xml load/flash.xml --ports 1-4,9 --auto-polling --devices 3 --json\n"
    "  praxilo-cli --settings station.ini --operator Ana --work-order WO-17 --record /data/records\n"
    "  praxilo-cli report --since 2024-03-01 --json    (figures from the station database; report --help)\n"
    "  praxilo-cli profile --flash-xml load/flash.xml  (the [Station] lines that lock a station to this load)\n\n"
    "A station whose settings lock its profile refuses --scene, --checksum-level, --require-verified and a\n"
    "--flash-xml other than its pinned load.\n\n"
    "Exit codes: 0 every attempt OK; 1 an attempt failed or a row was quarantined; 2 bad usage, a load that\n"
    "cannot be used, eFuse writing not enabled for --scene efuse-write, a record folder that cannot be\n"
    "written, or an option or load a locked profile refuses; 130 stopped by a signal.";

// "1-4,9": rows 1 to 16, ranges ascending.
QString ParseRows(const QString& text, std::array<bool, 16>& rows)
{
    rows.fill(false);
    if (text.trimmed().isEmpty())
        return QCoreApplication::translate("CliOptions", "--ports: no rows given");
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QStringList bounds = part.trimmed().split(QLatin1Char('-'));
        bool firstOk = false;
        bool lastOk = bounds.size() == 1;
        const int first = bounds.value(0).trimmed().toInt(&firstOk);
        const int last = bounds.size() == 2 ? bounds.value(1).trimmed().toInt(&lastOk) : first;
        if (bounds.size() > 2 || !firstOk || !lastOk)
            return QCoreApplication::translate("CliOptions", "--ports: \"%1\" is not a row or a range of rows").arg(part);
        if (first < 1 || first > 16 || last < 1 || last > 16)
            return QCoreApplication::translate("CliOptions", "--ports: \"%1\" names a row outside 1 to 16").arg(part);
        if (first > last)
            return QCoreApplication::translate("CliOptions", "--ports: the range \"%1\" runs backwards").arg(part);
        for (int row = first; row <= last; ++row)
            rows[static_cast<size_t>(row - 1)] = true;
    }
    return QString();
}

QString CheckPath(const QString& option, const QString& path)
{
    const QString problem = XmlSafeText::Check(option, path);
    if (!problem.isEmpty())
        return problem;
    if (!QFileInfo(path).isFile())
        return QCoreApplication::translate("CliOptions", "%1: no such file: %2").arg(option, path);
    return QString();
}

} // namespace

CliOptions::Outcome CliOptions::Parse(const QStringList& arguments, CliOptions& options, QString& message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption flashXml(QStringLiteral("flash-xml"), QStringLiteral("The load's flash XML."), QStringLiteral("path"));
    const QCommandLineOption settings(QStringLiteral("settings"), QStringLiteral("Station settings file (read only)."), QStringLiteral("file"));
    const QCommandLineOption scene(QStringLiteral("scene"), QStringLiteral("format-download, firmware-upgrade or efuse-write."), QStringLiteral("scene"));
    const QCommandLineOption ports(QStringLiteral("ports"), QStringLiteral("Rows 1-16, e.g. 1-4,9 (default: all)."), QStringLiteral("list"));
    const QCommandLineOption autoPolling(QStringLiteral("auto-polling"), QStringLiteral("Flash each next device on every port."));
    const QCommandLineOption devices(QStringLiteral("devices"), QStringLiteral("With auto polling, end each port after N good devices."), QStringLiteral("N"));
    const QCommandLineOption checksum(QStringLiteral("checksum-level"), QStringLiteral("1 (none), 2 (USB), 4 (storage) or 6 (both)."), QStringLiteral("N"));
    const QCommandLineOption operatorName(QStringLiteral("operator"), QStringLiteral("Operator named in every record."), QStringLiteral("name"));
    const QCommandLineOption workOrder(QStringLiteral("work-order"), QStringLiteral("Work order named in every record."), QStringLiteral("id"));
    const QCommandLineOption record(QStringLiteral("record"), QStringLiteral("Folder of the station record."), QStringLiteral("dir"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON event per line on standard output."));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("Only the summary and errors."));
    const QCommandLineOption requireVerified(QStringLiteral("require-verified"), QStringLiteral("Refuse to run at checksum level 1, which verifies no device."));
    const QCommandLineOption target(QStringLiteral("target"), QStringLiteral("With auto polling, start no more devices once N have ended OK (0: none)."), QStringLiteral("N"));
    const QCommandLineOption readUnitId(QStringLiteral("read-unit-id"), QStringLiteral("Ask each device for its own id when authentication did not, to name it in the record."));
    const QCommandLineOption stageLoad(QStringLiteral("stage-load"), QStringLiteral("Copy the checked load into the station's own folder and flash the copy."));
    const QCommandLineOption broker(QStringLiteral("broker"), QStringLiteral("Factory broker, amqp://host:port (credentials from the settings' CredentialsFile)."), QStringLiteral("uri"));
    const QCommandLineOption quarantine(QStringLiteral("quarantine-after"), QStringLiteral("With auto polling, take a row out after K failures in a row (0: never)."), QStringLiteral("K"));
    parser.addOptions({flashXml, settings, scene, ports, autoPolling, devices, checksum, operatorName, workOrder,
                       record, json, quiet, requireVerified, target, readUnitId, stageLoad, broker, quarantine});

    const Outcome parsed = ParseCommandLine(parser, help, arguments, message);
    if (parsed != Outcome::Run)
        return parsed;
    options.flashXml = parser.value(flashXml);
    options.settingsFile = parser.value(settings);
    options.scene = parser.value(scene);
    options.autoPolling = parser.isSet(autoPolling);
    options.operatorName = parser.value(operatorName);
    options.workOrder = parser.value(workOrder);
    options.recordFolder = parser.value(record);
    options.json = parser.isSet(json);
    options.quiet = parser.isSet(quiet);
    options.requireVerified = parser.isSet(requireVerified);
    options.readUnitId = parser.isSet(readUnitId);
    options.stageLoad = parser.isSet(stageLoad);
    options.broker = parser.value(broker);

    if (parser.isSet(flashXml) && !(message = CheckPath(QStringLiteral("--flash-xml"), options.flashXml)).isEmpty())
        return Outcome::Error;
    if (parser.isSet(settings) && !(message = CheckPath(QStringLiteral("--settings"), options.settingsFile)).isEmpty())
        return Outcome::Error;
    if (parser.isSet(record) && !(message = CheckFolderOption(QStringLiteral("--record"), options.recordFolder)).isEmpty())
        return Outcome::Error;
    if (parser.isSet(scene) && !QStringList{"format-download", "firmware-upgrade", "efuse-write"}.contains(options.scene)) {
        message = QCoreApplication::translate("CliOptions", "--scene: unknown scene \"%1\"").arg(options.scene);
        return Outcome::Error;
    }
    if (parser.isSet(ports)) {
        if (!(message = ParseRows(parser.value(ports), options.rows)).isEmpty())
            return Outcome::Error;
    } else {
        options.rows.fill(true);
    }
    if (parser.isSet(devices)) {
        bool ok = false;
        options.devices = parser.value(devices).toInt(&ok);
        if (!ok || options.devices < 1) {
            message = QCoreApplication::translate("CliOptions", "--devices: \"%1\" is not a count of 1 or more").arg(parser.value(devices));
            return Outcome::Error;
        }
    }
    if (parser.isSet(target)) {
        bool ok = false;
        options.target = parser.value(target).toInt(&ok);
        if (!ok || options.target < 0) {
            message = QCoreApplication::translate("CliOptions", "--target: \"%1\" is not a count of 0 or more").arg(parser.value(target));
            return Outcome::Error;
        }
    }
    for (const QCommandLineOption* bound : {&scene, &checksum, &requireVerified}) {
        if (parser.isSet(*bound))
            options.profileOptions << QStringLiteral("--") + bound->names().first();
    }
    if (parser.isSet(checksum)) {
        bool ok = false;
        options.checksumLevel = parser.value(checksum).toInt(&ok);
        if (!ok || !QList<int>{1, 2, 4, 6}.contains(options.checksumLevel)) {
            message = QCoreApplication::translate("CliOptions", "--checksum-level: \"%1\" is not 1, 2, 4 or 6").arg(parser.value(checksum));
            return Outcome::Error;
        }
    }
    if (parser.isSet(quarantine)) {
        bool ok = false;
        options.quarantineAfter = parser.value(quarantine).toInt(&ok);
        if (!ok || options.quarantineAfter < 0) {
            message = QCoreApplication::translate("CliOptions", "--quarantine-after: \"%1\" is not a count of 0 or more").arg(parser.value(quarantine));
            return Outcome::Error;
        }
    }
    return Outcome::Run;
}
