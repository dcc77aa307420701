#include "ProcessScan.h"

#include <QDir>
#include <QFile>

namespace ProcessScan {

namespace {

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

bool IsAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    const QByteArray stat = Read(QStringLiteral("/proc/%1/stat").arg(pid));
    // The state follows the command name, which is in parentheses and may itself hold spaces or parentheses.
    const int close = stat.lastIndexOf(')');
    if (close < 0 || close + 2 >= stat.size())
        return false;
    const char state = stat.at(close + 2);
    return state != 'Z' && state != 'X';
}

std::vector<qint64> WithEnvironmentEntry(const QByteArray& entry)
{
    std::vector<qint64> found;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool isPid = false;
        const qint64 pid = name.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QList<QByteArray> variables = Read(QStringLiteral("/proc/%1/environ").arg(pid)).split('\0');
        if (variables.contains(entry) && IsAlive(pid))
            found.push_back(pid);
    }
    return found;
}

} // namespace ProcessScan
