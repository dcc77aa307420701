#include "ui/StationTargetControl.h"

#include "common/PortManager.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

#include <algorithm>

namespace {

// More than a station makes in a year of shifts; the spin box needs a bound.
constexpr int kLargestTarget = 9999999;

} // namespace

StationTargetControl::StationTargetControl(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("wdgStationTarget"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* caption = new QLabel(tr("Target"), this);
    caption->setObjectName(QStringLiteral("lblStationTarget"));
    target = new QSpinBox(this);
    target->setObjectName(QStringLiteral("sbStationTarget"));
    target->setRange(0, kLargestTarget);
    target->setSpecialValueText(tr("None"));
    // Only a click gives it the keyboard: a panel window that takes the focus, or a wheel turned over it on the
    // way to the rows, must not change the shift's target.
    target->setFocusPolicy(Qt::ClickFocus);
    target->installEventFilter(this);
    target->setToolTip(tr("Good devices after which auto polling starts no more devices; None for no target.\n"
                          "Takes effect at the next Start All."));
    caption->setBuddy(target);
    remaining = new QLabel(this);
    remaining->setObjectName(QStringLiteral("lblTargetRemaining"));
    remaining->setTextFormat(Qt::PlainText);
    remaining->setToolTip(tr("Good devices still to make since Start All; with auto polling only"));
    // Wide enough for a shift's count, so the spin box does not move as the count shrinks.
    const QFontMetrics metrics = remaining->fontMetrics();
    remaining->setMinimumWidth(std::max(metrics.horizontalAdvance(tr("Remaining: %1").arg(99999)),
                                        metrics.horizontalAdvance(tr("Target met"))));
    layout->addWidget(caption);
    layout->addWidget(target);
    layout->addWidget(remaining);
}

void StationTargetControl::Bind(PortManager& portManager)
{
    ports = &portManager;
    target->setValue(ports->GetTarget());
    Refresh();
}

void StationTargetControl::ApplyAtStart()
{
    if (ports != nullptr)
        ports->SetTarget(target->value());
}

void StationTargetControl::Refresh()
{
    if (ports == nullptr)
        return;
    const int left = ports->GetTargetRemaining();
    QString text;
    if (left == 0)
        text = tr("Target met");
    else if (left > 0)
        text = tr("Remaining: %1").arg(left);
    if (remaining->text() != text)
        remaining->setText(text);
}

bool StationTargetControl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == target && event->type() == QEvent::Wheel && !target->hasFocus()) {
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
