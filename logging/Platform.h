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

// Opens a file for appending while other processes may still read and write it; null on failure.
FILE* OpenSharedForAppend(const QByteArray& path);

// Gives the owner of a newly made folder full use of it; false when the permissions could not be set.
bool MakeOwnerAccessible(const QByteArray& path);

// The folder of the running executable, as UTF-8; argv0 is the first process argument.
QByteArray ExecutableFolder(const char* argv0);

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

// Opens path for appending, creating it when missing, while other processes may append to it too; every
// write lands at the end of the file. kNoFile on failure, with the reason in error.
FileHandle OpenForAppend(const QString& path, QString& error);
void CloseFile(FileHandle file);
// Takes the file's advisory exclusive lock, which other processes and other opens of the same file in
// this process respect, waiting at most timeoutMs; false on timeout or failure, with the reason in error.
bool LockFile(FileHandle file, int timeoutMs, QString& error);
void UnlockFile(FileHandle file);
// The file's size in bytes, or -1 when it cannot be read.
int64_t FileSize(FileHandle file);
// Appends bytes in one write call; a short write is a failure.
bool AppendToFile(FileHandle file, const QByteArray& bytes, QString& error);
// Returns once what was written to the file has reached the disk.
bool SyncFile(FileHandle file, QString& error);
// Makes a new entry in the folder durable; a no-op where the system has no such step.
bool SyncFolder(const QString& path, QString& error);

} // namespace Platform
