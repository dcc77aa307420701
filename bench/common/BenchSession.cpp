// The tool's own cost per device session: DeviceInstance::Start with its log lines and stage records,
// next to a bare loop making the same engine calls, both at TimeScale 0 against one port, rounds
// interleaved. The difference is what the tool adds to every device; a real session lasts seconds.
// Then the cost of asking each device for its id: sessions with and without the query, in pairs, at the
// TimeScale given as the first argument (default 0) for the number of pairs given as the second.
#include "PortTestSupport.h"

#include "XML/ICmdXMLGenerator.h"
#include "common/DeviceInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <vector>

namespace {

constexpr int kRounds = 7;
constexpr int kSessionsPerRound = 200;

struct Documents
{
    QByteArray flashXml;
    QByteArray daSetting;
    QByteArray slaQuery; // the session asks every device whether it demands authentication
    QList<QByteArray> commands;
};

// The engine calls of one session with nothing of the tool around them.
bool BareSession(const Documents& documents)
{
    QuillonSession* session = quillon_create_session();
    char description[512] = {};
    bool ok = session != nullptr &&
              quillon_scan_device("COM://COM3", description, sizeof description, 600000, nullptr) == 0 &&
              quillon_connect_device(session, description, "115200@", "", "", nullptr) == 0 &&
              quillon_enter_mode(session, "FLASH-MODE-DA", documents.flashXml.constData(),
                                 documents.daSetting.constData(), nullptr) == 0;
    ok = ok && quillon_execute_command(session, documents.slaQuery.constData(), nullptr) == 0;
    for (const QByteArray& command : documents.commands)
        ok = ok && quillon_execute_command(session, command.constData(), nullptr) == 0;
    if (session != nullptr)
        quillon_destroy_session(session);
    return ok;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const double timeScale = arguments.value(1, QStringLiteral("0")).toDouble();
    const int unitPairs = arguments.value(2, QStringLiteral("200")).toInt();
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    ParserTestSupport::StartLogging();
    const simtest::SampleLoad load = PortTestSupport::WriteStationLoad(work.filePath(QStringLiteral("load")));
    if (!PortTestSupport::ConfigureFarm(QStringLiteral("farm.ini"),
                                        QStringLiteral("[Farm]\nTimeScale=%1\nLinkMBps=0\nPorts=1\n").arg(timeScale)) ||
        quillon_startup(nullptr) != 0) {
        std::fprintf(stderr, "the farm did not start\n");
        return 1;
    }

    ICmdXMLGenerator generator;
    RuntimeParameters parameters;
    parameters.checksumLevel = 1;
    generator.SetRuntimeParameters(parameters);
    Documents documents{load.flashXmlPath.toUtf8(), generator.GetRuntimeParameterCmdString().toUtf8(),
                        generator.GetSysPropertyCmdString(QStringLiteral("DA.SLA")).toUtf8(), {}};
    const QString scatter = QDir::toNativeSeparators(load.folder + QStringLiteral("/load_scatter.txt"));
    for (const QString& command : {generator.GetEraseFlashCmdString(), generator.GetFlashAllCmdString(scatter),
                                   generator.GetRebootCmdString(false)})
        documents.commands << command.toUtf8();

    DeviceInstance device;
    device.SetPortName(QStringLiteral("COM3"));
    device.SetParameter("FLASH-XML-PATH", documents.flashXml);
    device.SetParameter("DA-MODE-SETTING", documents.daSetting);
    for (const QByteArray& command : documents.commands)
        device.AddCommand(QString::fromUtf8(command));

    std::vector<double> toolMicros;
    std::vector<double> bareMicros;
    // At TimeScale 0 the comparison with bare calls; at a real scale only the pairs, as rounds would take hours.
    for (int round = 0; round < (timeScale > 0 ? 0 : kRounds); ++round) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < kSessionsPerRound; ++i) {
            if (!BareSession(documents)) {
                std::fprintf(stderr, "bare session failed\n");
                return 1;
            }
        }
        bareMicros.push_back(clock.nsecsElapsed() / 1000.0 / kSessionsPerRound);
        clock.restart();
        for (int i = 0; i < kSessionsPerRound; ++i) {
            device.Start();
            if (device.IsFailed()) {
                std::fprintf(stderr, "tool session failed: %s\n", qPrintable(device.GetLastError()));
                return 1;
            }
        }
        toolMicros.push_back(clock.nsecsElapsed() / 1000.0 / kSessionsPerRound);
    }
    DeviceInstance named;
    named.SetPortName(QStringLiteral("COM3"));
    named.SetParameter("FLASH-XML-PATH", documents.flashXml);
    named.SetParameter("DA-MODE-SETTING", documents.daSetting);
    for (const QByteArray& command : documents.commands)
        named.AddCommand(QString::fromUtf8(command));
    named.SetReadUnitId(true);
    std::vector<double> withoutMicros;
    std::vector<double> differences;
    for (int pair = 0; pair < unitPairs; ++pair) {
        QElapsedTimer clock;
        clock.start();
        // Alternate which goes first, so that neither always meets the farm just after the other.
        DeviceInstance& first = pair % 2 == 0 ? device : named;
        DeviceInstance& second = pair % 2 == 0 ? named : device;
        first.Start();
        const double firstMicros = clock.nsecsElapsed() / 1000.0;
        clock.restart();
        second.Start();
        const double secondMicros = clock.nsecsElapsed() / 1000.0;
        if (device.IsFailed() || named.IsFailed() || named.GetSocid().isEmpty()) {
            std::fprintf(stderr, "unit session failed: %s\n", qPrintable(named.GetLastError()));
            return 1;
        }
        const double without = pair % 2 == 0 ? firstMicros : secondMicros;
        withoutMicros.push_back(without);
        differences.push_back((pair % 2 == 0 ? secondMicros : firstMicros) - without);
    }
    quillon_cleanup();
    if (unitPairs > 0) {
        const double mean = std::accumulate(differences.begin(), differences.end(), 0.0) / differences.size();
        std::printf("unit id query, %d pairs at TimeScale %g: session %.1f us without, difference median %.1f us,"
                    " mean %.1f us\n",
                    unitPairs, timeScale, Median(withoutMicros), Median(differences), mean);
    }
    if (toolMicros.empty())
        return 0;

    const double tool = Median(toolMicros);
    const double bare = Median(bareMicros);
    // Farm defaults: connect 0.4 s, DA load 1.2 s, erase 0.8 s, 256 MB at 40 MB/s.
    const double realisticMicros = (0.4 + 1.2 + 0.8 + 256.0 / 40.0) * 1e6;
    std::printf("session, median of %d rounds x %d sessions (TimeScale 0, logging on)\n", kRounds, kSessionsPerRound);
    std::printf("  bare engine calls      %8.1f us\n", bare);
    std::printf("  DeviceInstance::Start  %8.1f us  (ratio %.2fx)\n", tool, tool / bare);
    std::printf("  tool's own cost        %8.1f us  = %.5f%% of a realistic %.1f s session\n", tool - bare,
                100.0 * (tool - bare) / realisticMicros, realisticMicros / 1e6);
    return 0;
}
