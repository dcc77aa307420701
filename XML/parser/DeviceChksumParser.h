#pragma once

#include "IXMLParser.h"

#include <QHash>
#include <QPair>

// Reads the device's downloaded-image feedback: image file name (without folder) to the device's
// checksum and the partition that received the image.
class DeviceChksumParser : public IXMLParser
{
public:
    using ChecksumMap = QHash<QString, QPair<QString, QString>>;

    DeviceChksumParser();
    ~DeviceChksumParser() override;

    ChecksumMap GetChecksumMap() const;

protected:
    bool ParseDocument(const QDomElement& root) override;

private:
    ChecksumMap checksumMap;
};
