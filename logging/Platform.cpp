#include "Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#ifdef Q_OS_WIN
#include <io.h>
#include <share.h>
#include <sys/stat.h>
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

FILE* OpenSharedForAppend(const QByteArray& path)
{
    return _fsopen(path.constData(), "a", _SH_DENYNO);
}

bool MakeOwnerAccessible(const QByteArray& path)
{
    // On Windows this clears the read-only attribute.
    return _chmod(path.constData(), _S_IREAD | _S_IWRITE) == 0;
}

QByteArray ExecutableFolder(const char* argv0)
{
    return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath().toUtf8();
}

void OpenFolderInFileBrowser(const QString& path)
{
    QProcess::startDetached(QStringLiteral("explorer"), {QDir::toNativeSeparators(path)});
}

namespace {

QObject* stopReceiver = nullptr;
std::function<void()> stopCallback;

BOOL WINAPI OnConsoleControl(DWORD)
{
    // Runs on a thread of its own: hand the request to the receiver's thread.
    QMetaObject::invokeMethod(stopReceiver, [] { stopCallback(); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

void DeliverStopRequests(QObject* receiver, std::function<void()> onStop)
{
    stopReceiver = receiver;
    stopCallback = std::move(onStop);
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

} // namespace Platform

#else
#include <QSocketNotifier>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

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

FILE* OpenSharedForAppend(const QByteArray& path)
{
    // "e": the file is not inherited by processes the tool starts.
    return fopen(path.constData(), "ae");
}

bool MakeOwnerAccessible(const QByteArray& path)
{
    // Read and write alone would drop the search bit, and nothing could be made inside the folder.
    return chmod(path.constData(), S_IRWXU) == 0;
}

QByteArray ExecutableFolder(const char*)
{
    // argv[0] names the wrong folder when the tool is started through PATH or a link.
    return QCoreApplication::applicationDirPath().toUtf8();
}

void OpenFolderInFileBrowser(const QString& path)
{
    QProcess::startDetached(QStringLiteral("xdg-open"), {path});
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
