// Where the device's SLA authentication is decided: whether a flash-policy response answers the device's
// challenge, and whether a protected command may run. Every response is accepted and every command allowed
// for now; the check against the authentication library's answer and the refusal of flash, erase and eFuse
// commands on SLA-enabled devices go here, and nowhere else.
#pragma once

#include "FarmConfig.h"
#include "Session.h"

#include <QByteArray>
#include <QString>

namespace quillonsim {

class SlaGate
{
public:
    static bool AcceptsResponse(const Session& session, const QByteArray& response, QString& error);
    static bool Permits(const PortSettings& settings, const Session& session, const QString& command,
                        QString& error);
};

} // namespace quillonsim
