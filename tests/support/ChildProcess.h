#pragma once

#include <QProcess>

// A process the test harness starts and must never leave behind: the kernel kills it when the thread that
// started it goes away, so even a test that crashes or is killed by its timeout takes its broker with it.
// Start it from a thread that lives as long as the process is wanted (a test's main thread).
class ChildProcess : public QProcess
{
public:
    ChildProcess();
    ~ChildProcess() override;

    // Whether it still runs. state() alone only learns of the exit from the event loop, which tests here do
    // not run, so this looks for it.
    bool IsRunning();
    // SIGTERM, then SIGKILL once graceMs has passed; true when the process is gone.
    bool End(int graceMs);

protected:
    void setupChildProcess() override;

private:
    const qint64 starterPid;
};
