#include "GuardedXmlReader.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QIODevice>
#include <QTextCodec>
#include <QXmlStreamReader>

namespace {

// Small enough that the bound on bytes without a completed token is exceeded by at most one chunk.
constexpr int kChunkSize = 4096;

QString Tr(const char* text)
{
    return QCoreApplication::translate("GuardedXmlReader", text);
}

// The reader takes a document for UTF-16 or UTF-32 when it starts with a byte-order mark or a zero byte.
bool StartsAsWideEncoding(const QByteArray& bytes)
{
    if (bytes.startsWith("\xfe\xff") || bytes.startsWith("\xff\xfe")) {
        return true;
    }
    return (!bytes.isEmpty() && bytes.at(0) == '\0') || (bytes.size() > 1 && bytes.at(1) == '\0');
}

bool DecodedAsUtf8(const QByteArray& bytes, const QString& declaredEncoding)
{
    if (StartsAsWideEncoding(bytes)) {
        return false;
    }
    if (declaredEncoding.isEmpty()) {
        return true;
    }
    const QTextCodec* codec = QTextCodec::codecForName(declaredEncoding.toLatin1());
    return codec == nullptr || codec->mibEnum() == 106;
}

// The reader's decoder keeps an unfinished multi-byte sequence waiting for more input and never reports
// it when the input simply ends, so a truncated last character would pass unnoticed.
bool EndsInsideUtf8Sequence(const QByteArray& bytes)
{
    int index = bytes.size() - 1;
    int continuationBytes = 0;
    while (index >= 0 && continuationBytes < 3 &&
           (static_cast<unsigned char>(bytes.at(index)) & 0xc0) == 0x80) {
        ++continuationBytes;
        --index;
    }
    if (index < 0) {
        return false;
    }
    const unsigned char lead = static_cast<unsigned char>(bytes.at(index));
    int sequenceLength = 1;
    if ((lead & 0xe0) == 0xc0) {
        sequenceLength = 2;
    } else if ((lead & 0xf0) == 0xe0) {
        sequenceLength = 3;
    } else if ((lead & 0xf8) == 0xf0) {
        sequenceLength = 4;
    }
    return sequenceLength > continuationBytes + 1;
}

} // namespace

GuardedXmlReader::GuardedXmlReader(qint64 sizeCap) : sizeCap(sizeCap) {}

bool GuardedXmlReader::Read(const QByteArray& bytes, QDomDocument& document)
{
    if (!CheckBytes(bytes)) {
        return false;
    }
    QXmlStreamReader reader(bytes);
    return BuildDocument(reader, document);
}

bool GuardedXmlReader::Read(const QString& text, QDomDocument& document)
{
    if (!CheckText(text)) {
        return false;
    }
    QXmlStreamReader reader(text);
    return BuildDocument(reader, document);
}

bool GuardedXmlReader::Read(QIODevice& device, QDomDocument& document)
{
    if (!device.isSequential() && device.size() > sizeCap) {
        return Refuse(SizeMessage(), 1, 0);
    }
    // One byte past the cap is enough to tell an oversized stream.
    const qint64 limit = device.isSequential() ? sizeCap : qMin(device.size(), sizeCap);
    return Read(device.read(limit + 1), document);
}

QString GuardedXmlReader::SizeMessage() const
{
    return Tr("Document is larger than %1 bytes.").arg(sizeCap);
}

bool GuardedXmlReader::CheckBytes(const QByteArray& bytes)
{
    depth = 0;
    complete = false;
    if (bytes.size() > sizeCap) {
        return Refuse(SizeMessage(), 1, 0);
    }
    QXmlStreamReader reader;
    reader.setNamespaceProcessing(false);
    qint64 bytesWithoutToken = 0;
    for (int offset = 0; offset < bytes.size() && !complete; offset += kChunkSize) {
        const int length = qMin(kChunkSize, bytes.size() - offset);
        reader.addData(QByteArray(bytes.constData() + offset, length));
        bool tokenCompleted = false;
        if (!Advance(reader, tokenCompleted)) {
            return false;
        }
        bytesWithoutToken = tokenCompleted ? 0 : bytesWithoutToken + length;
        if (bytesWithoutToken > kMaxBytesWithoutToken) {
            return Refuse(Tr("More than %1 bytes without a complete token.").arg(kMaxBytesWithoutToken),
                          reader.lineNumber(), reader.columnNumber());
        }
    }
    if (!Finish(reader)) {
        return false;
    }
    if (DecodedAsUtf8(bytes, reader.documentEncoding().toString()) && EndsInsideUtf8Sequence(bytes)) {
        return Refuse(Tr("Document ends inside a UTF-8 sequence."), reader.lineNumber(),
                      reader.columnNumber());
    }
    return true;
}

bool GuardedXmlReader::CheckText(const QString& text)
{
    depth = 0;
    complete = false;
    if (text.size() > sizeCap) {
        return Refuse(Tr("Document is longer than %1 characters.").arg(sizeCap), 1, 0);
    }
    QXmlStreamReader reader;
    reader.setNamespaceProcessing(false);
    qint64 charactersWithoutToken = 0;
    for (int offset = 0; offset < text.size() && !complete;) {
        int length = qMin(kChunkSize, text.size() - offset);
        // A surrogate pair split across two chunks would be converted as two broken halves.
        if (offset + length < text.size() && text.at(offset + length - 1).isHighSurrogate()) {
            ++length;
        }
        reader.addData(text.mid(offset, length));
        offset += length;
        bool tokenCompleted = false;
        if (!Advance(reader, tokenCompleted)) {
            return false;
        }
        charactersWithoutToken = tokenCompleted ? 0 : charactersWithoutToken + length;
        if (charactersWithoutToken > kMaxBytesWithoutToken) {
            return Refuse(Tr("More than %1 characters without a complete token.").arg(kMaxBytesWithoutToken),
                          reader.lineNumber(), reader.columnNumber());
        }
    }
    return Finish(reader);
}

bool GuardedXmlReader::Advance(QXmlStreamReader& reader, bool& tokenCompleted)
{
    while (!complete) {
        const QXmlStreamReader::TokenType type = reader.readNext();
        if (reader.hasError()) {
            // Running out of the data fed so far is the normal pause between two chunks.
            return reader.error() == QXmlStreamReader::PrematureEndOfDocumentError || RefuseByReader(reader);
        }
        tokenCompleted = true;
        switch (type) {
        case QXmlStreamReader::DTD:
            return Refuse(Tr("Document type declarations are not accepted."), reader.lineNumber(),
                          reader.columnNumber());
        case QXmlStreamReader::EntityReference:
            return Refuse(Tr("Unresolved entity references are not accepted."), reader.lineNumber(),
                          reader.columnNumber());
        case QXmlStreamReader::StartElement:
            if (++depth > kMaxDepth) {
                return Refuse(Tr("Elements nested deeper than %1 levels are not accepted.").arg(kMaxDepth),
                              reader.lineNumber(), reader.columnNumber());
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::EndDocument:
            complete = true;
            break;
        default:
            break;
        }
    }
    return true;
}

bool GuardedXmlReader::Finish(QXmlStreamReader& reader)
{
    if (complete) {
        return true;
    }
    // All input is in; a reader still waiting for more holds a truncated or empty document.
    bool tokenCompleted = false;
    if (!Advance(reader, tokenCompleted)) {
        return false;
    }
    return complete || RefuseByReader(reader);
}

bool GuardedXmlReader::BuildDocument(QXmlStreamReader& reader, QDomDocument& document)
{
    reader.setNamespaceProcessing(false);
    QString message;
    int line = 0;
    int column = 0;
    if (!document.setContent(&reader, false, &message, &line, &column)) {
        document.clear();
        return Refuse(message, line, column);
    }
    return true;
}

bool GuardedXmlReader::Refuse(const QString& message, qint64 line, qint64 column)
{
    errorMessage = message;
    errorLine = static_cast<int>(line);
    errorColumn = static_cast<int>(column);
    return false;
}

bool GuardedXmlReader::RefuseByReader(const QXmlStreamReader& reader)
{
    return Refuse(reader.errorString(), reader.lineNumber(), reader.columnNumber());
}
