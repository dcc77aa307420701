#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

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

// Shows the folder in the desktop's file browser, detached; a failure to start it is not reported.
void OpenFolderInFileBrowser(const QString& path);

// Delivers an interrupt, a termination or a hang-up of the process (on Windows the console's control
// events) as a call of onStop in the receiver's thread, and makes a closed pipe a write error rather than
// the end of the process. Call once, from the receiver's thread, before its event loop runs.
void DeliverStopRequests(QObject* receiver, std::function<void()> onStop);

} // namespace Platform
