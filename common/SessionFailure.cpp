#include "common/SessionFailure.h"

#include "quillon.h"

FailureKind SessionFailureKind(const QString& stage, int result)
{
    // The station's own look at the load, before the device was touched.
    if (stage == QLatin1String("load-check"))
        return FailureKind::LoadChanged;
    const bool scan = stage == QLatin1String("scan");
    if (result == QUILLON_E_CANCELLED || (scan && result == QUILLON_E_STOPPED))
        return FailureKind::Cancelled;
    // The engine refuses a connection, or a command on a device that demands authentication, alike.
    if (result == QUILLON_E_AUTH)
        return FailureKind::Authentication;
    if (scan)
        return FailureKind::Scan;
    if (stage == QLatin1String("connect"))
        return FailureKind::Connect;
    if (stage == QLatin1String("enter-mode"))
        return FailureKind::EnterMode;
    // The load was checked against its checksum list when it was chosen, so a download that can no longer
    // read its scatter file or an image is not flashing that load any more. The engine's I/O failure also
    // covers an update's backup folder, which it does not tell apart.
    if (result == QUILLON_E_IO &&
        (stage == QLatin1String("CMD:FLASH-ALL") || stage == QLatin1String("CMD:FLASH-UPDATE")))
        return FailureKind::LoadChanged;
    return FailureKind::Command;
}
