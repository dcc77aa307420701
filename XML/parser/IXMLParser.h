#pragma once

#include <QByteArray>
#include <QDomElement>
#include <QString>

class QIODevice;

// Common reading of every XML the tool takes in: checks and opens a file, or takes a string, parses it
// through the guarded reader and hands the root element to the derived class, which interprets it.
// A parser lives for one parse; the error message keeps the last error until the next one.
class IXMLParser
{
public:
    static constexpr qint64 kDefaultSizeCap = 2 * 1024 * 1024;

    virtual ~IXMLParser();

    bool ParseXMLFile(const QString& path);
    bool ParseXMLString(const QString& xml);
    // The bytes a file at path held when they were read, parsed as ParseXMLFile parses the file, with the
    // same messages; the file itself is not looked at.
    bool ParseXMLBytes(const QByteArray& bytes, const QString& path);
    QString GetErrorMsg() const;

protected:
    // sizeCap bounds the input in bytes (for a file) or characters (for a string).
    explicit IXMLParser(qint64 sizeCap = kDefaultSizeCap);
    IXMLParser(const IXMLParser&) = default;
    IXMLParser& operator=(const IXMLParser&) = default;

    virtual bool ParseDocument(const QDomElement& root) = 0;
    virtual bool CheckIfValidXMLSchema(const QString& path);

    void SetErrorMsg(const QString& message) { errorMsg = message; }
    // Absolute folder of the file last read with ParseXMLFile.
    const QString& GetDocumentFolder() const { return documentFolder; }

private:
    static QString InvalidFileMessage(const QString& path);
    bool ParseDevice(QIODevice& device, const QString& path);

    QString errorMsg;
    QString documentFolder;
    qint64 sizeCap;
};
