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
    const QString name = QString::fromLatin1(kLibraryName);
    const QString folder = Folder();
    QLibrary library;
    // A bare name is not looked for beside the executable on every platform, so the absolute path comes
    // first; the library found first answers, as the platform's loader would decide.
    const bool loaded =
        (QDir::isAbsolutePath(folder) && Load(library, QDir(folder).filePath(name))) || Load(library, name);
    return loaded ? library.resolve(function) : nullptr;
}
