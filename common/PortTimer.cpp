#include "common/PortTimer.h"

PortTimer::PortTimer()
{
    // A coarse timer may fire 150 ms early, and the first tick would then still read zero seconds.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &PortTimer::OnTimeout);
}

PortTimer::~PortTimer() = default;

void PortTimer::SetIndex(int index) { this->index = index; }

void PortTimer::Start(int interval)
{
    clock.restart();
    timer.start(interval);
}

void PortTimer::Stop() { timer.stop(); }

void PortTimer::OnTimeout() { Q_EMIT SigNotifyTimeout(index, FormatElapsed(clock.isValid() ? clock.elapsed() : 0)); }

QString PortTimer::FormatElapsed(qint64 milliseconds)
{
    const qint64 seconds = milliseconds / 1000;
    const qint64 minutes = seconds / 60;
    const QString minutesText = minutes < 0 ? QStringLiteral("00") : QString::number(minutes);
    const QString secondsText = QString::number(seconds - 60 * minutes);
    return QStringLiteral("%1 : %2").arg(minutesText, 2, QLatin1Char('0')).arg(secondsText, 2, QLatin1Char('0'));
}
