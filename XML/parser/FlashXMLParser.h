#pragma once

#include "IXMLParser.h"

// Reads the operator's flash XML: the path of the load's scatter file and the contact text. The file is
// accepted only with a readable "flash.xsd" beside it.
class FlashXMLParser : public IXMLParser
{
public:
    FlashXMLParser();
    ~FlashXMLParser() override;

    QString GetScatterFilePath() const;

protected:
    bool ParseDocument(const QDomElement& root) override;
    bool CheckIfValidXMLSchema(const QString& path) override;

private:
    bool GetNodeText(const QDomElement& root, const QString& name, QString& text);

    QString scatterFilePath;
    QString contactText;
};
