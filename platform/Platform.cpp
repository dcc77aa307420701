#include "platform/Platform.h"

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

namespace Platform {

QByteArray ExecutableFolder()
{
    // argv[0] names the wrong folder when the tool is started through PATH or a link, on Windows as well.
    return QCoreApplication::applicationDirPath().toUtf8();
}

} // namespace Platform

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

const wchar_t* WidePath(const QString& nativePath)
{
    return reinterpret_cast<const wchar_t*>(nativePath.utf16());
}

} // namespace

bool IsLink(const QString& path)
{
    const DWORD attributes = GetFileAttributesW(WidePath(QDir::toNativeSeparators(path)));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

FileStamp StampOf(const QString& path)
{
    FileStamp stamp;
    // Attributes only, shared every way: the database that is looked at stays open elsewhere.
    const HANDLE file = CreateFileW(WidePath(QDir::toNativeSeparators(path)), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return stamp;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file, &information)) {
        stamp.exists = true;
        stamp.volume = information.dwVolumeSerialNumber;
        stamp.file = (uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
        stamp.size = (int64_t(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    }
    CloseHandle(file);
    return stamp;
}

bool MakeFolder(const QString& path, int, QString& error)
{
    // The folder inherits its parent's access list, Windows' counterpart of a mode.
    if (QDir().mkpath(path) && QFileInfo(path).isDir())
        return true;
    error = QStringLiteral("the folder cannot be created");
    return false;
}

bool MakeFileIfMissing(const QString& path, int, QString& error)
{
    // With FILE_FLAG_OPEN_REPARSE_POINT a link at the path counts as there, and is not followed to create its
    // target.
    const HANDLE handle =
        CreateFileW(WidePath(QDir::toNativeSeparators(path)), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return true;
    }
    if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    error = LastErrorText();
    return false;
}

bool SetFileMode(const QString&, int, QString&)
{
    return true;
}

FileHandle OpenForAppend(const QString& path, QString& error)
{
    // FlushFileBuffers needs write access, which append-only access lacks; AppendToFile writes at the end.
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than its target, so that it can be refused.
    const HANDLE handle =
        CreateFileW(WidePath(QDir::toNativeSeparators(path)), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = LastErrorText();
        return kNoFile;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) {
        error = LastErrorText();
        CloseHandle(handle);
        return kNoFile;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = QStringLiteral("the path is a symbolic link or junction");
        CloseHandle(handle);
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

bool ReadFileStart(FileHandle file, int length, QByteArray& bytes, QString& error)
{
    bytes.resize(length);
    DWORD read = 0;
    // An explicit offset reads the start whatever the handle's position; the writes name their own.
    OVERLAPPED atStart{};
    if (!ReadFile(AsHandle(file), bytes.data(), static_cast<DWORD>(length), &read, &atStart) &&
        GetLastError() != ERROR_HANDLE_EOF) {
        error = LastErrorText();
        bytes.clear();
        return false;
    }
    bytes.resize(static_cast<int>(read));
    return true;
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

bool TruncateFile(FileHandle file, int64_t size, QString& error)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (!SetFileInformationByHandle(AsHandle(file), FileEndOfFileInfo, &end, sizeof(end))) {
        error = LastErrorText();
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
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace Platform {

namespace {

QString ErrnoText(int code)
{
    return QString::fromLocal8Bit(strerror(code));
}

// The reason an open without following links failed, in words that name a planted link or pipe for what it
// is.
QString OpenFailureText(int code)
{
    if (code == ELOOP)
        return QStringLiteral("the path is a symbolic link");
    if (code == ENXIO)
        return QStringLiteral("the path is not a regular file");
    return ErrnoText(code);
}

// Opens path, never through a link at its last component, creating it with exactly mode when missing; an
// existing file keeps its mode. Non-blocking, so that a pipe planted at the path cannot hold the caller, and
// only a regular file is kept open. -1 on failure, with the reason in error.
int OpenRegularFile(const QByteArray& path, int flags, mode_t mode, QString& error)
{
    const int common = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = -1;
    // Exclusive creation tells a file made here, whose mode is set, from one that was there; a file removed
    // between the two opens is made again.
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        fd = open(path.constData(), flags | common | O_CREAT | O_EXCL, mode);
        if (fd >= 0) {
            // open's mode passed through the umask. A file system without modes keeps its own, and that must
            // not cost the caller its file.
            (void)fchmod(fd, mode);
            break;
        }
        if (errno != EEXIST)
            break;
        fd = open(path.constData(), flags | common);
        if (fd < 0 && errno != ENOENT)
            break;
    }
    if (fd < 0) {
        error = OpenFailureText(errno);
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        error = OpenFailureText(ENXIO);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

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
    // The descriptor is not inherited by processes the tool starts.
    QString ignored;
    const int fd = OpenRegularFile(path, O_WRONLY | O_APPEND, kReadableFileMode, ignored);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "a");
    if (file == nullptr)
        close(fd);
    return file;
}

bool MakeOwnerAccessible(const QByteArray& path)
{
    // Read and write alone would drop the search bit, and nothing could be made inside the folder.
    return chmod(path.constData(), S_IRWXU) == 0;
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

FileHandle OpenForAppend(const QString& path, QString& error)
{
    const int fd = OpenRegularFile(QFile::encodeName(path), O_RDWR | O_APPEND, kReadableFileMode, error);
    return fd < 0 ? kNoFile : fd;
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

bool ReadFileStart(FileHandle file, int length, QByteArray& bytes, QString& error)
{
    bytes.resize(length);
    int done = 0;
    while (done < length) {
        const ssize_t read = pread(static_cast<int>(file), bytes.data() + done,
                                   static_cast<size_t>(length - done), static_cast<off_t>(done));
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0) {
            error = ErrnoText(errno);
            bytes.clear();
            return false;
        }
        if (read == 0)
            break;
        done += static_cast<int>(read);
    }
    bytes.resize(done);
    return true;
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

bool TruncateFile(FileHandle file, int64_t size, QString& error)
{
    int done = 0;
    do {
        done = ftruncate(static_cast<int>(file), static_cast<off_t>(size));
    } while (done != 0 && errno == EINTR);
    if (done != 0) {
        error = ErrnoText(errno);
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

bool IsLink(const QString& path)
{
    struct stat info;
    return lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

FileStamp StampOf(const QString& path)
{
    FileStamp stamp;
    struct stat info;
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return stamp;
    stamp.exists = true;
    stamp.volume = static_cast<uint64_t>(info.st_dev);
    stamp.file = static_cast<uint64_t>(info.st_ino);
    stamp.size = static_cast<int64_t>(info.st_size);
    return stamp;
}

bool MakeFolder(const QString& path, int mode, QString& error)
{
    const QFileInfo folder(path);
    if (folder.isDir())
        return true;
    const QString absolute = folder.absoluteFilePath();
    const QString parent = QFileInfo(absolute).absolutePath();
    if (parent != absolute && !MakeFolder(parent, mode, error))
        return false;
    const QByteArray name = QFile::encodeName(absolute);
    if (mkdir(name.constData(), static_cast<mode_t>(mode)) != 0) {
        // Another writer may have made it first.
        if (errno == EEXIST && QFileInfo(absolute).isDir())
            return true;
        error = ErrnoText(errno);
        return false;
    }
    // mkdir's mode passed through the umask; through a descriptor, a link swapped in meanwhile is not
    // followed.
    const int fd = open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        (void)fchmod(fd, static_cast<mode_t>(mode));
        close(fd);
    }
    return true;
}

bool MakeFileIfMissing(const QString& path, int mode, QString& error)
{
    const int fd = open(QFile::encodeName(path).constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0) {
        if (errno == EEXIST)
            return true;
        error = ErrnoText(errno);
        return false;
    }
    (void)fchmod(fd, static_cast<mode_t>(mode));
    close(fd);
    return true;
}

bool SetFileMode(const QString& path, int mode, QString& error)
{
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = OpenFailureText(errno);
        return false;
    }
    struct stat info;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool set = regular && fchmod(fd, static_cast<mode_t>(mode)) == 0;
    if (!set)
        error = regular ? ErrnoText(errno) : OpenFailureText(ENXIO);
    close(fd);
    return set;
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
