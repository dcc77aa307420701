#include "ChildProcess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

ChildProcess::ChildProcess() : starterPid(::getpid()) {}

ChildProcess::~ChildProcess()
{
    End(5000);
}

bool ChildProcess::IsRunning()
{
    return state() != QProcess::NotRunning && !waitForFinished(0);
}

bool ChildProcess::End(int graceMs)
{
    if (state() == QProcess::NotRunning)
        return true;
    terminate();
    if (waitForFinished(graceMs))
        return true;
    kill();
    return waitForFinished(10000);
}

void ChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have gone between fork and prctl; then nobody would send the signal.
    if (::getppid() != starterPid)
        ::_exit(1);
}
