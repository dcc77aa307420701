#include "common/LoadSnapshot.h"

#include "common/LoadContents.h"

#include <QDir>
#include <QFile>

LoadSnapshot LoadSnapshot::Take(const QString& flashXml, const QString& scatter)
{
    LoadSnapshot snapshot;
    snapshot.scatter = scatter;
    snapshot.listPath = scatter.isEmpty() ? QString() : LoadChecksumListPath(scatter);
    QStringList paths{flashXml, scatter, snapshot.listPath};
    for (const LoadImage& image : LoadContents::Read(scatter).images) {
        if (!paths.contains(image.path))
            paths << image.path;
    }
    for (const QString& path : paths)
        snapshot.files.push_back(File{path, Platform::VersionOf(path)});
    // Read after the versions: a write in between shows as a change when the snapshot is confirmed.
    QFile list(snapshot.listPath);
    if (!snapshot.listPath.isEmpty() && list.size() <= kMaximumListSize && list.open(QIODevice::ReadOnly))
        snapshot.checksumList = list.readAll();
    return snapshot;
}

QString LoadSnapshot::Changed() const
{
    for (const File& file : files) {
        const Platform::FileVersion now = Platform::VersionOf(file.path);
        const QString shown = QDir::toNativeSeparators(file.path);
        const bool was = file.version.exists && file.version.regular;
        if (was && !(now.exists && now.regular))
            return QStringLiteral("%1 is missing").arg(shown);
        if (!was && now.exists)
            return QStringLiteral("%1 has appeared since the load was checked").arg(shown);
        if (was && (now.volume != file.version.volume || now.file != file.version.file))
            return QStringLiteral("%1 has been replaced since the load was checked").arg(shown);
        if (was && now != file.version)
            return QStringLiteral("%1 has changed since the load was checked").arg(shown);
    }
    return QString();
}
