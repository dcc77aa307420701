// An operator for the real window executable in tests: Qt loads it as an input plugin
// (QT_QPA_GENERIC_PLUGINS=pxloperator, with its folder in QT_PLUGIN_PATH), and it clicks Start All once
// the window is up, as the operator would. The executable itself is not changed for it.
#include <QAbstractButton>
#include <QApplication>
#include <QGenericPlugin>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

// Long enough for the window's check of the restored load, which runs half a second after it is built.
constexpr int kSettleMs = 1000;
constexpr int kLookMs = 100;

class WindowOperator : public QObject
{
public:
    WindowOperator()
    {
        connect(&look, &QTimer::timeout, this, &WindowOperator::Look);
        look.start(kLookMs);
    }

private:
    void Look()
    {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* startAll = window->findChild<QAbstractButton*>(QStringLiteral("btnStartAll"));
            if (startAll == nullptr || !window->isVisible() || !startAll->isEnabled())
                continue;
            look.stop();
            const QPointer<QAbstractButton> button(startAll);
            QTimer::singleShot(kSettleMs, this, [button] {
                if (button.isNull())
                    return;
                std::fprintf(stderr, "operator: Start All\n");
                button->click();
            });
            return;
        }
    }

    QTimer look;
};

} // namespace

class WindowOperatorPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "WindowOperatorPlugin.json")

public:
    QObject* create(const QString&, const QString&) override { return new WindowOperator; }
};

#include "WindowOperatorPlugin.moc"
