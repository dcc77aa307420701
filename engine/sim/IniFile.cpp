#include "IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace quillonsim {

namespace {

constexpr qint64 kMaxIniBytes = 1024 * 1024;

} // namespace

bool IniFile::Read(const QString& filePath, QString& error)
{
    path = filePath;
    groups.clear();
    if (!QFileInfo(filePath).isFile()) {
        error = QStringLiteral("Farm file not found: %1").arg(filePath);
        return false;
    }
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Farm file %1 cannot be read: %2").arg(filePath, file.errorString());
        return false;
    }
    if (file.size() > kMaxIniBytes) {
        error = QStringLiteral("Farm file %1 is larger than %2 bytes").arg(filePath).arg(kMaxIniBytes);
        return false;
    }
    QString text = QString::fromUtf8(file.readAll());
    // Editors on Windows like to start the file with a byte order mark.
    if (text.startsWith(QChar(0xfeff)))
        text.remove(0, 1);
    const QVector<QStringRef> lines = text.splitRef(QLatin1Char('\n'));
    QSet<QString> groupNames;
    QSet<QString> keys;
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNumber = i + 1;
        const QString line = lines[i].trimmed().toString();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')) || line.size() < 3) {
                error = QStringLiteral("Farm file %1, line %2: malformed group header \"%3\"")
                            .arg(filePath)
                            .arg(lineNumber)
                            .arg(line);
                return false;
            }
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (groupNames.contains(name)) {
                error = QStringLiteral("Farm file %1, line %2: group [%3] appears twice")
                            .arg(filePath)
                            .arg(lineNumber)
                            .arg(name);
                return false;
            }
            groupNames.insert(name);
            keys.clear();
            groups.push_back(IniGroup{name, lineNumber, {}});
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            error = QStringLiteral("Farm file %1, line %2: expected key = value, found \"%3\"")
                        .arg(filePath)
                        .arg(lineNumber)
                        .arg(line);
            return false;
        }
        if (groups.isEmpty()) {
            error =
                QStringLiteral("Farm file %1, line %2: key outside of a group").arg(filePath).arg(lineNumber);
            return false;
        }
        IniEntry entry{line.left(equals).trimmed(), line.mid(equals + 1).trimmed(), lineNumber};
        if (entry.value.size() >= 2 && entry.value.startsWith(QLatin1Char('"')) &&
            entry.value.endsWith(QLatin1Char('"')))
            entry.value = entry.value.mid(1, entry.value.size() - 2);
        if (keys.contains(entry.key)) {
            error = QStringLiteral("Farm file %1, line %2: key %3 appears twice in group [%4]")
                        .arg(filePath)
                        .arg(lineNumber)
                        .arg(entry.key, groups.back().name);
            return false;
        }
        keys.insert(entry.key);
        groups.back().entries.push_back(entry);
    }
    return true;
}

} // namespace quillonsim
