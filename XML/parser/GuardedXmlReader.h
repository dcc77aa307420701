#pragma once

#include <QByteArray>
#include <QString>

class QDomDocument;
class QIODevice;
class QXmlStreamReader;

// Reads an XML document into a DOM only after a bounded streaming pass has accepted it. The DOM
// builder's own byte and string readers crash or exhaust memory on hostile files (deep nesting, entity
// expansion) and let broken encodings through, so nothing reaches it unchecked.
class GuardedXmlReader
{
public:
    static constexpr qint64 kDefaultSizeCap = 2 * 1024 * 1024;
    static constexpr int kMaxDepth = 64;
    static constexpr qint64 kMaxBytesWithoutToken = 64 * 1024;

    explicit GuardedXmlReader(qint64 sizeCap = kDefaultSizeCap);

    qint64 SizeCap() const { return sizeCap; }

    // Both fill document only when the input passes every check; the reader's own message, line and
    // column (or ours, in the same shape) are kept otherwise. A string is read as already decoded text,
    // so an encoding it declares is ignored.
    bool Read(const QByteArray& bytes, QDomDocument& document);
    bool Read(const QString& text, QDomDocument& document);
    // Reads no more of the device than the cap allows; a file known to be larger is refused unread.
    bool Read(QIODevice& device, QDomDocument& document);

    const QString& ErrorMessage() const { return errorMessage; }
    int ErrorLine() const { return errorLine; }
    int ErrorColumn() const { return errorColumn; }

private:
    QString SizeMessage() const;
    bool CheckBytes(const QByteArray& bytes);
    bool CheckText(const QString& text);
    // Reads every token the data fed so far completes; false once the document is refused or complete.
    bool Advance(QXmlStreamReader& reader, bool& tokenCompleted);
    bool Finish(QXmlStreamReader& reader);
    bool BuildDocument(QXmlStreamReader& reader, QDomDocument& document);
    bool Refuse(const QString& message, qint64 line, qint64 column);
    bool RefuseByReader(const QXmlStreamReader& reader);

    qint64 sizeCap;
    int depth = 0;
    bool complete = false;
    QString errorMessage;
    int errorLine = 0;
    int errorColumn = 0;
};
