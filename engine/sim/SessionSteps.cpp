#include "SessionSteps.h"

#include "CommandDocument.h"
#include "CommandNames.h"
#include "OperationContext.h"
#include "SlaGate.h"

#include <QDir>
#include <QFileInfo>

namespace quillonsim {

namespace {

QString LocalPath(const QString& path)
{
    return QDir::fromNativeSeparators(path);
}

} // namespace

Status SessionSteps::Connect(Farm& farm, Session& session, const QByteArray& description,
                             const QString& authFile, const QString& certFile,
                             const OperationCallbacks* callbacks)
{
    if (session.state != Session::State::Created || session.device.Valid())
        return Status::Fail(QUILLON_E_SEQUENCE,
                            QStringLiteral("The session is already connected to a device"));
    DeviceRef device;
    const Status claimed = farm.Claim(description, device, session.fault);
    if (!claimed.Ok())
        return claimed;
    session.device = device;
    farm.Note(device, QStringLiteral("session"), {{QStringLiteral("session"), double(session.Id())}});
    OperationContext context(farm, session, callbacks);
    const Status status = context.Outcome(QStringLiteral("stage"), QStringLiteral("connect"),
                                          ConnectClaimed(farm, session, authFile, certFile, callbacks));
    if (!status.Ok()) {
        // A device that did not connect is free for the next scan again.
        session.device = DeviceRef();
        farm.Release(device, session.failed);
        session.failed = false;
        return status;
    }
    session.state = Session::State::Connected;
    return status;
}

Status SessionSteps::ConnectClaimed(Farm& farm, Session& session, const QString& authFile,
                                    const QString& certFile, const OperationCallbacks* callbacks)
{
    OperationContext context(farm, session, callbacks);
    const PortSettings& settings = context.Settings();
    if (settings.authRequired && authFile.isEmpty())
        return Status::Fail(
            QUILLON_E_AUTH,
            QStringLiteral("Device on %1 requires an authentication file").arg(context.PortName()));
    if (!authFile.isEmpty() && !QFileInfo(LocalPath(authFile)).isFile())
        return Status::Fail(QUILLON_E_AUTH,
                            QStringLiteral("Authentication file not found: %1").arg(authFile));
    if (!certFile.isEmpty() && !QFileInfo(LocalPath(certFile)).isFile())
        return Status::Fail(QUILLON_E_AUTH, QStringLiteral("Certificate file not found: %1").arg(certFile));
    if (session.fault.Hangs(Stage::Connect))
        return context.Hang(QStringLiteral("the handshake"));
    const Status status = context.Step(settings.connectMs, QStringLiteral("Connecting"));
    if (!status.Ok())
        return status;
    if (const Status refused = SlaGate::AuthenticateConnect(context, callbacks); !refused.Ok())
        return refused;
    if (session.fault.Fails(Stage::Connect, session.device.deviceNumber))
        return Status::Fail(QUILLON_E_DEVICE,
                            QStringLiteral("Device on %1 failed the handshake").arg(context.PortName()));
    return Status::Success();
}

Status SessionSteps::EnterMode(Farm& farm, Session& session, const QString& mode, const QString& flashXml,
                               const QByteArray& modeSetting, const OperationCallbacks* callbacks)
{
    switch (session.state) {
    case Session::State::Created:
        return Status::Fail(QUILLON_E_SEQUENCE, QStringLiteral("Cannot enter %1: not connected").arg(mode));
    case Session::State::DaMode:
        return Status::Fail(QUILLON_E_SEQUENCE,
                            QStringLiteral("Cannot enter %1: already in DA mode").arg(mode));
    case Session::State::Lost:
        return Status::Fail(QUILLON_E_DEVICE,
                            QStringLiteral("Cannot enter %1: the device is no longer connected").arg(mode));
    case Session::State::Connected:
        break;
    }
    if (mode != QLatin1String(kDaMode))
        return Status::Fail(QUILLON_E_UNSUPPORTED, QStringLiteral("Unsupported mode \"%1\"").arg(mode));
    if (flashXml.isEmpty() || !QFileInfo(LocalPath(flashXml)).isFile())
        return Status::Fail(QUILLON_E_IO, QStringLiteral("Flash XML not found: %1").arg(flashXml));
    CommandDocument setting;
    QString error;
    if (!setting.Parse(modeSetting, error))
        return Status::Fail(QUILLON_E_INVALID_ARGUMENT, QStringLiteral("DA mode setting: %1").arg(error));
    if (setting.Name() != CommandNames::kSetRuntimeParameter)
        return Status::Fail(QUILLON_E_INVALID_ARGUMENT,
                            QStringLiteral("DA mode setting must be %1, found %2")
                                .arg(CommandNames::kSetRuntimeParameter, setting.Name()));
    OperationContext context(farm, session, callbacks);
    return context.Outcome(QStringLiteral("stage"), QStringLiteral("enter"),
                           EnterDaMode(farm, session, context));
}

Status SessionSteps::EnterDaMode(Farm& farm, Session& session, OperationContext& context)
{
    if (!farm.StillPresent(session.device)) {
        session.state = Session::State::Lost;
        return Status::Fail(QUILLON_E_DEVICE,
                            QStringLiteral("Device on %1 is no longer connected").arg(context.PortName()));
    }
    const PortSettings& settings = context.Settings();
    if (session.fault.Hangs(Stage::Enter))
        return context.Hang(QStringLiteral("the download agent"));
    const Status status = context.Step(settings.daLoadMs, QStringLiteral("Loading DA"));
    if (!status.Ok())
        return status;
    if (session.fault.Fails(Stage::Enter, session.device.deviceNumber))
        return Status::Fail(
            QUILLON_E_DEVICE,
            QStringLiteral("Device on %1 failed to start the download agent").arg(context.PortName()));
    session.state = Session::State::DaMode;
    return Status::Success();
}

Status SessionSteps::CheckDaMode(Farm& farm, Session& session, const QString& what)
{
    if (session.state == Session::State::Lost ||
        (session.device.Valid() && !farm.StillPresent(session.device))) {
        session.state = Session::State::Lost;
        return Status::Fail(QUILLON_E_DEVICE,
                            QStringLiteral("%1 refused: the device is no longer connected").arg(what));
    }
    if (session.state != Session::State::DaMode)
        return Status::Fail(QUILLON_E_SEQUENCE, QStringLiteral("%1 refused: not in DA mode").arg(what));
    return Status::Success();
}

} // namespace quillonsim
