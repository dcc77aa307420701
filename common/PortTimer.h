#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// The elapsed-time clock of one port. Lives in the user-interface thread: workers ask the port manager to
// start and stop it.
class PortTimer : public QObject
{
    Q_OBJECT

public:
    PortTimer();
    ~PortTimer() override;

    void SetIndex(int index);
    void Start(int interval);
    void Stop();
    void OnTimeout();

    // "mm : ss" for an elapsed time; minutes grow past two digits rather than wrap.
    static QString FormatElapsed(qint64 milliseconds);

Q_SIGNALS:
    void SigNotifyTimeout(int index, QString timeString);

private:
    int index = 0;
    QTimer timer;
    QElapsedTimer clock;
};
