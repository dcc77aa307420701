// An operator for the real window executable in tests: Qt loads it as an input plugin
// (QT_QPA_GENERIC_PLUGINS=pxloperator, its folder in QT_PLUGIN_PATH). By default it clicks Start All once the
// window is up, after the window's own check of the restored load (half a second after it is built).
// With PXL_OPERATOR_REPORT=<file> it instead writes its process id and where the screen, the window, the panel
// and the window's buttons are; with PXL_OPERATOR_QUIT=1 it then quits: the window's close, Yes to the question.
#include <QAbstractButton>
#include <QApplication>
#include <QDockWidget>
#include <QGenericPlugin>
#include <QMainWindow>
#include <QMessageBox>
#include <QSaveFile>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>

#include <cstdio>

namespace {

QString Line(const QString& name, const QRect& rect)
{
    return QStringLiteral("%1 %2 %3 %4 %5\n").arg(name).arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

void Report(QMainWindow* window, const QString& path)
{
    QString text = QStringLiteral("pid %1\n").arg(QCoreApplication::applicationPid());
    text += Line(QStringLiteral("screen"), window->screen()->availableGeometry());
    text += Line(QStringLiteral("window"), window->frameGeometry());
    if (auto* panel = window->findChild<QDockWidget*>(QStringLiteral("dockStationPanel")); panel->isVisible())
        text += Line(QStringLiteral("panel"), panel->frameGeometry());
    // What of each shows (a check box may reach past its group box's edge); the table's corner button is no control.
    for (QAbstractButton* button : window->centralWidget()->findChildren<QAbstractButton*>()) {
        const QRect shown = button->visibleRegion().boundingRect();
        if (button->isVisible() && qobject_cast<QTableWidget*>(button->parentWidget()) == nullptr)
            text += Line(QStringLiteral("button:") + button->objectName(), QRect(button->mapToGlobal(shown.topLeft()), shown.size()));
    }
    // Whole or not at all: the test reads it as soon as it is there.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        std::fprintf(stderr, "operator: no report to %s\n", qPrintable(path));
}

void Quit(QMainWindow* window)
{
    auto* answer = new QTimer(window);
    QObject::connect(answer, &QTimer::timeout, window, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Yes)->click();
    });
    answer->start(100);
    window->close();
}

} // namespace

class WindowOperatorPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "WindowOperatorPlugin.json")

public:
    QObject* create(const QString&, const QString&) override
    {
        const QString report = qEnvironmentVariable("PXL_OPERATOR_REPORT");
        const bool quit = qEnvironmentVariableIntValue("PXL_OPERATOR_QUIT") != 0;
        auto* look = new QTimer;
        connect(look, &QTimer::timeout, look, [look, report, quit] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* window = qobject_cast<QMainWindow*>(widget);
                auto* startAll = widget->findChild<QAbstractButton*>(QStringLiteral("btnStartAll"));
                if (window == nullptr || startAll == nullptr || !window->isVisible())
                    continue;
                look->stop();
                if (!report.isEmpty()) {
                    QTimer::singleShot(1000, window, [window, report, quit] {
                        Report(window, report);
                        if (quit)
                            QTimer::singleShot(0, window, [window] { Quit(window); });
                    });
                    return;
                }
                QTimer::singleShot(1000, startAll, [startAll] {
                    std::fprintf(stderr, "operator: Start All\n");
                    startAll->click();
                });
                return;
            }
        });
        look->start(100);
        return look;
    }
};

#include "WindowOperatorPlugin.moc"
