#pragma once

#include "IXMLParser.h"

// Reads the device's firmware-information answer: the rnd, hrid and socid texts (hexadecimal digits)
// that the authentication library needs.
class SecDevFWInfoParser : public IXMLParser
{
public:
    SecDevFWInfoParser();
    ~SecDevFWInfoParser() override;

    const QString& GetRnd() const { return rnd; }
    const QString& GetHrid() const { return hrid; }
    const QString& GetSocid() const { return socid; }

protected:
    bool ParseDocument(const QDomElement& root) override;

private:
    bool GetNodeText(const QDomElement& root, const QString& name, QString& text);

    QString rnd;
    QString hrid;
    QString socid;
};
