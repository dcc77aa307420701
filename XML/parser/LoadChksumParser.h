#pragma once

#include "IXMLParser.h"

#include <QHash>

// Reads the load's checksum list: image name to expected checksum, as the texts found.
class LoadChksumParser : public IXMLParser
{
public:
    // A checksum list names every image of a load, so it may be far larger than the other documents.
    static constexpr qint64 kSizeCap = 16 * 1024 * 1024;

    LoadChksumParser();
    ~LoadChksumParser() override;

    QHash<QString, QString> GetChecksumMap() const;

protected:
    bool ParseDocument(const QDomElement& root) override;

private:
    QHash<QString, QString> checksumMap;
};
