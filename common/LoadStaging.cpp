#include "common/LoadStaging.h"

#include "XML/parser/FlashXMLParser.h"
#include "XML/parser/LoadChksumParser.h"
#include "common/LoadContents.h"
#include "record/LoadDigest.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>

#include <algorithm>
#include <memory>

namespace {

constexpr qint64 kCopyBlock = 4 * 1024 * 1024;
// Room left beside a copy for the logs and the record, which share the disk.
constexpr qint64 kSpareBytes = 64 * 1024 * 1024;
const QString kPartial = QStringLiteral(".partial");
const QString kMarker = QStringLiteral("staged.txt");
const QString kListName = QStringLiteral("scatter_checksum.xml");
const QString kSchemaName = QStringLiteral("flash.xsd");

const QFileDevice::Permissions kReadOnly =
    QFileDevice::ReadOwner | QFileDevice::ReadUser | QFileDevice::ReadGroup | QFileDevice::ReadOther;

bool IsBareName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

bool SameBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.size() == bytes.size() && file.open(QIODevice::ReadOnly) && file.readAll() == bytes;
}

QByteArray ReadSmall(const QString& path)
{
    QFile file(path);
    if (file.size() > LoadSnapshot::kMaximumListSize || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

bool RemoveStagedFolder(const QString& folder)
{
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext())
        QFile::setPermissions(files.next(), kReadOnly | QFileDevice::WriteOwner | QFileDevice::WriteUser);
    return QDir(folder).removeRecursively();
}

bool LoadStaging::MakePlan(const LoadSnapshot& source, Plan& plan, QString& error) const
{
    const QFileInfo flashXml(source.FlashXml());
    const QDir flashFolder = flashXml.absoluteDir();
    const QString scatter = QFileInfo(source.Scatter()).absoluteFilePath();
    // The copy's flash XML names its scatter file as the source's does; only a name below the flash XML's
    // folder still leads into the copy.
    const QString scatterName = flashFolder.relativeFilePath(scatter);
    if (QDir::isAbsolutePath(scatterName) || scatterName.startsWith(QLatin1String("../"))) {
        error = QStringLiteral("the scatter file %1 is not in the flash XML's folder or below it, so a copy cannot "
                               "be staged")
                    .arg(QDir::toNativeSeparators(scatter));
        return false;
    }
    const QString loadFolder = QFileInfo(scatterName).path() == QLatin1String(".") ? QString() : QFileInfo(scatterName).path() + QLatin1Char('/');
    plan.sources << flashXml.absoluteFilePath() << scatter;
    plan.targets << flashXml.fileName() << scatterName;
    const QString schema = flashFolder.filePath(kSchemaName);
    if (QFileInfo(schema).isFile()) {
        plan.sources << schema;
        plan.targets << kSchemaName;
    }
    plan.textFiles = plan.sources.size();
    QStringList images;
    for (const LoadImage& image : LoadContents::Read(source.Scatter()).images)
        images << image.file;
    LoadChksumParser list;
    if (list.ParseXMLBytes(source.ChecksumList(), source.ChecksumListPath()))
        images << list.GetChecksumMap().keys();
    images.removeDuplicates();
    const QDir scatterFolder = QFileInfo(scatter).absoluteDir();
    for (const QString& image : images) {
        if (!IsBareName(image) || image == kListName) {
            error = QStringLiteral("the image name \"%1\" is not a file name in the load's folder").arg(image);
            return false;
        }
        const QString path = scatterFolder.filePath(image);
        // A name only the list holds and no file answers is the checker's to refuse, on the source already.
        if (!QFileInfo(path).isFile())
            continue;
        plan.sources << path;
        plan.targets << loadFolder + image;
    }
    for (const QString& path : plan.sources)
        plan.bytes += QFileInfo(path).size();
    plan.bytes += source.ChecksumList().size();
    return true;
}

bool LoadStaging::Reusable(const QString& folder, const LoadSnapshot& source, const Plan& plan) const
{
    const QString list = QDir(folder).filePath(QFileInfo(plan.targets.at(1)).path() + QLatin1Char('/') + kListName);
    if (!SameBytes(list, source.ChecksumList()))
        return false;
    for (int i = 0; i < plan.sources.size(); ++i) {
        const QFileInfo copy(QDir(folder).filePath(plan.targets.at(i)));
        const QFileInfo original(plan.sources.at(i));
        if (!copy.isFile() || copy.size() != original.size())
            return false;
        // The images are the checker's to compare; the text files are compared here, since the checker
        // reads none of them.
        if (i < plan.textFiles && !SameBytes(copy.filePath(), ReadSmall(original.filePath())))
            return false;
    }
    return true;
}

bool LoadStaging::CopyInto(const QString& folder, const LoadSnapshot& source, const Plan& plan, QString& error,
                           const Progress& progress) const
{
    const std::unique_ptr<char[]> block(new char[kCopyBlock]);
    qint64 copied = 0;
    const auto report = [&](const QString& file) {
        if (progress)
            progress(plan.bytes > 0 ? unsigned(copied * 100 / plan.bytes) : 100u, uint64_t(copied), file);
    };
    const auto writeFailed = [&](const QFile& file) {
        error = QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
        return false;
    };
    for (int i = 0; i < plan.sources.size(); ++i) {
        const QString target = QDir(folder).filePath(plan.targets.at(i));
        if (!QDir().mkpath(QFileInfo(target).path())) {
            error = QStringLiteral("the folder %1 cannot be made").arg(QDir::toNativeSeparators(QFileInfo(target).path()));
            return false;
        }
        QFile from(plan.sources.at(i));
        QFile to(target);
        if (!from.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("%1 cannot be read: %2").arg(QDir::toNativeSeparators(from.fileName()), from.errorString());
            return false;
        }
        if (!to.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return writeFailed(to);
        const QString name = QFileInfo(target).fileName();
        report(name);
        for (;;) {
            const qint64 read = from.read(block.get(), kCopyBlock);
            if (read < 0) {
                error = QStringLiteral("%1 cannot be read: %2").arg(QDir::toNativeSeparators(from.fileName()), from.errorString());
                return false;
            }
            if (read == 0)
                break;
            if (to.write(block.get(), read) != read)
                return writeFailed(to);
            copied += read;
            report(name);
        }
        if (!to.flush())
            return writeFailed(to);
        to.close();
        to.setPermissions(kReadOnly);
    }
    // The list as the check read it, not as the file may read now.
    QFile list(QDir(folder).filePath(QFileInfo(plan.targets.at(1)).path() + QLatin1Char('/') + kListName));
    if (!list.open(QIODevice::WriteOnly | QIODevice::NewOnly) || list.write(source.ChecksumList()) != source.ChecksumList().size() ||
        !list.flush())
        return writeFailed(list);
    list.close();
    list.setPermissions(kReadOnly);
    return true;
}

void LoadStaging::MarkUsed(const QString& folder, const QString& sourceFlashXml) const
{
    QFile marker(QDir(folder).filePath(kMarker));
    if (marker.open(QIODevice::WriteOnly | QIODevice::Truncate))
        marker.write(QStringLiteral("Staged from %1\nLast used %2\n")
                         .arg(QDir::toNativeSeparators(sourceFlashXml), QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
                         .toUtf8());
}

void LoadStaging::Prune(const QString& keep) const
{
    static const QRegularExpression staged(QStringLiteral("^[0-9a-f]{16}(\\.partial)?$"));
    struct Entry
    {
        QString path;
        QDateTime used;
    };
    std::vector<Entry> loads;
    for (const QFileInfo& entry : QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        // Only what staging names: a root set to a folder that holds more loses nothing else.
        if (!staged.match(entry.fileName()).hasMatch() || entry.absoluteFilePath() == keep)
            continue;
        if (entry.fileName().endsWith(kPartial)) {
            RemoveStagedFolder(entry.absoluteFilePath()); // a copy cut short
            continue;
        }
        const QFileInfo marker(QDir(entry.absoluteFilePath()).filePath(kMarker));
        loads.push_back(Entry{entry.absoluteFilePath(), marker.exists() ? marker.lastModified() : entry.lastModified()});
    }
    std::sort(loads.begin(), loads.end(), [](const Entry& a, const Entry& b) { return a.used > b.used; });
    for (size_t i = kKeptLoads - 1; i < loads.size(); ++i)
        RemoveStagedFolder(loads[i].path);
}

bool LoadStaging::Stage(const LoadSnapshot& source, StagedLoad& staged, QString& error, const Progress& progress)
{
    if (source.ChecksumList().isNull()) {
        error = QStringLiteral("the load has no checksum list to stage it by");
        return false;
    }
    Plan plan;
    if (!MakePlan(source, plan, error))
        return false;
    if (!QDir().mkpath(root)) {
        error = QStringLiteral("the staging folder %1 cannot be made").arg(QDir::toNativeSeparators(root));
        return false;
    }
    staged = StagedLoad();
    staged.sourceFlashXml = source.FlashXml();
    staged.digest = LoadDigestOf(source.ChecksumList());
    staged.folder = QDir(root).absoluteFilePath(staged.digest);
    staged.bytes = plan.bytes;
    staged.reused = QFileInfo(staged.folder).isDir() && Reusable(staged.folder, source, plan);
    if (!staged.reused) {
        const QStorageInfo disk(root);
        if (disk.isValid() && disk.bytesAvailable() < plan.bytes + kSpareBytes) {
            error = QStringLiteral("a copy of %1 bytes does not fit in %2, which has %3 bytes free")
                        .arg(plan.bytes)
                        .arg(QDir::toNativeSeparators(root))
                        .arg(disk.bytesAvailable());
            return false;
        }
        const QString partial = staged.folder + kPartial;
        RemoveStagedFolder(partial);
        const bool copied = CopyInto(partial, source, plan, error, progress);
        // A source that changed under the copy may have been copied half old, half new.
        const QString changed = copied ? source.Changed() : QString();
        if (!changed.isEmpty())
            error = QStringLiteral("the load changed while it was staged: %1").arg(changed);
        if (!copied || !changed.isEmpty() || (QFileInfo(staged.folder).exists() && !RemoveStagedFolder(staged.folder)) ||
            !QDir().rename(partial, staged.folder)) {
            if (error.isEmpty())
                error = QStringLiteral("the copy cannot be moved to %1").arg(QDir::toNativeSeparators(staged.folder));
            RemoveStagedFolder(partial);
            return false;
        }
    }
    staged.flashXml = QDir(staged.folder).filePath(plan.targets.at(0));
    staged.scatter = QDir(staged.folder).filePath(plan.targets.at(1));
    // A flash XML that names its scatter file by a full path would still send the engine to the source.
    FlashXMLParser parser;
    if (!parser.ParseXMLFile(staged.flashXml) ||
        QFileInfo(parser.GetScatterFilePath()).absoluteFilePath() != QFileInfo(staged.scatter).absoluteFilePath()) {
        error = QStringLiteral("the staged flash XML %1 does not name the staged scatter file %2")
                    .arg(QDir::toNativeSeparators(staged.flashXml), QDir::toNativeSeparators(staged.scatter));
        return false;
    }
    staged.scatter = parser.GetScatterFilePath();
    MarkUsed(staged.folder, staged.sourceFlashXml);
    Prune(staged.folder);
    return true;
}
