// Drives the real window through a long auto-polling run the way an operator does: picks the load, ticks
// Format+Download, auto polling and every port, clicks Scan and then Start All, and after the given time closes
// the window in the middle of the run, answering Quit with yes. The farm comes from QUILLON_FARM, the station
// record goes where the window keeps it (under XDG_DATA_HOME); scripts/window-soak prepares both and checks
// the record against the farm's ledger.
//     pxl_window_soak --load flash.xml --seconds 240 --shot window.png --runs runs.json
#include "Utility/FileUtils.h"
#include "common/PortManager.h"
#include "platform/Platform.h"
#include "ui/MainWindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

// Every box and question is written down; a question is answered yes, as the operator of the run would.
class AnsweringOperator : public OperatorPrompt
{
public:
    void Tell(Kind, const QString& title, const QString& text) override
    {
        std::fprintf(stderr, "box: %s: %s\n", qPrintable(title), qPrintable(text));
        ++told;
    }
    bool Ask(const QString& title, const QString& text) override
    {
        std::fprintf(stderr, "asked: %s: %s -> yes\n", qPrintable(title), qPrintable(text));
        return true;
    }
    int told = 0;
};

QString Now()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

template <typename Widget>
Widget* Find(MainWindow& window, const char* name)
{
    auto* widget = window.findChild<Widget*>(QLatin1String(name));
    if (widget == nullptr) {
        std::fprintf(stderr, "the window has no %s\n", name);
        std::exit(1);
    }
    return widget;
}

// A click on a check box or radio button that leaves it checked, whatever it showed before.
void Tick(QWidget& parent, const char* name)
{
    auto* button = parent.findChild<QAbstractButton*>(QLatin1String(name));
    if (button == nullptr) {
        std::fprintf(stderr, "the window has no %s\n", name);
        std::exit(1);
    }
    if (!button->isChecked())
        button->click();
}

// Runs the event loop until the condition holds; false if it still does not after the bound.
bool WaitFor(const std::function<bool()>& condition, int boundMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > boundMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

int ShownSuccesses(MainWindow& window)
{
    const QString text = Find<QLabel>(window, "lblPollingTimes")->text();
    return text.section(QLatin1Char(':'), 1).trimmed().toInt();
}

} // namespace

int main(int argc, char* argv[])
{
    // As the window's own main does, so that the soak's memory is the window's.
    Platform::HoldAllocatorThreshold();
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("Arial"), 9));
    QCommandLineParser options;
    options.addHelpOption();
    options.addOption({QStringLiteral("load"), QStringLiteral("The flash XML of the load."), QStringLiteral("path")});
    options.addOption({QStringLiteral("seconds"), QStringLiteral("How long Start All runs before the window is closed."),
                       QStringLiteral("s"), QStringLiteral("180")});
    options.addOption({QStringLiteral("shot"), QStringLiteral("A PNG of the window half way through."),
                       QStringLiteral("path")});
    options.addOption({QStringLiteral("runs"), QStringLiteral("Where to write the run's times and what the window "
                                                              "showed, for soak_check.py."),
                       QStringLiteral("path")});
    options.process(app);
    const QString load = QFileInfo(options.value(QStringLiteral("load"))).absoluteFilePath();
    const int seconds = options.value(QStringLiteral("seconds")).toInt();
    if (!QFileInfo(load).isFile() || seconds <= 0 || !options.isSet(QStringLiteral("runs"))) {
        std::fprintf(stderr, "usage: pxl_window_soak --load <flash.xml> --seconds <s> --runs <runs.json> "
                             "[--shot <file.png>]\n");
        return 2;
    }
    // The settings file goes to the working folder, never beside the real tool.
    FileUtils::SetAppDirectory(QFile::encodeName(QDir::currentPath()));

    AnsweringOperator operatorAtTheStation;
    // Destroyed before the run's end is taken: that is where the rows cut by the close write their records.
    auto owned = std::make_unique<MainWindow>(nullptr);
    MainWindow& window = *owned;
    window.SetOperatorPrompt(&operatorAtTheStation);
    window.SetFileDialog([&load](QWidget*, const QString&, const QString&) { return load; });
    window.resize(1309, 711);
    window.show();

    Find<QAbstractButton>(window, "btnFlashXmlPath")->click();
    if (Find<QLineEdit>(window, "leFlashXmlPath")->text().isEmpty()) {
        std::fprintf(stderr, "the window refused the load %s\n", qPrintable(load));
        return 1;
    }
    // The USB checksum, as the headless soak runs with: without it the engine reboots a device whose images
    // arrived corrupted, and the tool has nothing to tell it from a good one.
    Find<QAction>(window, "actionOptions")->trigger();
    Tick(window.Options(), "cbUSBChecksum");
    window.Options().close();
    Tick(window, "rbFormatDownload");
    Tick(window, "cbAutoPolling");
    Tick(window, "cbSelectAllPorts");

    QJsonObject run{{QStringLiteral("begin"), Now()}, {QStringLiteral("interrupted"), true},
                    {QStringLiteral("killed"), false}};
    Find<QAbstractButton>(window, "btnScan")->click();
    auto* startAll = Find<QAbstractButton>(window, "btnStartAll");
    if (!WaitFor([&] { return !window.Ports().IsScanBusy() && startAll->isEnabled(); }, 120000)) {
        std::fprintf(stderr, "the scan did not end within two minutes\n");
        return 1;
    }
    QJsonArray rows;
    for (int row = 0; row < PortManager::kPortCount; ++row)
        rows.append(row + 1);
    run.insert(QStringLiteral("rows"), rows);
    startAll->click();

    int result = 0;
    const QString shot = options.value(QStringLiteral("shot"));
    if (!shot.isEmpty()) {
        QTimer::singleShot(seconds * 500, &window, [&] {
            if (!window.grab().save(shot)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(shot));
                result = 1;
            }
        });
    }
    bool closed = false;
    QTimer::singleShot(seconds * 1000, &window, [&] {
        run.insert(QStringLiteral("shownOk"), ShownSuccesses(window));
        closed = window.close();
    });
    app.exec();
    owned.reset();
    run.insert(QStringLiteral("end"), Now());
    run.insert(QStringLiteral("boxes"), operatorAtTheStation.told);
    if (!closed) {
        std::fprintf(stderr, "the window did not close\n");
        result = 1;
    }
    QFile out(options.value(QStringLiteral("runs")));
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(QJsonArray{run}).toJson()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out.fileName()));
        return 1;
    }
    return result;
}
