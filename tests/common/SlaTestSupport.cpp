#include "SlaTestSupport.h"

#include "Utility/StationFolders.h"
#include "XML/ICmdXMLGenerator.h"
#include "XML/parser/SecDevFWInfoParser.h"
#include "common/DeviceInstance.h"

#include "PortTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace SlaTestSupport {

namespace {

QString ConfigPath()
{
    return QDir::current().absoluteFilePath(QStringLiteral("sla_challenge.cfg"));
}
QString RecordPath()
{
    return QDir::current().absoluteFilePath(QStringLiteral("sla_record.txt"));
}
QString TraceFolder()
{
    return QDir::current().absoluteFilePath(QStringLiteral("engine_trace"));
}

} // namespace

QString LibraryFolder()
{
    return QStringLiteral(PXL_SLA_DIR);
}

QString VariantFolder(const QString& name)
{
    return QStringLiteral(PXL_SLA_VARIANTS_DIR "/") + name;
}

QString FolderWithoutLibrary()
{
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("no_library"));
    QDir().mkpath(folder);
    return folder;
}

QString InstalledStationBin()
{
    const QString bin = QDir::current().absoluteFilePath(QStringLiteral("installed/usr/bin"));
    const QString libraries = QDir::cleanPath(QDir(bin).filePath(StationFolders::InstalledLibraryFolder()));
    const QString file = QStringLiteral("/libSLA_Challenge.so");
    QDir().mkpath(bin);
    QDir().mkpath(libraries);
    // Copies, not links: a library already loaded from the same file would answer for both folders.
    QFile::copy(VariantFolder(QStringLiteral("no-feature-config")) + file, bin + file);
    QFile::copy(LibraryFolder() + file, libraries + file);
    return bin;
}

QString FolderNamed(const QString& name)
{
    if (name == QLatin1String("library"))
        return LibraryFolder();
    if (name == QLatin1String("installed"))
        return InstalledStationBin();
    if (name == QLatin1String("absent"))
        return FolderWithoutLibrary();
    return VariantFolder(name);
}

void UseLibraryConfig()
{
    qputenv("SLA_CHALLENGE_CONFIG", ConfigPath().toUtf8());
    ConfigureLibrary(QByteArray());
}

void ConfigureLibrary(const QByteArray& lines)
{
    QFile::remove(RecordPath());
    TestFiles::WriteFile(ConfigPath(), lines + "\nRecord = " + RecordPath().toUtf8() + "\n");
}

QStringList LibraryRecord()
{
    return QString::fromUtf8(TestFiles::ReadFile(RecordPath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList RecordedFunctions()
{
    QStringList functions;
    for (const QString& line : LibraryRecord())
        functions << line.section(QLatin1Char(' '), 0, 0);
    return functions;
}

QByteArray RecordedData(const QString& line)
{
    const int at = line.indexOf(QLatin1String(" data="));
    return at < 0 ? QByteArray()
                  : QByteArray::fromHex(line.mid(at + 6).section(QLatin1Char(' '), 0, 0).toLatin1());
}

int FlowLines(const ParserTestSupport::LogCapture& log, const char* function, const QString& message)
{
    return log.Count(QLatin1String(function), message, QStringLiteral("DeviceInstance"));
}

CommandCounter::CommandCounter() : path(QDir(TraceFolder()).filePath(QStringLiteral("quillon_engine.log")))
{
    quillon_env_set_log(QUILLON_LOG_ON, TraceFolder().toUtf8().constData());
    start = QFileInfo(path).size();
}

int CommandCounter::Count() const
{
    return int(TestFiles::ReadFile(path).mid(int(start)).count(": quillon_execute_command "));
}

void Prepare(DeviceInstance& device, int index, const simtest::SampleLoad& load)
{
    ICmdXMLGenerator generator;
    RuntimeParameters parameters;
    parameters.systemOs = QStringLiteral("WINDOWS");
    generator.SetRuntimeParameters(parameters);
    device.SetIndex(index);
    device.SetPortName(PortTestSupport::PortName(index));
    device.SetParameter("FLASH-XML-PATH", load.flashXmlPath.toUtf8());
    device.SetParameter("DA-MODE-SETTING", generator.GetRuntimeParameterCmdString().toUtf8());
}

bool DeviceIds(const QString& port, const simtest::SampleLoad& load, QByteArray& hrid, QByteArray& socid)
{
    QString error;
    QuillonSession* session = simtest::OpenDaSession(QStringLiteral("COM://") + port, load, error);
    if (session == nullptr)
        return false;
    ICmdXMLGenerator generator;
    const int result =
        quillon_execute_command(session, generator.GetDevFWInfoCmdString().toUtf8().constData(), nullptr);
    quillon_destroy_session(session);
    SecDevFWInfoParser firmware;
    if (result != QUILLON_OK || !firmware.ParseXMLString(generator.GetMemoryBufferString()))
        return false;
    hrid = QByteArray::fromHex(firmware.GetHrid().toLatin1());
    socid = QByteArray::fromHex(firmware.GetSocid().toLatin1());
    return true;
}

} // namespace SlaTestSupport
