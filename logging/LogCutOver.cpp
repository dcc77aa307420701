#include "LogCutOver.h"

#include "Utility/FileUtils.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr char kToolLogStem[] = "Praxilo_TOOL";
constexpr char kEngineFolderStem[] = "Engine.";

QString Local(const QByteArray& path)
{
    return QString::fromLocal8Bit(path);
}

// The engine's files in the dump folder itself: everything plain the tool did not write there. Links are
// never counted nor followed.
QFileInfoList EngineFilesBeside(const QByteArray& dumpFolder)
{
    QFileInfoList files;
    const QFileInfoList entries =
        QDir(Local(dumpFolder)).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries) {
        if (!entry.fileName().startsWith(QLatin1String(kToolLogStem)))
            files << entry;
    }
    return files;
}

} // namespace

void LogCutOver::Begin(const QByteArray& folder)
{
    dumpFolder = folder;
    // A run started again within the same second has the same folder: its cut files stay and are numbered on.
    toolCuts = 0;
    const QStringList cut = QDir(Local(folder)).entryList({QLatin1String(kToolLogStem) + QStringLiteral(".*.log")},
                                                          QDir::Files);
    for (const QString& name : cut)
        toolCuts = std::max(toolCuts, name.section(QLatin1Char('.'), 1, 1).toInt());
    engineCuts = 0;
    toolRetryAt = 0;
    nextEngineCheck = 0;
}

bool LogCutOver::ToolLogFull(int64_t bytes) const
{
    return limits.fileBytes > 0 && !dumpFolder.isEmpty() && bytes >= std::max(limits.fileBytes, toolRetryAt);
}

bool LogCutOver::CutToolLog(int64_t bytes, QString& error)
{
    const QString current = Local(ToolLogPath());
    const QString cut = Local(CutToolLogPath(toolCuts + 1));
    QFile file(current);
    if (!file.rename(cut)) {
        error = file.errorString();
        toolRetryAt = bytes + limits.fileBytes;
        return false;
    }
    ++toolCuts;
    toolRetryAt = 0;
    if (limits.cutFilesKept > 0 && toolCuts > limits.cutFilesKept)
        QFile::remove(Local(CutToolLogPath(toolCuts - limits.cutFilesKept)));
    return true;
}

bool LogCutOver::EngineCheckDue(int64_t toolBytes)
{
    if (limits.fileBytes <= 0 || dumpFolder.isEmpty())
        return false;
    const int64_t step = std::max<int64_t>(limits.fileBytes / 8, 1);
    // The tool's log was cut over since the last look: its count starts again.
    if (toolBytes < nextEngineCheck - step)
        nextEngineCheck = 0;
    if (toolBytes < nextEngineCheck)
        return false;
    nextEngineCheck = toolBytes + step;
    return true;
}

bool LogCutOver::CutEngineLogIfFull(const std::function<bool(const QByteArray&)>& pointEngineAt, QString& error)
{
    if (limits.fileBytes <= 0 || dumpFolder.isEmpty() || EngineLogBytes(engineCuts) < limits.fileBytes)
        return false;
    const QByteArray next = EngineFolder(engineCuts + 1);
    if (!Platform::MakeFolder(Local(next), Platform::kOwnerFolderMode, error))
        return false;
    if (!pointEngineAt(next)) {
        error = QStringLiteral("the engine did not take the folder %1").arg(Local(next));
        return false;
    }
    ++engineCuts;
    if (limits.cutFilesKept > 0 && engineCuts > limits.cutFilesKept)
        RemoveEngineLog(engineCuts - limits.cutFilesKept - 1);
    return true;
}

QByteArray LogCutOver::ToolLogPath() const
{
    return dumpFolder + Platform::PathSeparator() + kToolLogName;
}

QByteArray LogCutOver::CutToolLogPath(int number) const
{
    return dumpFolder + Platform::PathSeparator() + kToolLogStem + '.' + QByteArray::number(number) + ".log";
}

QByteArray LogCutOver::EngineFolder(int number) const
{
    if (number == 0)
        return dumpFolder;
    return dumpFolder + Platform::PathSeparator() + kEngineFolderStem + QByteArray::number(number);
}

int64_t LogCutOver::EngineLogBytes(int number) const
{
    if (number > 0)
        return FileUtils::TreeBytes(Local(EngineFolder(number)));
    int64_t bytes = 0;
    for (const QFileInfo& file : EngineFilesBeside(dumpFolder))
        bytes += file.size();
    return bytes;
}

void LogCutOver::RemoveEngineLog(int number) const
{
    if (number > 0) {
        FileUtils::RemoveDirectory(Local(EngineFolder(number)).toUtf8());
        return;
    }
    for (const QFileInfo& file : EngineFilesBeside(dumpFolder))
        QFile::remove(file.absoluteFilePath());
}
