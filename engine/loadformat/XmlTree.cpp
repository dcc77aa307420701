#include "LoadFormat.h"

#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>

namespace loadformat {

namespace {

constexpr int kMaxDepth = 64;
constexpr qint64 kMaxPendingBytes = 64 * 1024;
constexpr qint64 kChunk = 16 * 1024;

QString PositionedError(const QXmlStreamReader& reader)
{
    return QStringLiteral("%1 (line %2, column %3)")
        .arg(reader.errorString())
        .arg(reader.lineNumber())
        .arg(reader.columnNumber());
}

bool HasUtf16Bom(const QByteArray& bytes)
{
    return bytes.startsWith("\xff\xfe") || bytes.startsWith("\xfe\xff");
}

// Offset of the first byte that does not belong to a well-formed UTF-8 sequence, or -1.
int FirstInvalidUtf8(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const int size = bytes.size();
    int i = 0;
    while (i < size) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        unsigned int minimum = 0;
        unsigned int value = 0;
        if ((lead & 0xe0) == 0xc0) {
            length = 2;
            minimum = 0x80;
            value = lead & 0x1f;
        } else if ((lead & 0xf0) == 0xe0) {
            length = 3;
            minimum = 0x800;
            value = lead & 0x0f;
        } else if ((lead & 0xf8) == 0xf0) {
            length = 4;
            minimum = 0x10000;
            value = lead & 0x07;
        } else {
            return i;
        }
        if (i + length > size)
            return i;
        for (int k = 1; k < length; ++k) {
            if ((data[i + k] & 0xc0) != 0x80)
                return i;
            value = (value << 6) | (data[i + k] & 0x3f);
        }
        if (value < minimum || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
            return i;
        i += length;
    }
    return -1;
}

bool DeclaresOtherEncoding(const QXmlStreamReader& reader)
{
    const QString encoding = reader.documentEncoding().toString();
    return !encoding.isEmpty() && encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) != 0;
}

} // namespace

const XmlNode* XmlNode::Child(const QString& childName) const
{
    for (const XmlNode& child : children) {
        if (child.name == childName)
            return &child;
    }
    return nullptr;
}

bool ReadXmlTree(const QByteArray& bytes, XmlNode& root, QString& error, qint64 cap)
{
    if (bytes.size() > cap) {
        error = QStringLiteral("document of %1 bytes is larger than the limit of %2 bytes")
                    .arg(bytes.size())
                    .arg(cap);
        return false;
    }
    QXmlStreamReader reader;
    reader.setNamespaceProcessing(false);

    XmlNode tree;
    std::vector<XmlNode*> open;
    bool haveRoot = false;
    qint64 fed = 0;
    qint64 fedAtLastToken = 0;

    // Feeding the reader in chunks lets a token that never completes be refused after a bounded
    // amount of input instead of after the whole document.
    for (;;) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::Invalid) {
            if (reader.error() != QXmlStreamReader::PrematureEndOfDocumentError)
                break;
            if (fed >= bytes.size())
                break;
            if (fed - fedAtLastToken >= kMaxPendingBytes) {
                reader.raiseError(
                    QStringLiteral("no complete XML token within %1 bytes").arg(kMaxPendingBytes));
                break;
            }
            const qint64 length = std::min(kChunk, qint64(bytes.size()) - fed);
            reader.addData(QByteArray::fromRawData(bytes.constData() + fed, int(length)));
            fed += length;
            continue;
        }
        fedAtLastToken = fed;
        switch (token) {
        case QXmlStreamReader::StartDocument:
            break;
        case QXmlStreamReader::DTD:
            reader.raiseError(QStringLiteral("DOCTYPE declarations are not accepted"));
            break;
        case QXmlStreamReader::EntityReference:
            reader.raiseError(QStringLiteral("entity references are not accepted"));
            break;
        case QXmlStreamReader::StartElement: {
            if (int(open.size()) >= kMaxDepth) {
                reader.raiseError(QStringLiteral("elements are nested deeper than %1 levels").arg(kMaxDepth));
                break;
            }
            XmlNode* node = nullptr;
            if (open.empty()) {
                // The reader itself refuses a second root element; this only guards the tree.
                if (haveRoot) {
                    reader.raiseError(QStringLiteral("more than one root element"));
                    break;
                }
                haveRoot = true;
                node = &tree;
            } else {
                // Growing the innermost open element's children never moves its ancestors.
                open.back()->children.emplace_back();
                node = &open.back()->children.back();
            }
            node->name = reader.qualifiedName().toString();
            const QXmlStreamAttributes attributes = reader.attributes();
            for (const QXmlStreamAttribute& attribute : attributes)
                node->attributes.insert(attribute.qualifiedName().toString(), attribute.value().toString());
            open.push_back(node);
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!open.empty())
                open.pop_back();
            break;
        case QXmlStreamReader::Characters:
            if (!open.empty())
                open.back()->text += reader.text();
            break;
        default:
            break;
        }
        if (reader.hasError() || token == QXmlStreamReader::EndDocument)
            break;
    }
    if (!reader.hasError() && reader.atEnd() && !haveRoot)
        reader.raiseError(QStringLiteral("the document has no root element"));
    if (reader.hasError()) {
        error = PositionedError(reader);
        return false;
    }
    // The reader silently replaces malformed UTF-8 with U+FFFD, which would turn a corrupt name into
    // a plausible one.
    if (!DeclaresOtherEncoding(reader) && !HasUtf16Bom(bytes)) {
        const int bad = FirstInvalidUtf8(bytes);
        if (bad >= 0) {
            const int lineStart = bytes.lastIndexOf('\n', bad) + 1;
            error = QStringLiteral("the document is not valid UTF-8 (line %1, column %2)")
                        .arg(bytes.left(bad).count('\n') + 1)
                        .arg(bad - lineStart + 1);
            return false;
        }
    }
    if (reader.tokenType() != QXmlStreamReader::EndDocument) {
        error = QStringLiteral("the document ends before its root element is closed (line %1, column %2)")
                    .arg(reader.lineNumber())
                    .arg(reader.columnNumber());
        return false;
    }
    root = std::move(tree);
    return true;
}

bool ReadXmlFile(const QString& path, XmlNode& root, QString& error, qint64 cap)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(cap + 1);
    if (bytes.size() > cap) {
        error = QStringLiteral("%1: larger than the limit of %2 bytes").arg(path).arg(cap);
        return false;
    }
    QString reason;
    if (!ReadXmlTree(bytes, root, reason, cap)) {
        error = QStringLiteral("%1: %2").arg(path, reason);
        return false;
    }
    return true;
}

} // namespace loadformat
