#pragma once

#include "IXMLParser.h"

// Reads the device's system-properties answer for the value of "DA.SLA".
class SysPropsParser : public IXMLParser
{
public:
    SysPropsParser();
    ~SysPropsParser() override;

    bool IsSLAEnabled() const;

protected:
    bool ParseDocument(const QDomElement& root) override;

private:
    void ParseItem(const QDomElement& start);

    QString slaPropertyValue;
};
