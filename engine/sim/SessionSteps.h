// Connecting a session to its device and starting the download agent: the steps before any command.
#pragma once

#include "Farm.h"
#include "OperationContext.h"
#include "Session.h"
#include "Status.h"

namespace quillonsim {

class SessionSteps
{
public:
    static constexpr const char* kDaMode = "FLASH-MODE-DA";

    static Status Connect(Farm& farm, Session& session, const QByteArray& description,
                          const QString& authFile, const QString& certFile,
                          const OperationCallbacks* callbacks);
    static Status EnterMode(Farm& farm, Session& session, const QString& mode, const QString& flashXml,
                            const QByteArray& modeSetting, const OperationCallbacks* callbacks);
    // Refuses a command unless the session is in DA mode with its device still present.
    static Status CheckDaMode(Farm& farm, Session& session, const QString& what);

private:
    static Status ConnectClaimed(Farm& farm, Session& session, const QString& authFile,
                                 const QString& certFile, const OperationCallbacks* callbacks);
    static Status EnterDaMode(Farm& farm, Session& session, OperationContext& context);
};

} // namespace quillonsim
