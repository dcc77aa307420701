#include "ImageName.h"
#include "LoadFormat.h"
#include "Utf8Text.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace loadformat {

namespace {

// A scatter file lists a few dozen partitions; anything this large is not one.
constexpr qint64 kScatterCap = 4 * 1024 * 1024;

const QString kNone = QStringLiteral("NONE");

QString LineError(const QString& path, int line, const QString& reason)
{
    return QStringLiteral("%1:%2: %3").arg(path, QString::number(line), reason);
}

bool DecodeLine(const QByteArray& bytes, QString& out)
{
    if (Utf8Text::FirstInvalid(bytes) >= 0 || bytes.contains('\0'))
        return false;
    out = QString::fromUtf8(bytes);
    return true;
}

QString PartitionProblem(const QString& partition)
{
    if (partition.isEmpty())
        return QStringLiteral("partition name is empty");
    for (const QChar c : partition) {
        if (c.isSpace() || c == QLatin1Char('#') || c.unicode() < 0x20)
            return QStringLiteral("partition name \"%1\" contains a blank, '#' or a control character")
                .arg(partition);
    }
    return QString();
}

// Compiled once: every download reads its scatter file. Never destroyed: a thread the caller leaves running
// at exit may still be reading one.
const QRegularExpression& Blanks()
{
    static const QRegularExpression& blanks = *new QRegularExpression(QStringLiteral("\\s+"));
    return blanks;
}

} // namespace

QString Scatter::ImagePath(const ScatterEntry& entry) const
{
    return folder + QLatin1Char('/') + entry.image;
}

bool ReadScatter(const QString& path, Scatter& out, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > kScatterCap) {
        error = QStringLiteral("%1: larger than %2 bytes; not a scatter file")
                    .arg(path, QString::number(kScatterCap));
        return false;
    }
    // Read at the size the file has, not at the cap: a buffer of the cap is mapped afresh for every read.
    const qint64 size = file.size();
    QByteArray content = file.read(std::min(size, kScatterCap) + 1);
    if (content.size() > size)
        content += file.read(kScatterCap + 1 - content.size()); // it grew since: the cap still holds
    if (content.size() > kScatterCap) {
        error = QStringLiteral("%1: larger than %2 bytes; not a scatter file")
                    .arg(path, QString::number(kScatterCap));
        return false;
    }

    Scatter scatter;
    scatter.folder = QFileInfo(path).absolutePath();
    QHash<QString, int> lineOfImage;
    const QList<QByteArray> lines = content.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const int lineNumber = index + 1;
        QString text;
        if (!DecodeLine(lines.at(index), text)) {
            error = LineError(path, lineNumber, QStringLiteral("not valid UTF-8 text"));
            return false;
        }
        const int hash = text.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            text.truncate(hash);
        const QStringList fields = text.split(Blanks(), Qt::SkipEmptyParts);
        if (fields.isEmpty())
            continue;
        if (fields.size() != 2) {
            error = LineError(path, lineNumber,
                              QStringLiteral("expected \"<partition> <image file>\", found %1 field%2")
                                  .arg(fields.size())
                                  .arg(fields.size() == 1 ? QString() : QStringLiteral("s")));
            return false;
        }
        ScatterEntry entry;
        entry.partition = fields.at(0);
        entry.image = fields.at(1);
        entry.line = lineNumber;
        const QString partitionProblem = PartitionProblem(entry.partition);
        if (!partitionProblem.isEmpty()) {
            error = LineError(path, lineNumber, partitionProblem);
            return false;
        }
        if (entry.image == kNone)
            continue;
        const QString imageProblem = ImageName::Problem(entry.image);
        if (!imageProblem.isEmpty()) {
            error = LineError(path, lineNumber, imageProblem);
            return false;
        }
        const QString key = ImageName::Key(entry.image);
        const auto earlier = lineOfImage.constFind(key);
        if (earlier != lineOfImage.constEnd()) {
            error = LineError(path, lineNumber,
                              QStringLiteral("image \"%1\" is already listed on line %2; two images of one "
                                             "load must not share a name")
                                  .arg(entry.image, QString::number(earlier.value())));
            return false;
        }
        lineOfImage.insert(key, lineNumber);
        scatter.images.append(entry);
    }
    out = scatter;
    return true;
}

bool WriteScatter(const QString& path, const QVector<ScatterEntry>& entries, QString& error)
{
    return WriteScatter(path, entries, QString(), error);
}

bool WriteScatter(const QString& path, const QVector<ScatterEntry>& entries, const QString& comment,
                  QString& error)
{
    QByteArray content;
    for (const QString& line : comment.split(QLatin1Char('\n'))) {
        if (!comment.isEmpty())
            content += (line.isEmpty() ? QStringLiteral("#\n") : QStringLiteral("# %1\n").arg(line)).toUtf8();
    }
    QHash<QString, QString> seen;
    for (const ScatterEntry& entry : entries) {
        // Refuse what ReadScatter would refuse, so a written file always reads back as written.
        QString problem = PartitionProblem(entry.partition);
        if (problem.isEmpty() && entry.image != kNone) {
            problem = ImageName::Problem(entry.image);
            if (problem.isEmpty() && seen.contains(ImageName::Key(entry.image)))
                problem = QStringLiteral("image \"%1\" is listed twice; two images of one load must not "
                                         "share a name")
                              .arg(entry.image);
            seen.insert(ImageName::Key(entry.image), entry.image);
        }
        if (problem.isEmpty() && entry.image.contains(QRegularExpression(QStringLiteral("[\\s#]"))))
            problem = QStringLiteral("image \"%1\" contains a blank or '#'").arg(entry.image);
        if (!problem.isEmpty()) {
            error = QStringLiteral("%1: %2").arg(path, problem);
            return false;
        }
        content += QStringLiteral("%1 %2\n").arg(entry.partition, entry.image).toUtf8();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace loadformat
