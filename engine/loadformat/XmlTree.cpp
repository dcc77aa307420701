#include "LoadFormat.h"
#include "Utf8Text.h"

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
        .arg(reader.errorString(), QString::number(reader.lineNumber()),
             QString::number(reader.columnNumber()));
}

bool HasUtf16Bom(const QByteArray& bytes)
{
    return bytes.startsWith("\xff\xfe") || bytes.startsWith("\xfe\xff");
}

bool DeclaresOtherEncoding(const QXmlStreamReader& reader)
{
    const QString encoding = reader.documentEncoding().toString();
    return !encoding.isEmpty() && encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) != 0;
}

QString PositionOf(const QByteArray& bytes, int offset)
{
    const int lineStart = bytes.lastIndexOf('\n', offset) + 1;
    return QStringLiteral("(line %1, column %2)")
        .arg(bytes.left(offset).count('\n') + 1)
        .arg(offset - lineStart + 1);
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
    // Everything the engine side reads is written as UTF-8; the reader would quietly replace malformed
    // bytes, and knowing the encoding lets the token guard count bytes exactly.
    if (HasUtf16Bom(bytes)) {
        error = QStringLiteral("only UTF-8 documents are accepted (line 1, column 1)");
        return false;
    }
    const int invalid = Utf8Text::FirstInvalid(bytes);
    if (invalid >= 0) {
        error = QStringLiteral("the document is not valid UTF-8 %1").arg(PositionOf(bytes, invalid));
        return false;
    }

    QXmlStreamReader reader;
    reader.setNamespaceProcessing(false);

    XmlNode tree;
    std::vector<XmlNode*> open;
    bool haveRoot = false;
    qint64 fed = 0;
    qint64 lastTokenEnd = 0;
    Utf8Text::Cursor cursor(bytes);

    // Feeding the reader in chunks, never further than the guard allows past the end of the last
    // completed token, refuses an endless token after a bounded amount of input.
    for (;;) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::Invalid) {
            if (reader.error() != QXmlStreamReader::PrematureEndOfDocumentError || fed >= bytes.size())
                break;
            const qint64 allowed = lastTokenEnd + kMaxPendingBytes - fed;
            if (allowed <= 0) {
                reader.raiseError(
                    QStringLiteral("no complete XML token within %1 bytes").arg(kMaxPendingBytes));
                break;
            }
            const qint64 length = std::min({kChunk, allowed, qint64(bytes.size()) - fed});
            reader.addData(QByteArray::fromRawData(bytes.constData() + fed, int(length)));
            fed += length;
            continue;
        }
        lastTokenEnd = cursor.ByteOffsetOf(reader.characterOffset(), fed);
        switch (token) {
        case QXmlStreamReader::StartDocument:
            if (DeclaresOtherEncoding(reader))
                reader.raiseError(QStringLiteral("only UTF-8 documents are accepted"));
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
    if (reader.hasError()) {
        error = PositionedError(reader);
        return false;
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
        error = QStringLiteral("%1: larger than the limit of %2 bytes").arg(path, QString::number(cap));
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
