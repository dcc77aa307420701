// Where the device's SLA authentication is decided: whether the caller's SLA_Challenge pair answers the boot
// ROM's challenge at connect, whether a flash-policy response answers the device's DA challenge, and
// whether a protected command may run. The answers are checked against the authentication stand-in's
// digest under the port's SlaKey, over the challenge data its SlaType selects.
#pragma once

#include "OperationContext.h"
#include "Status.h"

#include <QByteArray>
#include <QString>

namespace quillonsim {

class SlaGate
{
public:
    // Longest response the farm reads from the caller's authentication library.
    static constexpr uint32_t kMaxResponseBytes = 4096;

    // With BromSla enabled, the connect fails unless the caller's SLA_Challenge answers a fresh challenge.
    static Status AuthenticateConnect(OperationContext& context, const OperationCallbacks* callbacks);
    // A device with DA SLA answers one response per challenge it gave; one without takes any response.
    static Status AcceptsResponse(OperationContext& context, const QByteArray& response);
    // Flash, erase and eFuse writes wait for an accepted response on a device with DA SLA.
    static Status Permits(OperationContext& context, const QString& command);
};

} // namespace quillonsim
