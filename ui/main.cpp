#include "Utility/FileUtils.h"
#include "Utility/InstanceLock.h"
#include "platform/Platform.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>

#include <cstdlib>

int main(int argc, char* argv[])
{
    Platform::HoldAllocatorThreshold();
    QApplication app(argc, argv);
    // Set before anything asks for a path beside the executable, the settings file among them.
    FileUtils::SetAppDirectory(Platform::ExecutableFolder());
    QApplication::setFont(QFont(QStringLiteral("Arial"), 9));
    InstanceLock instance;
    QString holder;
    if (!instance.TryLock(holder)) {
        QMessageBox::critical(nullptr, QObject::tr("Kestrane Praxilo V6"),
                              QObject::tr("Another copy of the tool is running: %1").arg(holder));
        return 1;
    }
    MainWindow window(nullptr);
    Platform::DeliverStopRequests(&window, [&window] { window.CloseWithoutQuestion(); });
    // Emitted as the event loop ends, and on Windows also when the session ends, right before the system
    // ends the process: the ports' records and the settings must be kept by then.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] {
        if (!window.EndRun())
            std::_Exit(0);
    });
    window.show();
    return app.exec();
}
