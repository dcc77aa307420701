#pragma once

#include <QString>

// What a scan's port description says about the port a device came up on.
struct PortIdentity
{
    QString portName;         // the last parenthesised text, e.g. COM12
    QString instanceId;       // the third "@" field
    QString friendlyPortName; // "#" fields two and three and the second "@" field, joined by "@"
    QString comportType;      // "PreLoader" or "BROM"
};

// Missing fields read as empty.
PortIdentity ParsePortDescription(const QString& description);
