#include "Utility/FileUtils.h"
#include "cli/CliOptions.h"
#include "cli/CliStation.h"
#include "logging/Logger.h"
#include "logging/Platform.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("praxilo-cli"));
    FileUtils::SetAppDirectory(Platform::ExecutableFolder(argv[0]));
    // Standard output is the display's; the log's console copy goes to standard error.
    Logger::Instance().SetConsoleStream(stderr);

    CliOptions options;
    QString message;
    switch (CliOptions::Parse(QCoreApplication::arguments(), options, message)) {
    case CliOptions::Outcome::Help:
        std::printf("%s", message.toLocal8Bit().constData());
        return 0;
    case CliOptions::Outcome::Error:
        std::fprintf(stderr, "praxilo-cli: %s\n", message.toLocal8Bit().constData());
        return CliStation::Unusable;
    case CliOptions::Outcome::Run:
        break;
    }

    const LogStartResult logging = Logger::Instance().StartLogging();
    if (!logging.Ok()) {
        std::fprintf(stderr, "praxilo-cli: this run is not logged (%s: %s)\n", logging.folder.constData(),
                     logging.reason.toLocal8Bit().constData());
    }

    CliStation station(options, nullptr);
    if (!station.Prepare())
        return CliStation::Unusable;
    Platform::DeliverStopRequests(&app, [&station] { station.RequestStop(); });
    station.Run();
    return app.exec();
}
