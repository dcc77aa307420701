// Takes a picture of the real window in the middle of a 16-port run on the simulated farm, for the README
// and for anyone who wants to see what the operator sees:
//     pxl_window_shot --load sample-load/flash.xml --out window.png [--after-ms 2500]
// With --screen-out it also takes the whole screen as the operator sees it, the station panel where it first
// stands (run it on a screen of the wanted size, an X server in memory for one).
#include "Utility/FileUtils.h"
#include "common/PortManager.h"
#include "ui/MainWindow.h"

#include "quillon_sim.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// Sixteen devices, a link slow enough that every row is caught mid-transfer, and one port that fails.
// More than the run makes before its pictures, so the panel shows how many are left.
constexpr int kTarget = 200;

const char kFarm[] = "[Farm]\nTimeScale=0.25\nArrivalMs=0\nArrivalStepMs=40\nLinkMBps=40\n"
                     "[Port-COM9]\nFail=connect\n";

class AlwaysYes : public OperatorPrompt
{
public:
    void Tell(Kind, const QString& title, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
    bool Ask(const QString&, const QString&) override { return true; }
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("Arial"), 9));
    QCommandLineParser options;
    options.addHelpOption();
    options.addOption({QStringLiteral("load"), QStringLiteral("The flash XML of the load."), QStringLiteral("path")});
    options.addOption({QStringLiteral("out"), QStringLiteral("The PNG to write."), QStringLiteral("path")});
    options.addOption({QStringLiteral("after-ms"), QStringLiteral("When to take the picture."), QStringLiteral("ms"),
                       QStringLiteral("2500")});
    options.addOption({QStringLiteral("panel-out"), QStringLiteral("The PNG of the station panel, if wanted."),
                       QStringLiteral("path")});
    options.addOption({QStringLiteral("panel-after-ms"),
                       QStringLiteral("When to take the panel's picture; later, so that devices have ended."),
                       QStringLiteral("ms"), QStringLiteral("8000")});
    options.addOption({QStringLiteral("screen-out"),
                       QStringLiteral("The PNG of the whole screen, taken with the panel's picture."), QStringLiteral("path")});
    options.process(app);
    const QString load = QFileInfo(options.value(QStringLiteral("load"))).absoluteFilePath();
    const QString out = options.value(QStringLiteral("out"));
    if (!QFileInfo(load).isFile() || out.isEmpty()) {
        std::fprintf(stderr, "usage: pxl_window_shot --load <flash.xml> --out <file.png>\n");
        return 2;
    }

    QTemporaryDir work;
    QFile farm(work.filePath(QStringLiteral("farm.ini")));
    if (!farm.open(QIODevice::WriteOnly) || farm.write(kFarm) < 0)
        return 1;
    farm.close();
    if (quillon_sim_configure(QFile::encodeName(farm.fileName()).constData()) != 0) {
        std::fprintf(stderr, "the farm file was refused\n");
        return 1;
    }
    QDir::setCurrent(work.path());
    // The station's settings file goes to the scratch folder, never beside the real tool.
    FileUtils::SetAppDirectory(QFile::encodeName(work.path()));

    // The rows bound to their ports as a scan leaves them, so the panel names them as on a station.
    QFile settings(work.filePath(QStringLiteral("pxl_setting.ini")));
    QByteArray channels = "[ChanneltNumber]\nScanType=0\n[ChannelInfo]\n";
    for (int row = 0; row < PortManager::kPortCount; ++row)
        channels += QStringLiteral("Channel-%1=Sim Boot ROM Serial (COM%2)\n").arg(row, 2, 10, QLatin1Char('0')).arg(3 + row).toUtf8();
    if (!settings.open(QIODevice::WriteOnly) || settings.write(channels) < 0)
        return 1;
    settings.close();

    AlwaysYes yes;
    MainWindow window(nullptr);
    window.SetOperatorPrompt(&yes);
    window.resize(1309, 711);
    window.show();
    window.SetElementContent(QStringLiteral("leFlashXmlPath"), load);
    window.SetElementCheck(QStringLiteral("rbFormatDownload"), true);
    window.SetElementCheck(QStringLiteral("cbAutoPolling"), true);
    window.SetElementCheck(QStringLiteral("cbSelectAllPorts"), true);
    window.Ports().SetScanType(0);
    for (int row = 0; row < PortManager::kPortCount; ++row) {
        window.Ports().Device(row).SetPortName(QStringLiteral("COM%1").arg(3 + row));
        window.Ports().Device(row).SetPortType(QStringLiteral("BROM"));
        window.SetTableWidgetItemContext(QStringLiteral("tableWidget"), row, 0,
                                         QStringLiteral("COM%1+BROM").arg(3 + row));
        window.SetPortSelectState(static_cast<uint>(row), 2);
    }
    // As the operator starts a shift with a target: the panel hands it to the port manager at Start All.
    window.findChild<QSpinBox*>(QStringLiteral("sbStationTarget"))->setValue(kTarget);
    window.findChild<QPushButton*>(QStringLiteral("btnStartAll"))->click();

    const QString panelOut = options.value(QStringLiteral("panel-out"));
    const QString screenOut = options.value(QStringLiteral("screen-out"));
    int result = 1;
    QTimer::singleShot(options.value(QStringLiteral("after-ms")).toInt(), &app, [&] {
        result = window.grab().save(out) ? 0 : 1;
        if (panelOut.isEmpty() && screenOut.isEmpty()) {
            window.Ports().StopAll();
            app.quit();
        }
    });
    if (!panelOut.isEmpty() || !screenOut.isEmpty()) {
        QTimer::singleShot(options.value(QStringLiteral("panel-after-ms")).toInt(), &app, [&] {
            auto* panel = window.findChild<StationPanel*>(QStringLiteral("dockStationPanel"));
            panel->Refresh();
            if (!panelOut.isEmpty() && !panel->grab().save(panelOut))
                result = 1;
            if (!screenOut.isEmpty() && !window.screen()->grabWindow(0).save(screenOut))
                result = 1;
            window.Ports().StopAll();
            app.quit();
        });
    }
    app.exec();
    if (result == 0)
        std::printf("%s\n", qPrintable(QFileInfo(out).absoluteFilePath()));
    return result;
}
