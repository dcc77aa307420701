#pragma once

#include <QByteArray>
#include <QString>

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
QByteArray GetAppFilePath(const char* fileName);

int CheckDirectory(const QByteArray& path, bool create);

// Removes a folder with everything inside it. A symbolic link or an NTFS junction is removed itself, never
// what it points to. Removing a path where nothing exists succeeds.
bool RemoveDirectory(const QByteArray& path);

// True when the file can be read; otherwise errorMsg says why.
bool CheckFile(const QString& fileName, QString& errorMsg);

} // namespace FileUtils
