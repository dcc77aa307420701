#include "ImageName.h"
#include "LoadFormat.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QXmlStreamWriter>

namespace loadformat {

namespace {

constexpr qint64 kChecksumListCap = 16 * 1024 * 1024;

bool IsChecksumText(const QString& text)
{
    if (text.size() != 16)
        return false;
    for (const QChar c : text) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const bool letter = c >= QLatin1Char('a') && c <= QLatin1Char('f');
        if (!digit && !letter)
            return false;
    }
    return true;
}

QString EntryProblem(const QString& name, const QString& checksum)
{
    const QString nameProblem = ImageName::Problem(name);
    if (!nameProblem.isEmpty())
        return nameProblem;
    if (!IsChecksumText(checksum))
        return QStringLiteral("checksum \"%1\" of image \"%2\" is not 16 lowercase hexadecimal digits")
            .arg(checksum, name);
    return QString();
}

} // namespace

QString ChecksumListPath(const QString& scatterPath)
{
    return QFileInfo(scatterPath).absoluteDir().filePath(QLatin1String(kChecksumListName));
}

bool WriteChecksumList(const QString& path, const QVector<ChecksumListEntry>& entries, QString& error)
{
    QSet<QString> seen;
    for (const ChecksumListEntry& entry : entries) {
        QString problem = EntryProblem(entry.name, entry.checksum);
        if (problem.isEmpty() && seen.contains(ImageName::Key(entry.name)))
            problem = QStringLiteral("image \"%1\" is listed twice").arg(entry.name);
        if (!problem.isEmpty()) {
            error = QStringLiteral("%1: %2").arg(path, problem);
            return false;
        }
        seen.insert(ImageName::Key(entry.name));
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QXmlStreamWriter writer(&file);
    writer.setCodec("UTF-8");
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(4);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("checksum_list"));
    writer.writeStartElement(QStringLiteral("images"));
    for (const ChecksumListEntry& entry : entries) {
        writer.writeEmptyElement(QStringLiteral("file"));
        writer.writeAttribute(QStringLiteral("name"), entry.name);
        writer.writeAttribute(QStringLiteral("checksum"), entry.checksum);
    }
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    if (writer.hasError() || !file.commit()) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool ReadChecksumList(const QString& path, QVector<ChecksumListEntry>& out, QString& error)
{
    XmlNode root;
    if (!ReadXmlFile(path, root, error, kChecksumListCap))
        return false;
    const auto fail = [&](const QString& reason) {
        error = QStringLiteral("%1: %2").arg(path, reason);
        return false;
    };
    if (root.name != QLatin1String("checksum_list"))
        return fail(QStringLiteral("root element is \"%1\", expected \"checksum_list\"").arg(root.name));
    const XmlNode* images = root.Child(QStringLiteral("images"));
    if (images == nullptr)
        return fail(QStringLiteral("no \"images\" element"));

    QVector<ChecksumListEntry> entries;
    QHash<QString, int> indexOfKey;
    for (const XmlNode& node : images->children) {
        const int index = entries.size() + 1;
        if (node.name != QLatin1String("file"))
            return fail(
                QStringLiteral("entry %1 is a \"%2\" element, expected \"file\"").arg(index).arg(node.name));
        if (!node.attributes.contains(QStringLiteral("name")))
            return fail(QStringLiteral("entry %1 has no \"name\" attribute").arg(index));
        if (!node.attributes.contains(QStringLiteral("checksum")))
            return fail(QStringLiteral("entry %1 has no \"checksum\" attribute").arg(index));
        ChecksumListEntry entry;
        entry.name = node.attributes.value(QStringLiteral("name"));
        entry.checksum = node.attributes.value(QStringLiteral("checksum"));
        const QString problem = EntryProblem(entry.name, entry.checksum);
        if (!problem.isEmpty())
            return fail(QStringLiteral("entry %1: %2").arg(index).arg(problem));
        const QString key = ImageName::Key(entry.name);
        if (indexOfKey.contains(key))
            return fail(QStringLiteral("entry %1: image \"%2\" is already listed as entry %3")
                            .arg(QString::number(index), entry.name, QString::number(indexOfKey.value(key))));
        indexOfKey.insert(key, index);
        entries.append(entry);
    }
    out = entries;
    return true;
}

} // namespace loadformat

namespace loadformat {

bool WriteChecksumListForScatter(const QString& scatterPath, QVector<ChecksumListEntry>& written,
                                 QString& error)
{
    Scatter scatter;
    if (!ReadScatter(scatterPath, scatter, error))
        return false;
    QVector<ChecksumListEntry> entries;
    entries.reserve(scatter.images.size());
    for (const ScatterEntry& image : scatter.images) {
        ChecksumListEntry entry;
        entry.name = image.image;
        QString reason;
        if (!LoadChecksum::OfFile(scatter.ImagePath(image), entry.checksum, reason)) {
            error = QStringLiteral("%1:%2: image \"%3\": %4")
                        .arg(scatterPath, QString::number(image.line), image.image, reason);
            return false;
        }
        entries.append(entry);
    }
    if (!WriteChecksumList(ChecksumListPath(scatterPath), entries, error))
        return false;
    written = entries;
    return true;
}

} // namespace loadformat
