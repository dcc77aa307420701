#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

// windows.h defines RemoveDirectory as a macro; keep it from renaming the function below.
#ifdef RemoveDirectory
#undef RemoveDirectory
#endif

namespace FileUtils {

// Result codes of CheckDirectory.
enum CheckDirectoryResult : int
{
    DirectoryExists = 0,
    DirectoryMissing = 1,
    DirectoryCreated = 2,
    DirectoryCreationFailed = 3
};

// Set once by main, before any other thread starts.
void SetAppDirectory(const QByteArray& dir);
// Empty until SetAppDirectory has been called.
QByteArray GetAppDirectory();
QByteArray GetAppFilePath(const char* fileName);

int CheckDirectory(const QByteArray& path, bool create);

// Asked before each entry of a removal; true ends it there, leaving the rest in place.
using StopQuery = std::function<bool()>;

// Removes a folder with everything inside it. A symbolic link or an NTFS junction is removed itself, never
// what it points to. Removing a path where nothing exists succeeds, and so does an entry that another
// remover takes first. A removal that stopRequested ends early returns false.
bool RemoveDirectory(const QByteArray& path, const StopQuery& stopRequested = {});

// The bytes of every plain file under a folder; links are neither counted nor followed.
int64_t TreeBytes(const QString& folder);

// True when the file can be read; otherwise errorMsg says why.
bool CheckFile(const QString& fileName, QString& errorMsg);

} // namespace FileUtils
