#include "record/LoadDigest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <xxhash.h>

namespace {

// A checksum list is a few megabytes at most; a bigger file is not one.
constexpr qint64 kMaximumListSize = 64 * 1024 * 1024;

} // namespace

QString LoadDigest(const QString& scatterPath)
{
    if (scatterPath.isEmpty())
        return QString();
    QFile list(QFileInfo(scatterPath).absoluteDir().filePath(QStringLiteral("scatter_checksum.xml")));
    if (list.size() > kMaximumListSize || !list.open(QIODevice::ReadOnly))
        return QString();
    return LoadDigestOf(list.readAll());
}

QString LoadDigestOf(const QByteArray& checksumList)
{
    const XXH64_hash_t digest = XXH3_64bits(checksumList.constData(), static_cast<size_t>(checksumList.size()));
    return QStringLiteral("%1").arg(static_cast<qulonglong>(digest), 16, 16, QLatin1Char('0'));
}
