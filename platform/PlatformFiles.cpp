// The record's and the logs' file primitives: opening for shared appends without following links, locks,
// whole appends cut back on failure, syncs, and what a file at a path is.
#include "platform/Platform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QString>

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

FILE* OpenSharedForAppend(const QByteArray& path)
{
    return _fsopen(path.constData(), "a", _SH_DENYNO);
}

bool MakeOwnerAccessible(const QByteArray& path)
{
    // On Windows this clears the read-only attribute.
    return _chmod(path.constData(), _S_IREAD | _S_IWRITE) == 0;
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
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

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
