#include "Utility/FileUtils.h"
#include "Utility/InstanceLock.h"
#include "common/IniSetting.h"
#include "common/LogHousekeeping.h"
#include "record/StationRecordWriter.h"
#include "factory/StationRecorders.h"
#include "cli/CliOptions.h"
#include "cli/CliStation.h"
#include "cli/JournalCommand.h"
#include "cli/ProfileCommand.h"
#include "cli/ReportCommand.h"
#include "logging/Logger.h"
#include "platform/Platform.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    Platform::HoldAllocatorThreshold();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("praxilo-cli"));
    FileUtils::SetAppDirectory(Platform::ExecutableFolder());
    // Standard output is the display's; the log's console copy goes to standard error.
    Logger::Instance().SetConsoleStream(stderr);

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() >= 2 && arguments.at(1) == QStringLiteral("report"))
        return ReportCommand::Run(arguments, stdout, stderr);
    if (arguments.size() >= 2 && arguments.at(1) == QStringLiteral("profile"))
        return ProfileCommand::Run(arguments, stdout, stderr);
    if (arguments.size() >= 2 && arguments.at(1) == QStringLiteral("journal"))
        return JournalCommand::Run(arguments, stdout, stderr);

    CliOptions options;
    QString message;
    switch (CliOptions::Parse(arguments, options, message)) {
    case CliOptions::Outcome::Help:
        std::printf("%s", message.toLocal8Bit().constData());
        return 0;
    case CliOptions::Outcome::Error:
        std::fprintf(stderr, "praxilo-cli: %s\n", message.toLocal8Bit().constData());
        return CliStation::Unusable;
    case CliOptions::Outcome::Run:
        break;
    }
    // Quiet leaves the run's errors and its summary: a failed attempt is one line of the display, the
    // station's own troubles are told by the lines below. The log's console copy would be every device's
    // trace, the design logging some successes at level E too; the log file keeps it all.
    if (options.quiet)
        Logger::Instance().SetConsoleStream(stderr, LogLevel::OFF);

    InstanceLock instance;
    QString holder;
    if (!instance.TryLock(holder)) {
        std::fprintf(stderr, "praxilo-cli: another copy of the tool is running: %s\n", holder.toLocal8Bit().constData());
        return CliStation::Unusable;
    }
    const QString recordFolder = options.recordFolder.isEmpty() ? StationRecordWriter::DefaultFolder() : options.recordFolder;
    const QString recordProblem = StationRecordWriter::CheckFolder(recordFolder);
    if (!recordProblem.isEmpty()) {
        std::fprintf(stderr, "praxilo-cli: the station record cannot be written to %s: %s\n",
                     recordFolder.toLocal8Bit().constData(), recordProblem.toLocal8Bit().constData());
        return CliStation::Unusable;
    }

    // Declared before the station, so they outlive the ports' workers that hand them their records.
    StationRecordWriter records(recordFolder);
    records.SetTroubleHandler(
        [](const QString& reason) {
            std::fprintf(stderr, "praxilo-cli: %s. No port goes on until it can; trying again every %lld s "
                                 "(stop to give up: what is not recorded makes the exit code 3).\n",
                         reason.toLocal8Bit().constData(),
                         static_cast<long long>(StationRecordWriter::kDefaultRetry.count() / 1000));
        },
        [] { std::fprintf(stderr, "praxilo-cli: the station record is written again; the ports go on.\n"); });
    records.SetRebuildHandler(
        [](const QString& report) { std::fprintf(stderr, "praxilo-cli: %s\n", report.toLocal8Bit().constData()); });
    StationRecorders recorders(records, options.settingsFile.isEmpty() ? IniSetting::DefaultPath() : options.settingsFile,
                               options.broker);
    if (!recorders.FactoryProblem().isEmpty())
        std::fprintf(stderr, "praxilo-cli: no factory messages this run: %s\n",
                     recorders.FactoryProblem().toLocal8Bit().constData());
    CliStation station(options, &recorders);
    // Logging starts once the station has started the engine, whose own log it switches on; what was logged
    // before waits for the log file's top.
    const bool prepared = station.Prepare();
    const LogStartResult logging = Logger::Instance().StartLogging();
    if (!logging.Ok()) {
        std::fprintf(stderr, "praxilo-cli: this run is not logged (%s: %s)\n", logging.folder.constData(),
                     logging.reason.toLocal8Bit().constData());
    }
    if (!prepared)
        return CliStation::Unusable;
    LogHousekeeping housekeeping;
    housekeeping.Start(station.StationPolicy());
    station.WatchDisks({recordFolder, QString::fromLocal8Bit(Logger::Instance().GetLogRoot())});
    Platform::DeliverStopRequests(&app, [&station] { station.RequestStop(); });
    station.Run();
    return app.exec();
}
