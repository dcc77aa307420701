#include "common/SlaLibrary.h"

#include "Utility/StationFolders.h"

#include <QDir>
#include <QLibrary>

#include <mutex>

namespace {

std::mutex folderLock;
QString chosenFolder;

// No unload: the QLibrary object goes, the loaded library stays.
bool Load(QLibrary& library, const QString& name)
{
    library.setFileName(name);
    return library.load();
}

} // namespace

void SlaLibrary::SetFolder(const QString& folder)
{
    std::lock_guard<std::mutex> guard(folderLock);
    chosenFolder = folder;
}

QString SlaLibrary::Folder()
{
    {
        std::lock_guard<std::mutex> guard(folderLock);
        if (!chosenFolder.isEmpty())
            return chosenFolder;
    }
    return StationFolders::Current().libraryFolder;
}

QFunctionPointer SlaLibrary::Resolve(const char* function)
{
    // One load at a time: two workers loading the library at once leave Qt's count of its loads off by one,
    // and Qt then gives up on the library's record at exit instead of freeing it.
    static std::mutex loadLock;
    std::lock_guard<std::mutex> guard(loadLock);
    const QString name = QString::fromLatin1(kLibraryName);
    const QString folder = Folder();
    QLibrary library;
    // A bare name is not looked for beside the executable on every platform, so the absolute path comes
    // first; the library found first answers, as the platform's loader would decide.
    const bool loaded =
        (QDir::isAbsolutePath(folder) && Load(library, QDir(folder).filePath(name))) || Load(library, name);
    return loaded ? library.resolve(function) : nullptr;
}
