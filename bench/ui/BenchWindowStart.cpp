// How long the window takes to start, against a bare window that shows a table of the same 16 rows and
// columns: each start is a process of its own (offscreen, a scratch folder for the settings, the logs and the
// record), the two kinds taking turns at going first. Each process times itself to the end of the window's
// first paint: the wall time from main(), its CPU time, and of that the construction's and the time from
// show() to that paint. Asserts nothing.
//   bench_window_start [--repeat R, default 10]
//   bench_window_start --one window|bare [picture.png]   one start, printing its figures
#include "Utility/FileUtils.h"
#include "platform/Platform.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QHeaderView>
#include <QMainWindow>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kRows = 16;
constexpr int kColumns = 9;

// What a plain Qt program shows: the window's table, made as simply as Qt allows.
std::unique_ptr<QMainWindow> BareWindow()
{
    auto window = std::make_unique<QMainWindow>();
    auto* table = new QTableWidget(kRows, kColumns, window.get());
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column)
            table->setItem(row, column, new QTableWidgetItem(QStringLiteral("COM%1").arg(row + 3)));
    }
    window->setCentralWidget(table);
    return window;
}

// Calls back once the widget's first paint, children included, has ended.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(std::function<void()> painted) : painted(std::move(painted)) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            // The children paint in the same pass, right after the window itself.
            QTimer::singleShot(0, this, painted);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> painted;
    bool seen = false;
};

// The process's CPU time since it began, its other threads' included, in ms: on a machine shared with other
// work the wall time also holds the waits for a core.
double CpuMs()
{
    return double(std::clock()) * 1000.0 / CLOCKS_PER_SEC;
}

// The figures of one start, each in ms.
enum Figure
{
    kWall,         // from main() to the end of the first paint
    kCpu,          // of the process, to the end of the first paint
    kConstruction, // CPU, the window's constructor alone
    kToPaint,      // CPU, from show() to the end of the first paint
    kFigures
};

// With a file name, the first paint is also saved there, to tell whether a change altered what is shown.
int One(int argc, char* argv[], bool bare, const char* grab, QElapsedTimer& sinceMain)
{
    Platform::HoldAllocatorThreshold();
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("Arial"), 9));
    FileUtils::SetAppDirectory(QFile::encodeName(QDir::currentPath()));
    const double before = CpuMs();
    std::unique_ptr<QMainWindow> window = bare ? BareWindow() : std::make_unique<MainWindow>(nullptr);
    const double made = CpuMs();
    double figures[kFigures] = {};
    FirstPaint watch([&] {
        figures[kWall] = double(sinceMain.nsecsElapsed()) / 1e6;
        figures[kCpu] = CpuMs();
        figures[kConstruction] = made - before;
        figures[kToPaint] = figures[kCpu] - made;
        if (grab != nullptr)
            window->grab().save(QString::fromLocal8Bit(grab));
        app.quit();
    });
    window->installEventFilter(&watch);
    window->resize(1309, 711);
    window->show();
    app.exec();
    // The window's own messages go to the same output; the figures are on a line of their own.
    std::printf("\nstarted:");
    for (const double figure : figures)
        std::printf(" %.2f", figure);
    std::printf("\n");
    return 0;
}

bool Run(const QString& program, const char* kind, std::vector<double>& figures)
{
    QTemporaryDir scratch;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), scratch.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral("config")));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(scratch.path());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {QStringLiteral("--one"), QLatin1String(kind)});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return false;
    figures.clear();
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        if (line.startsWith("started: ")) {
            for (const QByteArray& figure : line.mid(9).trimmed().split(' '))
                figures.push_back(figure.toDouble());
        }
    }
    return figures.size() == kFigures;
}

// Min, median and max.
QByteArray Spread(std::vector<double> values, int decimals = 1)
{
    std::sort(values.begin(), values.end());
    return QByteArray::number(values.front(), 'f', decimals) + " / " +
           QByteArray::number(values[values.size() / 2], 'f', decimals) + " / " +
           QByteArray::number(values.back(), 'f', decimals);
}

} // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--one") == 0)
            return One(argc, argv, qstrcmp(argv[i + 1], "bare") == 0, i + 2 < argc ? argv[i + 2] : nullptr,
                       sinceMain);
    }
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    options.addOption({QStringLiteral("repeat"), QStringLiteral("Starts of each kind."), QStringLiteral("R"),
                       QStringLiteral("10")});
    options.process(app);
    const int repeat = qMax(1, options.value(QStringLiteral("repeat")).toInt());
    std::vector<double> figures[2][kFigures]; // window, bare
    std::vector<double> ratios[2];            // of the wall and the CPU time
    std::printf(
        "ms to the end of the first paint: wall from main(), CPU of the process (construction, show to "
        "paint)\n");
    for (int round = 0; round < repeat; ++round) {
        std::vector<double> starts[2];
        for (int turn = 0; turn < 2; ++turn) {
            const int kind = (turn + round) % 2;
            if (!Run(QCoreApplication::applicationFilePath(), kind == 1 ? "bare" : "window", starts[kind])) {
                std::fprintf(stderr, "a start failed\n");
                return 1;
            }
        }
        std::printf("%2d  window %6.1f, %6.1f (%5.1f, %5.1f)  bare %6.1f, %6.1f (%5.1f, %5.1f)\n", round + 1,
                    starts[0][kWall], starts[0][kCpu], starts[0][kConstruction], starts[0][kToPaint],
                    starts[1][kWall], starts[1][kCpu], starts[1][kConstruction], starts[1][kToPaint]);
        for (int kind = 0; kind < 2; ++kind) {
            for (int figure = 0; figure < kFigures; ++figure)
                figures[kind][figure].push_back(starts[kind][size_t(figure)]);
        }
        ratios[0].push_back(starts[0][kWall] / starts[1][kWall]);
        ratios[1].push_back(starts[0][kCpu] / starts[1][kCpu]);
    }
    std::printf("min / median / max of %d\n", repeat);
    for (int kind = 0; kind < 2; ++kind) {
        const std::vector<double>* of = figures[kind];
        std::printf("%-7s wall %s, CPU %s (construction %s, show to paint %s)\n",
                    kind == 0 ? "window" : "bare", Spread(of[kWall]).constData(),
                    Spread(of[kCpu]).constData(), Spread(of[kConstruction]).constData(),
                    Spread(of[kToPaint]).constData());
    }
    std::printf("window / bare, each round's: wall %s, CPU %s\n", Spread(ratios[0], 2).constData(),
                Spread(ratios[1], 2).constData());
    return 0;
}
