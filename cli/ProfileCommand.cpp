#include "cli/ProfileCommand.h"

#include "XML/parser/FlashXMLParser.h"
#include "cli/CommandLine.h"
#include "cli/HeadlessFrontEnd.h"
#include "common/IniSetting.h"
#include "common/PortManager.h"
#include "record/LoadDigest.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QSettings>

namespace {

constexpr int kPrinted = 0;
constexpr int kUnusable = 2;

const char kDescription[] =
    "Checks a load as a run would and prints the [Station] group that locks this station to it: paste it\n"
    "over the group of the settings file (an installed station's is the installer's). The group's other\n"
    "keys in --settings are kept.\n\n"
    "Example:\n"
    "  praxilo-cli profile --flash-xml load/flash.xml --settings station.ini";

int Fail(FILE* err, const QString& message)
{
    std::fprintf(err, "praxilo-cli profile: %s\n", message.toLocal8Bit().constData());
    return kUnusable;
}

// The keys the printed group sets itself are left out of what the file already has.
QStringList OtherStationLines(const QString& settingsFile)
{
    QStringList lines;
    if (!QFileInfo(settingsFile).isFile())
        return lines;
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Station"));
    for (const QString& key : settings.childKeys()) {
        if (key.compare(QLatin1String("Locked"), Qt::CaseInsensitive) == 0 ||
            key.compare(QLatin1String("LoadDigest"), Qt::CaseInsensitive) == 0)
            continue;
        const QVariant value = settings.value(key);
        const QString text = value.type() == QVariant::StringList
                                 ? QLatin1Char('"') + value.toStringList().join(QLatin1Char(',')) + QLatin1Char('"')
                                 : value.toString();
        lines << key + QLatin1Char('=') + text;
    }
    return lines;
}

} // namespace

int ProfileCommand::Run(const QStringList& arguments, FILE* out, FILE* err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption flashXml(QStringLiteral("flash-xml"), QStringLiteral("The load's flash XML."), QStringLiteral("path"));
    const QCommandLineOption settings(QStringLiteral("settings"), QStringLiteral("Settings file whose other [Station] keys are kept."), QStringLiteral("file"));
    parser.addOptions({flashXml, settings});
    QStringList rest = arguments;
    rest.removeAt(1);
    QString message;
    switch (ParseCommandLine(parser, help, rest, message)) {
    case CommandLineOutcome::Help:
        std::fprintf(out, "%s", message.toLocal8Bit().constData());
        return kPrinted;
    case CommandLineOutcome::Error:
        return Fail(err, message);
    case CommandLineOutcome::Run:
        break;
    }
    if (!parser.isSet(flashXml))
        return Fail(err, QStringLiteral("--flash-xml: a load is needed"));
    const QString load = QFileInfo(parser.value(flashXml)).absoluteFilePath();
    const QString settingsFile = parser.isSet(settings) ? parser.value(settings) : IniSetting::DefaultPath();
    if (parser.isSet(settings) && !QFileInfo(settingsFile).isFile())
        return Fail(err, QStringLiteral("--settings: no such file: %1").arg(settingsFile));
    FlashXMLParser flashParser;
    if (!QFileInfo(load).isFile() || !flashParser.ParseXMLFile(load))
        return Fail(err, QStringLiteral("--flash-xml: the flash XML %1 cannot be used: %2").arg(load, flashParser.GetErrorMsg()));

    // Only a load the image checker passes is worth pinning: the digest of a broken one pins nothing usable.
    PortManager manager;
    HeadlessFrontEnd frontEnd(manager);
    manager.SetSaveSettingsAtExit(false);
    RunSettings run;
    run.flashXmlPath = load;
    manager.SetRunSettings(run);
    if (manager.VerifyChecksum() != 0) {
        const QString detail = manager.GetLoadProblem();
        return Fail(err, QStringLiteral("--flash-xml: the load %1 failed its image check%2")
                             .arg(load, detail.isEmpty() ? QString() : QStringLiteral(": ") + detail));
    }
    const QString digest = LoadDigest(flashParser.GetScatterFilePath());
    if (digest.isEmpty())
        return Fail(err, QStringLiteral("--flash-xml: the load %1 has no checksum list to take a digest of").arg(load));

    QStringList lines{QStringLiteral("[Station]"), QStringLiteral("Locked=true"), QStringLiteral("LoadDigest=") + digest};
    lines << OtherStationLines(settingsFile);
    std::fprintf(out, "%s\n", lines.join(QLatin1Char('\n')).toUtf8().constData());
    std::fflush(out);
    return kPrinted;
}
