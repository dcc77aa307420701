#include "common/LoadSnapshot.h"

#include <QDir>
#include <QFileInfo>

LoadSnapshot LoadSnapshot::Take(const QString& flashXml, const QString& scatter, const QString& checksumList)
{
    LoadSnapshot snapshot;
    for (const QString& path : {flashXml, scatter, checksumList}) {
        const QFileInfo info(path);
        snapshot.files.push_back(File{path, info.isFile(), info.size(), info.lastModified()});
    }
    return snapshot;
}

QString LoadSnapshot::Changed() const
{
    for (const File& file : files) {
        const QFileInfo info(file.path);
        const QString shown = QDir::toNativeSeparators(file.path);
        if (file.existed && !info.isFile())
            return QStringLiteral("%1 is missing").arg(shown);
        if (!file.existed && info.exists())
            return QStringLiteral("%1 has appeared since the load was checked").arg(shown);
        if (file.existed && (info.size() != file.size || info.lastModified() != file.modified))
            return QStringLiteral("%1 has changed since the load was checked").arg(shown);
    }
    return QString();
}
