#include "common/LoadContents.h"

#include "XML/parser/LoadChksumParser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

QString LoadChecksumListPath(const QString& scatterPath)
{
    return QFileInfo(scatterPath).absoluteDir().filePath(QStringLiteral("scatter_checksum.xml"));
}

LoadContents LoadContents::Read(const QString& scatterPath)
{
    LoadContents contents;
    QFile scatter(scatterPath);
    if (scatterPath.isEmpty() || !scatter.open(QIODevice::ReadOnly))
        return contents;
    contents.readable = true;
    const QDir folder = QFileInfo(scatterPath).absoluteDir();
    while (!scatter.atEnd()) {
        const QString line = QString::fromUtf8(scatter.readLine()).section(QLatin1Char('#'), 0, 0).simplified();
        const QString partition = line.section(QLatin1Char(' '), 0, 0);
        const QString image = line.section(QLatin1Char(' '), 1, 1);
        if (!image.isEmpty() && image != QLatin1String("NONE"))
            contents.images.append(LoadImage{partition, image, folder.filePath(image)});
    }
    return contents;
}

qint64 LoadContents::TotalBytes() const
{
    qint64 total = 0;
    for (const LoadImage& image : images)
        total += QFileInfo(image.path).size();
    return total;
}

QString LoadContents::Problem(const QString& scatterPath)
{
    const LoadContents contents = Read(scatterPath);
    if (!contents.readable)
        return QStringLiteral("the scatter file %1 cannot be read").arg(QDir::toNativeSeparators(scatterPath));
    if (contents.images.isEmpty())
        return QStringLiteral("no image to download in %1").arg(QDir::toNativeSeparators(scatterPath));
    const QString listPath = LoadChecksumListPath(scatterPath);
    if (!QFileInfo::exists(listPath))
        return QString();
    LoadChksumParser list;
    if (!list.ParseXMLFile(listPath))
        return QStringLiteral("the checksum list %1 cannot be read: %2")
            .arg(QDir::toNativeSeparators(listPath), list.GetErrorMsg());
    // Image names are matched in any letter case, as the engine's file systems do.
    QSet<QString> listed;
    for (const QString& name : list.GetChecksumMap().keys())
        listed.insert(name.toCaseFolded());
    for (const LoadImage& image : contents.images) {
        if (!listed.contains(image.file.toCaseFolded()))
            return QStringLiteral("image %1 (partition %2) is not in the checksum list %3")
                .arg(image.file, image.partition, QDir::toNativeSeparators(listPath));
    }
    return QString();
}
