// An operator for the real window executable in tests: Qt loads it as an input plugin
// (QT_QPA_GENERIC_PLUGINS=pxloperator, its folder in QT_PLUGIN_PATH), and it clicks Start All once the
// window is up, after the window's own check of the restored load (half a second after it is built).
#include <QAbstractButton>
#include <QApplication>
#include <QGenericPlugin>
#include <QTimer>

#include <cstdio>

class WindowOperatorPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "WindowOperatorPlugin.json")

public:
    QObject* create(const QString&, const QString&) override
    {
        auto* look = new QTimer;
        connect(look, &QTimer::timeout, look, [look] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                auto* startAll = window->findChild<QAbstractButton*>(QStringLiteral("btnStartAll"));
                if (startAll == nullptr || !window->isVisible())
                    continue;
                look->stop();
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
