#include "ParserTestSupport.h"

#include "logging/Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ParserTestSupport {

namespace {

QString LogFilePath()
{
    return QString::fromLocal8Bit(Logger::Instance().GetDumpFolder()) + QStringLiteral("/Praxilo_TOOL.log");
}

// The message sits between "<function>(): " and the "(<source>,<line>)" the logger appends.
QString LinePattern(const QString& function, const QString& message, const QString& sourceName)
{
    return QStringLiteral("]: ") + function + QStringLiteral("(): ") + message + QLatin1Char('(') +
           sourceName + QLatin1Char(',');
}

} // namespace

void StartLogging()
{
    qputenv("XDG_DATA_HOME", QDir::current().absoluteFilePath(QStringLiteral("logs")).toLocal8Bit());
    Logger::Instance().StartLogging();
}

LogCapture::LogCapture() : startOffset(QFileInfo(LogFilePath()).size()) {}

QStringList LogCapture::Lines() const
{
    QFile file(LogFilePath());
    if (!file.open(QIODevice::ReadOnly) || !file.seek(startOffset)) {
        return {};
    }
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int LogCapture::Count(const QString& function, const QString& message, const QString& sourceName) const
{
    const QString pattern = LinePattern(function, message, sourceName);
    int count = 0;
    for (const QString& line : Lines()) {
        count += line.contains(pattern) ? 1 : 0;
    }
    return count;
}

int LogCapture::CountContaining(const QString& function, const QString& fragment) const
{
    const QString prefix = QStringLiteral("]: ") + function + QStringLiteral("(): ");
    int count = 0;
    for (const QString& line : Lines()) {
        const int at = line.indexOf(prefix);
        count += (at >= 0 && line.indexOf(fragment, at + prefix.size()) >= 0) ? 1 : 0;
    }
    return count;
}

QString MakeCleanFolder(const QString& name)
{
    QDir folder(QDir::current().absoluteFilePath(name));
    folder.removeRecursively();
    QDir().mkpath(folder.absolutePath());
    return folder.absolutePath();
}

} // namespace ParserTestSupport
