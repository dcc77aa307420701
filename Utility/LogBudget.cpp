#include "LogBudget.h"

#include "logging/Log.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <vector>

static constexpr char kLogSource[] = "Utility\\LogBudget";

namespace {

struct DumpFolder
{
    QDateTime stamp;
    QString path;
    int64_t bytes = 0;
    bool current = false;
};

QString ComparablePath(const QString& path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath());
}

std::vector<DumpFolder> DumpFolders(const QString& root, const QString& currentFolder)
{
    const QString current = ComparablePath(currentFolder);
    std::vector<DumpFolder> folders;
    const QFileInfoList entries =
        QDir(root).entryInfoList({QLatin1String(LogBudget::kDumpPrefix) + QLatin1Char('*')},
                                 QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::CaseSensitive);
    for (const QFileInfo& entry : entries) {
        const QDateTime stamp = LogBudget::FolderStamp(entry.fileName());
        if (!stamp.isValid() || entry.isSymLink() || entry.isJunction())
            continue;
        const QString path = entry.absoluteFilePath();
        folders.push_back({stamp, path, FileUtils::TreeBytes(path), ComparablePath(path) == current});
    }
    // By the stamp, not the name: month first, names do not sort by age across years.
    std::stable_sort(folders.begin(), folders.end(),
                     [](const DumpFolder& a, const DumpFolder& b) { return a.stamp < b.stamp; });
    return folders;
}

} // namespace

QDateTime LogBudget::FolderStamp(const QString& name)
{
    if (!name.startsWith(QLatin1String(kDumpPrefix)))
        return QDateTime();
    return QDateTime::fromString(name.mid(kStampIndex), QStringLiteral("MM-dd-yyyy-HH-mm-ss"));
}

LogBudgetPass LogBudget::Apply(const QString& root, const QString& currentFolder, const LogBudgetRules& rules,
                               const QDateTime& now, const FileUtils::StopQuery& stopRequested)
{
    static constexpr char kFunction[] = "LogBudget::Apply";
    LogBudgetPass pass;
    // An empty root would make QDir list the working folder.
    if (root.isEmpty())
        return pass;
    const std::vector<DumpFolder> folders = DumpFolders(root, currentFolder);
    for (const DumpFolder& folder : folders)
        pass.bytesBefore += folder.bytes;
    pass.bytesAfter = pass.bytesBefore;
    const QDateTime cutOff = now.addDays(-rules.keepDays);
    for (const DumpFolder& folder : folders) {
        if (stopRequested && stopRequested())
            break;
        const bool tooOld = rules.keepDays > 0 && folder.stamp < cutOff;
        const bool overBudget = rules.budgetBytes > 0 && pass.bytesAfter > rules.budgetBytes;
        if (folder.current || (!tooOld && !overBudget))
            continue;
        const QByteArray shown = QDir::toNativeSeparators(folder.path).toLocal8Bit();
        LOGI(kFunction, "Removing %s (%lld bytes): %s", shown.constData(), static_cast<long long>(folder.bytes),
             tooOld ? "older than the days kept" : "the dump folders are over their budget");
        if (FileUtils::RemoveDirectory(folder.path.toUtf8(), stopRequested)) {
            ++pass.removed;
            pass.bytesAfter -= folder.bytes;
        } else if (!(stopRequested && stopRequested())) {
            ++pass.failed;
            pass.bytesAfter -= folder.bytes - FileUtils::TreeBytes(folder.path);
            LOGW(kFunction, "Failed to remove folder \"%s\".", shown.constData());
        }
    }
    return pass;
}
