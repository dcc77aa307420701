#include "ui/StationPanelPlace.h"

#include "common/IniSetting.h"

#include <QDockWidget>
#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace {

const QString kGroup = QStringLiteral("StationPanel");
// What a window manager adds around a window: the panel's frame must still end on the screen.
constexpr int kDecoration = 16;
// A title bar's height above the panel's top, kept on the screen.
constexpr int kTitleBar = 32;

QScreen* ScreenOf(QMainWindow* window)
{
    QScreen* screen = window->screen();
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

// Enough of a rectangle on some screen to grab it by its title and bring it back.
bool OnAScreen(const QRect& frame)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect shown = screen->availableGeometry().intersected(frame);
        if (shown.width() >= 100 && shown.height() >= 40)
            return true;
    }
    return false;
}

} // namespace

StationPanelPlace::StationPanelPlace(QDockWidget* panel, QMainWindow* window)
    : QObject(panel), panel(panel), window(window), undockedWindowSize(window->size())
{
    window->installEventFilter(this);
    panel->installEventFilter(this);
    connect(panel, &QDockWidget::topLevelChanged, this, [this](bool floating) {
        // After the main window's layout has taken or given back the panel's room.
        QTimer::singleShot(0, this, floating ? &StationPanelPlace::GiveWindowItsWidthBack
                                             : &StationPanelPlace::KeepWindowOnScreen);
    });
}

void StationPanelPlace::SetWidths(int narrowestWidth, int fullWidth)
{
    narrowest = narrowestWidth;
    full = std::max(narrowestWidth, fullWidth);
}

void StationPanelPlace::Restore(const QString& settingsFile)
{
    const auto setting = [&settingsFile](const char* key) {
        return IniSetting(settingsFile, kGroup, QString::fromLatin1(key));
    };
    const QPoint windowAt = setting("WindowPosition").ReadValue().toPoint();
    if (!setting("WindowPosition").ReadString().isEmpty() && OnAScreen(QRect(windowAt, window->size()))) {
        window->move(windowAt);
        windowPlaceRestored = true;
    }
    if (!setting("Floating").ReadString().isEmpty() && !setting("Floating").ReadBool()) {
        const auto area = static_cast<Qt::DockWidgetArea>(setting("Area").ReadInt());
        if (area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea || area == Qt::TopDockWidgetArea ||
            area == Qt::BottomDockWidgetArea) {
            panel->setFloating(false);
            window->addDockWidget(area, panel);
        }
    }
    const QString geometry = setting("Geometry").ReadString();
    if (!geometry.isEmpty() && panel->isFloating())
        placeRestored = panel->restoreGeometry(QByteArray::fromBase64(geometry.toLatin1()));
    // A shown panel appears with the window; shown before it, it would be placed against a window not yet up.
    if (!setting("Visible").ReadString().isEmpty() && !setting("Visible").ReadBool())
        panel->hide();
}

StationPanelPlace::Kept StationPanelPlace::Now() const
{
    Kept now;
    now.visible = !panel->isHidden();
    now.floating = panel->isFloating();
    now.area = static_cast<int>(window->dockWidgetArea(panel));
    // A panel never placed has no place of its own yet: saved, it would open at the screen's corner.
    if (placed || placeRestored)
        now.geometry = panel->saveGeometry();
    now.windowAt = window->pos();
    return now;
}

void StationPanelPlace::Keep()
{
    keptState = Now();
    kept = true;
}

void StationPanelPlace::Save(const QString& settingsFile) const
{
    const Kept state = kept ? keptState : Now();
    const auto setting = [&settingsFile](const char* key) {
        return IniSetting(settingsFile, kGroup, QString::fromLatin1(key));
    };
    setting("Visible").WriteBool(state.visible);
    setting("Floating").WriteBool(state.floating);
    setting("Area").WriteValue(state.area);
    if (!state.geometry.isEmpty())
        setting("Geometry").WriteString(QString::fromLatin1(state.geometry.toBase64()));
    if (placed || placeRestored || windowPlaceRestored)
        setting("WindowPosition").WriteValue(state.windowAt);
}

QRect StationPanelPlace::DefaultPlace()
{
    const QRect available = ScreenOf(window)->availableGeometry();
    QRect frame = window->frameGeometry();
    const int height = std::min(panel->sizeHint().height(), available.height() - kTitleBar);
    const int top = std::max(available.top() + kTitleBar, std::min(frame.top(), available.bottom() - height));
    // A window put anywhere by the system moves to the screen's edge when that leaves room for both.
    if (available.right() - frame.right() - kDecoration < narrowest && !windowPlaceRestored &&
        available.width() - frame.width() - kDecoration >= narrowest) {
        window->move(available.left() + (window->pos().x() - frame.left()), window->pos().y());
        frame = window->frameGeometry();
    }
    const int roomRight = available.right() - frame.right() - kDecoration;
    if (roomRight >= narrowest)
        return QRect(frame.right() + 1, top, std::min(full, roomRight), height);
    const int roomLeft = frame.left() - available.left() - kDecoration;
    if (roomLeft >= narrowest) {
        const int width = std::min(full, roomLeft);
        return QRect(frame.left() - width - kDecoration, top, width, height);
    }
    // No room beside: over the port table, whose rows the panel repeats, below the file rows and left of the
    // buttons' column.
    QRect table = frame.adjusted(0, 0, -frame.width() / 4, 0);
    if (auto* tableWidget = window->findChild<QWidget*>(QStringLiteral("tableWidget")))
        table = QRect(tableWidget->mapToGlobal(QPoint(0, 0)), tableWidget->size());
    table = table.intersected(available);
    const int below = table.top() + kTitleBar;
    // Down to the table's end where the panel fits, so the status bar's word stays in sight.
    const int bottom = std::max(table.bottom(), below + panel->minimumSizeHint().height());
    return QRect(table.left(), below, std::min(full, table.width()), std::min(height, std::min(bottom, available.bottom()) - below));
}

void StationPanelPlace::PlaceAtFirstShow()
{
    if (placed || !panel->isFloating())
        return;
    placed = true;
    if (placeRestored && OnAScreen(panel->frameGeometry()))
        return;
    panel->setGeometry(DefaultPlace());
}

bool StationPanelPlace::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window && event->type() == QEvent::Show && !panel->isHidden())
        PlaceAtFirstShow();
    // A panel hidden at start is placed when the operator first shows it.
    if (watched == panel && event->type() == QEvent::Show && window->isVisible())
        PlaceAtFirstShow();
    if (watched == window && event->type() == QEvent::Resize && (panel->isFloating() || panel->isHidden()))
        undockedWindowSize = window->size();
    return QObject::eventFilter(watched, event);
}

// Docked, the panel widens the window: its right edge, where Stop All is, stays on the screen.
void StationPanelPlace::KeepWindowOnScreen()
{
    if (panel->isFloating())
        return;
    const QRect available = ScreenOf(window)->availableGeometry();
    const QRect frame = window->frameGeometry();
    if (frame.width() > available.width())
        window->resize(std::max(window->minimumSizeHint().width(), window->width() - (frame.width() - available.width())),
                       window->height());
    const QRect fitted = window->frameGeometry();
    if (fitted.right() > available.right())
        window->move(window->pos() - QPoint(std::min(fitted.right() - available.right(), fitted.left() - available.left()), 0));
}

void StationPanelPlace::GiveWindowItsWidthBack()
{
    if (panel->isFloating() && window->width() > undockedWindowSize.width())
        window->resize(undockedWindowSize.width(), window->height());
}
