#include "Utility/FileUtils.h"
#include "logging/Platform.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFont>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // Set before anything asks for a path beside the executable, the settings file among them.
    FileUtils::SetAppDirectory(Platform::ExecutableFolder(argv[0]));
    QApplication::setFont(QFont(QStringLiteral("Arial"), 9));
    MainWindow window(nullptr);
    window.show();
    return app.exec();
}
