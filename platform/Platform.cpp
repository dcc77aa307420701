// The process's side of the platform: time and ids for the log, the log's root, the allocator, core dumps,
// the file browser and the stop requests of a console or a signal. The file primitives are in PlatformFiles.cpp.
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QString>

#include <atomic>

namespace Platform {

QByteArray ExecutableFolder()
{
    // argv[0] names the wrong folder when the tool is started through PATH or a link, on Windows as well.
    return QCoreApplication::applicationDirPath().toUtf8();
}

int64_t FreeDiskBytes(const QString& path)
{
    // A folder not made yet lives on the disk of its nearest parent that is there.
    QFileInfo folder(path);
    while (!folder.exists() && !folder.isRoot() && folder.absolutePath() != folder.absoluteFilePath())
        folder.setFile(folder.absolutePath());
    const QStorageInfo storage(folder.absoluteFilePath());
    if (!storage.isValid() || !storage.isReady())
        return -1;
    return storage.bytesAvailable();
}

} // namespace Platform

#ifdef Q_OS_WIN
#include <windows.h>

namespace Platform {

LocalTime CurrentLocalTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

unsigned long ProcessId()
{
    return GetCurrentProcessId();
}

unsigned long ThreadId()
{
    return GetCurrentThreadId();
}

char PathSeparator()
{
    return '\\';
}

QByteArray LogRootFolder()
{
    return QByteArray("C:\\ProgramData\\QN_PXL_V6_Logs");
}

void HoldAllocatorThreshold()
{
    // The Windows heap has no threshold that moves with what was freed.
}

void KeepOutOfCoreDumps()
{
    // Windows writes no core file; a crash dump is kept only where Windows Error Reporting is set up to keep
    // one.
}

void OpenFolderInFileBrowser(const QString& path, QObject* owner, std::function<void()> onFailure)
{
    // Explorer's exit code says nothing about success; only a failure to start it can be seen.
    if (!QProcess::startDetached(QStringLiteral("explorer"), {QDir::toNativeSeparators(path)}))
        QMetaObject::invokeMethod(owner, std::move(onFailure), Qt::QueuedConnection);
}

namespace {

QObject* stopReceiver = nullptr;
std::function<void()> stopCallback;
std::atomic<bool> receiverAlive{false};
// Set once the receiver is gone, that is once the program has done what the stop asked.
HANDLE receiverGone = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    // Runs on a thread of its own: hand the request to the receiver's thread.
    if (receiverAlive)
        QMetaObject::invokeMethod(stopReceiver, [] { stopCallback(); }, Qt::QueuedConnection);
    // After a close, a log-off or a shutdown the system ends the process as soon as this returns: hold it
    // until the ports have ended and the settings are written (the system's own time-out still applies).
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(receiverGone, INFINITE);
    return TRUE;
}

} // namespace

void DeliverStopRequests(QObject* receiver, std::function<void()> onStop)
{
    stopReceiver = receiver;
    stopCallback = std::move(onStop);
    receiverGone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    receiverAlive = true;
    QObject::connect(receiver, &QObject::destroyed, [] {
        receiverAlive = false;
        SetEvent(receiverGone);
    });
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

} // namespace Platform

#else
#include <QSocketNotifier>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace Platform {

LocalTime CurrentLocalTime()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // The calendar part changes once a second; converting it for every line would cost a busy log dearly.
    thread_local time_t convertedSecond = -1;
    thread_local tm local{};
    if (now.tv_sec != convertedSecond) {
        localtime_r(&now.tv_sec, &local);
        convertedSecond = now.tv_sec;
    }
    return LocalTime{local.tm_year + 1900,
                     local.tm_mon + 1,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec,
                     static_cast<int>(now.tv_nsec / 1000000)};
}

unsigned long ProcessId()
{
    return static_cast<unsigned long>(getpid());
}

unsigned long ThreadId()
{
    // The kernel's id of the thread, the one tools such as top and gdb show; asked once per thread.
    thread_local const unsigned long id = static_cast<unsigned long>(syscall(SYS_gettid));
    return id;
}

char PathSeparator()
{
    return '/';
}

QByteArray LogRootFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir::toNativeSeparators(base + QStringLiteral("/QN_PXL_V6_Logs")).toLocal8Bit();
}

void HoldAllocatorThreshold()
{
#ifdef __GLIBC__
    // glibc raises its threshold to the size of each mapped block given back, so after the first attempt the
    // multi-MiB blocks of an attempt (the engine's stream chunk and file buffers) come out of each port
    // worker's own arena and stay resident there: with 16 workers the peak more than doubles while the heap
    // in use stays the same. Setting the threshold also stops it from moving; each such block then costs a
    // mapping of its own, little beside a device's minutes on the port.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

void KeepOutOfCoreDumps()
{
    // Not PR_SET_DUMPABLE: that would also close /proc/<pid> to the process's own user.
    rlimit core{};
    if (getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur != 0) {
        core.rlim_cur = 0;
        setrlimit(RLIMIT_CORE, &core);
    }
}

void OpenFolderInFileBrowser(const QString& path, QObject* owner, std::function<void()> onFailure)
{
    // Not detached: xdg-open is there on most desktops but ends with an error when it finds no browser, and
    // only its exit code tells. It hands the folder on and ends, so holding it costs nothing.
    auto* opener = new QProcess(owner);
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->setStandardInputFile(QProcess::nullDevice());
    QObject::connect(opener, &QProcess::errorOccurred, owner, [opener, onFailure](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        onFailure();
        opener->deleteLater();
    });
    QObject::connect(opener, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), owner,
                     [opener, onFailure](int code, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || code != 0)
                             onFailure();
                         opener->deleteLater();
                     });
    opener->start(QStringLiteral("xdg-open"), {path});
}

namespace {

int stopPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    // Only an async-signal-safe write here; the event loop does the rest.
    const char byte = 1;
    const ssize_t ignored = write(stopPipe[1], &byte, 1);
    (void)ignored;
}

} // namespace

void DeliverStopRequests(QObject* receiver, std::function<void()> onStop)
{
    signal(SIGPIPE, SIG_IGN);
    if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, receiver);
    QObject::connect(notifier, &QSocketNotifier::activated, receiver, [onStop = std::move(onStop)] {
        char bytes[16];
        while (read(stopPipe[0], bytes, sizeof bytes) > 0) {
        }
        onStop();
    });
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
}

} // namespace Platform
#endif
