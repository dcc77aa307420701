#include "SlaGate.h"

#include "CommandNames.h"
#include "DeviceIdentity.h"
#include "SlaDigest.h"

#include <QRandomGenerator>
#include <QStringList>

namespace quillonsim {

namespace {

constexpr int kBromChallengeBytes = 16;

Status Refused(const QString& text)
{
    return Status::Fail(QUILLON_E_AUTH, text);
}

QByteArray RandomBytes(int length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(QRandomGenerator::system()->bounded(256));
    return bytes;
}

} // namespace

Status SlaGate::AuthenticateConnect(OperationContext& context, const OperationCallbacks* callbacks)
{
    const PortSettings& settings = context.Settings();
    if (!settings.bromSla)
        return Status::Success();
    const SLA_Challenge_Fn challengeFn = callbacks != nullptr ? callbacks->slaChallenge : nullptr;
    if (challengeFn == nullptr)
        return Refused(
            QStringLiteral("Device on %1 requires BROM SLA authentication: no SLA_Challenge function "
                           "was given")
                .arg(context.PortName()));
    const QByteArray challenge = RandomBytes(kBromChallengeBytes);
    uint8_t* response = nullptr;
    uint32_t responseLength = 0;
    const int result = challengeFn(nullptr, reinterpret_cast<const uint8_t*>(challenge.constData()),
                                   uint32_t(challenge.size()), &response, &responseLength);
    if (result != 0)
        return Refused(QStringLiteral("Device on %1 refused the connection: SLA_Challenge returned %2")
                           .arg(context.PortName())
                           .arg(result));
    QByteArray answer;
    // The response is the library's memory: copy it before _END releases it.
    if (response != nullptr && responseLength <= kMaxResponseBytes)
        answer = QByteArray(reinterpret_cast<const char*>(response), int(responseLength));
    if (callbacks->slaChallengeEnd != nullptr)
        callbacks->slaChallengeEnd(nullptr, response);
    if (answer.isEmpty() || answer != sladigest::Response(settings.slaKey, challenge))
        return Refused(
            QStringLiteral("Device on %1 refused the connection: the SLA_Challenge response does not "
                           "answer its challenge")
                .arg(context.PortName()));
    return Status::Success();
}

Status SlaGate::AcceptsResponse(OperationContext& context, const QByteArray& response)
{
    const PortSettings& settings = context.Settings();
    if (!settings.slaEnabled)
        return Status::Success();
    Session& session = context.TheSession();
    // A challenge is answered once, so a recorded response cannot be replayed.
    const QByteArray rnd = session.challenge;
    session.challenge.clear();
    if (rnd.isEmpty())
        return Refused(
            QStringLiteral("Device on %1 refused the flash policy: it gave no DA SLA challenge to answer "
                           "(%2 comes first)")
                .arg(context.PortName(), CommandNames::kGetDevFwInfo));
    const QByteArray data = sladigest::DaChallengeData(settings.slaType, DeviceIdentity::Hrid(session.device),
                                                       DeviceIdentity::Socid(session.device), rnd);
    if (response != sladigest::Response(settings.slaKey, data))
        return Refused(
            QStringLiteral("Device on %1 refused the flash policy: the response does not answer its "
                           "DA SLA challenge")
                .arg(context.PortName()));
    return Status::Success();
}

Status SlaGate::Permits(OperationContext& context, const QString& command)
{
    namespace N = CommandNames;
    if (!context.Settings().slaEnabled || context.TheSession().policyAccepted)
        return Status::Success();
    const QStringList guarded{N::kEraseFlash, N::kFlashAll, N::kFlashUpdate, N::kWriteEfuse};
    if (!guarded.contains(command))
        return Status::Success();
    return Refused(QStringLiteral("%1 refused: the device on %2 has DA SLA enabled and has accepted no flash "
                                  "policy (%3)")
                       .arg(command, context.PortName(), N::kSetFlashPolicy));
}

} // namespace quillonsim
