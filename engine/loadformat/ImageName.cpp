#include "ImageName.h"

namespace loadformat {

QString ImageName::Problem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("image name is empty");
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QStringLiteral("image \"%1\" has a folder part; images must be bare file names").arg(name);
    // "C:system.img" is relative to a drive's current folder on Windows, so a colon is refused too.
    if (name.contains(QLatin1Char(':')))
        return QStringLiteral("image \"%1\" is not a bare file name").arg(name);
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("image \"%1\" is not a file name").arg(name);
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("image \"%1\" contains a control character").arg(name);
    }
    return QString();
}

QString ImageName::Key(const QString& name)
{
    return name.toCaseFolded();
}

} // namespace loadformat
