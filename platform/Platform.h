#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <functional>

// The few operating-system services the logger and the file utilities need, in one place.
namespace Platform {

struct LocalTime
{
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
    int millisecond;
};

LocalTime CurrentLocalTime();
unsigned long ProcessId();
unsigned long ThreadId();

char PathSeparator();

// The root folder of logs and dump folders, with native separators, in the local 8-bit encoding.
QByteArray LogRootFolder();

// Opens a file for appending while other processes may still read and write it, creating it with
// kReadableFileMode; null on failure.
FILE* OpenSharedForAppend(const QByteArray& path);

// Gives the owner of a newly made folder full use of it; false when the permissions could not be set.
bool MakeOwnerAccessible(const QByteArray& path);

// Keeps what the process holds from now on out of core dumps (on Linux by allowing none), for a process
// about to read a secret. The process stays readable to its own user, for profilers and samplers.
void KeepOutOfCoreDumps();

// Keeps the allocator from raising the size above which it maps each block on its own (on glibc Linux
// holding it at glibc's starting 128 KiB). Call first thing in main(), before any thread starts.
void HoldAllocatorThreshold();

// The folder of the running executable, as UTF-8; needs the application object.
QByteArray ExecutableFolder();

// The bytes this user may still write on the disk that holds path (or, when path is not there yet, its
// nearest parent that is); -1 when the system cannot tell. Safe in any thread.
int64_t FreeDiskBytes(const QString& path);

// Shows the folder in the desktop's file browser. When no browser can be started for it, onFailure runs
// later in owner's thread (never after owner is gone).
void OpenFolderInFileBrowser(const QString& path, QObject* owner, std::function<void()> onFailure);

// Delivers an interrupt, a termination or a hang-up of the process (on Windows the console's control
// events) as a call of onStop in the receiver's thread, and makes a closed pipe a write error rather than
// the end of the process. Call once, from the receiver's thread, before its event loop runs. On Windows a
// console's close, log-off or shutdown is held until the receiver is destroyed; a window's end of session
// reaches the program as QCoreApplication::aboutToQuit instead, which Qt emits before the system ends it.
void DeliverStopRequests(QObject* receiver, std::function<void()> onStop);

// A file opened for appending records: a descriptor on POSIX systems, a HANDLE on Windows.
using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Modes of what the tool creates, set exactly whatever the umask it was started with, so that a umask of
// 000 cannot open the record to every user and one of 077 cannot hide it from the factory's tools. Windows
// has no mode bits and ignores them.
constexpr int kReadableFileMode = 0644;
constexpr int kReadableFolderMode = 0755;
constexpr int kOwnerFolderMode = 0700;

// True when the last component of path is a symbolic link, dangling or not (on Windows any reparse point,
// junctions included); the link itself is looked at, never followed.
bool IsLink(const QString& path);

// Which file is at path, without following a link: equal stamps of one path mean the same file, not moved,
// replaced or removed in between; size lets a caller see it cut short. exists is false when nothing is there.
struct FileStamp
{
    bool exists = false;
    uint64_t volume = 0;
    uint64_t file = 0;
    int64_t size = 0;
};
FileStamp StampOf(const QString& path);

// The version of the file a path leads to, following links: equal versions mean the same file with the same
// content as far as the file system can tell. Besides size and modification time, which a writer can put
// back, it holds what a writer cannot: the file's identity on its volume and its change time, which any
// write, rename onto the path, or reset of the times moves on.
struct FileVersion
{
    bool exists = false;
    bool regular = false;
    uint64_t volume = 0;
    uint64_t file = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;

    bool operator==(const FileVersion& other) const
    {
        return exists == other.exists && regular == other.regular && volume == other.volume &&
               file == other.file && size == other.size && modifiedNs == other.modifiedNs &&
               changedNs == other.changedNs;
    }
    bool operator!=(const FileVersion& other) const { return !(*this == other); }
};
FileVersion VersionOf(const QString& path);

// Creates the folder and every missing parent, each with exactly mode; folders that exist keep theirs. True
// when a folder is at path on return, false with the reason in error otherwise.
bool MakeFolder(const QString& path, int mode, QString& error);

// Creates an empty file with exactly mode when nothing, not even a dangling link, is at path; what is there
// already is left as it is. False with the reason in error when the file could not be made.
bool MakeFileIfMissing(const QString& path, int mode, QString& error);

// Gives an existing regular file exactly mode, without following a link at path.
bool SetFileMode(const QString& path, int mode, QString& error);

// Opens path for appending, creating it with kReadableFileMode when missing, while other processes may
// append to it too; every write lands at the end of the file, and ReadFileStart can read what it begins
// with. A link at path, or anything but a regular
// file, is refused rather than written through. kNoFile on failure, with the reason in error.
FileHandle OpenForAppend(const QString& path, QString& error);
void CloseFile(FileHandle file);
// Takes the file's advisory exclusive lock, which other processes and other opens of the same file in
// this process respect, waiting at most timeoutMs; false on timeout or failure, with the reason in error.
bool LockFile(FileHandle file, int timeoutMs, QString& error);
void UnlockFile(FileHandle file);
// The file's size in bytes, or -1 when it cannot be read.
int64_t FileSize(FileHandle file);
// The first length bytes of the file, fewer when it is shorter, through the same handle, so that a reader
// holding the file's lock reads it on every system; false on failure, with the reason in error.
bool ReadFileStart(FileHandle file, int length, QByteArray& bytes, QString& error);
// Appends bytes in one write call; a short write is a failure.
bool AppendToFile(FileHandle file, const QByteArray& bytes, QString& error);
// Cuts the file back to size bytes, so that a write that failed part way leaves no torn line behind.
bool TruncateFile(FileHandle file, int64_t size, QString& error);
// Returns once what was written to the file has reached the disk.
bool SyncFile(FileHandle file, QString& error);
// Makes a new entry in the folder durable; a no-op where the system has no such step.
bool SyncFolder(const QString& path, QString& error);

} // namespace Platform
