// What a scan looks for: any arrival, one COM port, or a device whose description contains a text.
#pragma once

#include <QString>

namespace quillonsim {

struct ScanTarget
{
    enum class Kind
    {
        AnyPort,
        Port,
        Text
    };

    Kind kind = Kind::AnyPort;
    int com = 0;
    QString text;

    // "COM://", "COM://COMn" or "COM://<text>"; false with a reason for anything else.
    static bool Parse(const QByteArray& uri, ScanTarget& out, QString& error);
    QString Describe() const;
};

} // namespace quillonsim
