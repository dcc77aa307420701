#pragma once

#include <QByteArray>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

class QDockWidget;
class QMainWindow;

// Where the station panel stands, and what of it is kept in the settings file's group for it. Its first
// place is beside the window when the screen has room for both, else over the port table, never over the
// window's buttons; afterwards it is where the operator left it, moved onto a screen when that one is gone.
// Docked, it never pushes the window's buttons off the screen, and undocked, it gives the window its width back.
class StationPanelPlace : public QObject
{
    Q_OBJECT

public:
    StationPanelPlace(QDockWidget* panel, QMainWindow* window);

    // The panel's narrowest useful width and the width that shows all of it.
    void SetWidths(int narrowest, int full);
    void Restore(const QString& settingsFile);
    // Takes what the operator left while the window still shows: the window's close hides the panel with it.
    void Keep();
    void Save(const QString& settingsFile) const;
    // Where a panel never placed goes (it may move the window to the screen's edge to make room beside it).
    QRect DefaultPlace();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Kept
    {
        bool visible = true;
        bool floating = true;
        int area = 0;
        QByteArray geometry;
        QPoint windowAt;
    };

    Kept Now() const;
    void PlaceAtFirstShow();
    void KeepWindowOnScreen();
    void GiveWindowItsWidthBack();

    QDockWidget* panel;
    QMainWindow* window;
    int narrowest = 0;
    int full = 0;
    bool placeRestored = false;
    bool windowPlaceRestored = false;
    bool placed = false;
    bool kept = false;
    Kept keptState;
    QSize undockedWindowSize;
};
