#include "Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <atomic>

namespace {

// How often a writer looks again at a file lock another writer holds.
constexpr int kLockRetryMs = 5;

} // namespace

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

namespace {

QString LastErrorText()
{
    wchar_t* text = nullptr;
    const DWORD code = GetLastError();
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString message = length > 0 ? QString::fromWCharArray(text, static_cast<int>(length)).trimmed()
                                       : QStringLiteral("system error %1").arg(code);
    LocalFree(text);
    return message;
}

HANDLE AsHandle(FileHandle file)
{
    return reinterpret_cast<HANDLE>(file);
}

} // namespace

FileHandle OpenForAppend(const QString& path, QString& error)
{
    // FlushFileBuffers needs write access, which append-only access lacks; AppendToFile writes at the end.
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                    GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = LastErrorText();
        return kNoFile;
    }
    return reinterpret_cast<FileHandle>(handle);
}

void CloseFile(FileHandle file)
{
    CloseHandle(AsHandle(file));
}

bool LockFile(FileHandle file, int timeoutMs, QString& error)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        OVERLAPPED whole{};
        if (LockFileEx(AsHandle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                       MAXDWORD, &whole)) {
            return true;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            error = LastErrorText();
            return false;
        }
        if (clock.elapsed() >= timeoutMs) {
            error = QStringLiteral("another writer held the file's lock for %1 ms").arg(timeoutMs);
            return false;
        }
        Sleep(kLockRetryMs);
    }
}

void UnlockFile(FileHandle file)
{
    OVERLAPPED whole{};
    UnlockFileEx(AsHandle(file), 0, MAXDWORD, MAXDWORD, &whole);
}

int64_t FileSize(FileHandle file)
{
    LARGE_INTEGER size;
    return GetFileSizeEx(AsHandle(file), &size) ? static_cast<int64_t>(size.QuadPart) : -1;
}

bool AppendToFile(FileHandle file, const QByteArray& bytes, QString& error)
{
    DWORD written = 0;
    // An offset of all ones writes at the end of the file, as append-only access would.
    OVERLAPPED atEnd{};
    atEnd.Offset = MAXDWORD;
    atEnd.OffsetHigh = MAXDWORD;
    if (!WriteFile(AsHandle(file), bytes.constData(), static_cast<DWORD>(bytes.size()), &written, &atEnd)) {
        error = LastErrorText();
        return false;
    }
    if (written != static_cast<DWORD>(bytes.size())) {
        error = QStringLiteral("only %1 of %2 bytes were written").arg(written).arg(bytes.size());
        return false;
    }
    return true;
}

bool SyncFile(FileHandle file, QString& error)
{
    if (!FlushFileBuffers(AsHandle(file))) {
        error = LastErrorText();
        return false;
    }
    return true;
}

bool SyncFolder(const QString&, QString&)
{
    // NTFS makes a new directory entry durable with the file's own flush.
    return true;
}

} // namespace Platform

#else
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
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

namespace {

QString ErrnoText(int code)
{
    return QString::fromLocal8Bit(strerror(code));
}

} // namespace

FileHandle OpenForAppend(const QString& path, QString& error)
{
    const int fd = open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = ErrnoText(errno);
        return kNoFile;
    }
    return fd;
}

void CloseFile(FileHandle file)
{
    close(static_cast<int>(file));
}

bool LockFile(FileHandle file, int timeoutMs, QString& error)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        // flock, unlike fcntl locks, also separates two opens of one file inside the same process.
        if (flock(static_cast<int>(file), LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error = ErrnoText(errno);
            return false;
        }
        if (clock.elapsed() >= timeoutMs) {
            error = QStringLiteral("another writer held the file's lock for %1 ms").arg(timeoutMs);
            return false;
        }
        usleep(kLockRetryMs * 1000);
    }
}

void UnlockFile(FileHandle file)
{
    flock(static_cast<int>(file), LOCK_UN);
}

int64_t FileSize(FileHandle file)
{
    struct stat info;
    return fstat(static_cast<int>(file), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

bool AppendToFile(FileHandle file, const QByteArray& bytes, QString& error)
{
    ssize_t written = 0;
    do {
        written = write(static_cast<int>(file), bytes.constData(), static_cast<size_t>(bytes.size()));
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        error = ErrnoText(errno);
        return false;
    }
    if (written != bytes.size()) {
        error = QStringLiteral("only %1 of %2 bytes were written").arg(written).arg(bytes.size());
        return false;
    }
    return true;
}

bool SyncFile(FileHandle file, QString& error)
{
    if (fsync(static_cast<int>(file)) != 0) {
        error = ErrnoText(errno);
        return false;
    }
    return true;
}

bool SyncFolder(const QString& path, QString& error)
{
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = ErrnoText(errno);
        return false;
    }
    const bool synced = fsync(fd) == 0;
    if (!synced) {
        error = ErrnoText(errno);
    }
    close(fd);
    return synced;
}

} // namespace Platform
#endif
