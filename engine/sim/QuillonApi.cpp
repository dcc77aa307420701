// The C entry points: check every argument, route the call to the farm, and keep the last error.
#include "quillon.h"
#include "quillon_sim.h"

#include "CommandDocument.h"
#include "CommandExecutor.h"
#include "CommandNames.h"
#include "Engine.h"
#include "LastError.h"
#include "OperationContext.h"
#include "ScanTarget.h"
#include "Session.h"
#include "SessionSteps.h"

#include <cstring>
#include <functional>

using namespace quillonsim;

namespace {

constexpr size_t kMaxTextArgument = 64 * 1024;

int FailThread(const char* function, const Status& status)
{
    LastError::RecordForThread(status.message);
    Engine::Instance().Trace().Write(QStringLiteral("%1 failed (%2): %3")
                                         .arg(QLatin1String(function))
                                         .arg(status.code)
                                         .arg(status.message));
    return status.code;
}

Status Invalid(const QString& text)
{
    return Status::Fail(QUILLON_E_INVALID_ARGUMENT, text);
}

// A text argument that may be null (treated as empty) but not unbounded.
bool OptionalText(const char* value, const char* name, QString& out, QString& error)
{
    if (value == nullptr) {
        out.clear();
        return true;
    }
    const size_t length = strnlen(value, kMaxTextArgument + 1);
    if (length > kMaxTextArgument) {
        error = QStringLiteral("Argument %1 is longer than %2 bytes")
                    .arg(QLatin1String(name))
                    .arg(kMaxTextArgument);
        return false;
    }
    out = QString::fromUtf8(value, int(length));
    return true;
}

bool RequiredText(const char* value, const char* name, QByteArray& out, QString& error,
                  size_t limit = kMaxTextArgument)
{
    if (value == nullptr) {
        error = QStringLiteral("Argument %1 is null").arg(QLatin1String(name));
        return false;
    }
    const size_t length = strnlen(value, limit + 1);
    if (length > limit) {
        error = QStringLiteral("Argument %1 is longer than %2 bytes").arg(QLatin1String(name)).arg(limit);
        return false;
    }
    out = QByteArray(value, int(length));
    return true;
}

// Runs one call on a session: the handle is checked against the registry and the session serves one call at
// a time; a failure becomes the session's (and the thread's) last error.
int OnSession(const char* function, QuillonSession* handle,
              const std::function<Status(Farm&, Session&)>& work)
{
    Engine::Call call(Engine::Instance());
    if (!call.Ok())
        return FailThread(function, call.Failure());
    if (handle == nullptr)
        return FailThread(function,
                          Status::Fail(QUILLON_E_INVALID_HANDLE, QStringLiteral("No session handle given")));
    const std::shared_ptr<Session> session = call.TheFarm().Sessions().Find(handle);
    if (!session)
        return FailThread(
            function,
            Status::Fail(QUILLON_E_INVALID_HANDLE,
                         QStringLiteral("Invalid session handle 0x%1").arg(quintptr(handle), 0, 16)));
    session->NoteCaller();
    Status status;
    if (!session->TryBegin()) {
        status = Status::Fail(QUILLON_E_SEQUENCE, QStringLiteral("The session is busy with another call"));
    } else {
        status = work(call.TheFarm(), *session);
        session->End();
    }
    EngineTrace& trace = Engine::Instance().Trace();
    if (!status.Ok()) {
        LastError::RecordForSession(*session, status.message);
        trace.Write(QStringLiteral("session %1: %2 failed (%3): %4")
                        .arg(session->Id())
                        .arg(QLatin1String(function))
                        .arg(status.code)
                        .arg(status.message));
    } else {
        trace.Write(QStringLiteral("session %1: %2 done").arg(session->Id()).arg(QLatin1String(function)));
    }
    return status.code;
}

} // namespace

extern "C" {

QUILLON_API int quillon_startup(void*)
{
    const Status status = Engine::Instance().Startup();
    return status.Ok() ? QUILLON_OK : FailThread("quillon_startup", status);
}

QUILLON_API int quillon_cleanup(void)
{
    const Status status = Engine::Instance().Cleanup();
    return status.Ok() ? QUILLON_OK : FailThread("quillon_cleanup", status);
}

QUILLON_API int quillon_env_set_log(int mode, const char* folder)
{
    Engine::Call call(Engine::Instance());
    if (!call.Ok())
        return FailThread("quillon_env_set_log", call.Failure());
    const Status status = Engine::Instance().SetLog(mode, folder);
    if (!status.Ok())
        return FailThread("quillon_env_set_log", status);
    if (mode == QUILLON_LOG_ON)
        Engine::Instance().Trace().Write(QStringLiteral("engine trace started"));
    return QUILLON_OK;
}

QUILLON_API QuillonSession* quillon_create_session(void)
{
    Engine::Call call(Engine::Instance());
    if (!call.Ok()) {
        FailThread("quillon_create_session", call.Failure());
        return nullptr;
    }
    Farm& farm = call.TheFarm();
    if (farm.Config().refuseSessions) {
        FailThread("quillon_create_session",
                   Status::Fail(QUILLON_E_FAILED,
                                QStringLiteral("The engine refuses sessions (RefuseSessions=true in %1)")
                                    .arg(farm.Config().source)));
        return nullptr;
    }
    auto session = std::make_shared<Session>(SessionRegistry::NextId(), farm.shared_from_this());
    session->SetError(QByteArray(), LastError::Stamp());
    QuillonSession* handle = farm.Sessions().Add(session);
    if (handle == nullptr) {
        FailThread("quillon_create_session",
                   Status::Fail(QUILLON_E_FAILED, QStringLiteral("Too many open sessions (at most %1)")
                                                      .arg(SessionRegistry::kMaxSessions)));
        return nullptr;
    }
    Engine::Instance().Trace().Write(QStringLiteral("session %1 created").arg(session->Id()));
    return handle;
}

QUILLON_API int quillon_destroy_session(QuillonSession* handle)
{
    Engine::Call call(Engine::Instance());
    if (!call.Ok())
        return FailThread("quillon_destroy_session", call.Failure());
    const std::shared_ptr<Session> session = handle ? call.TheFarm().Sessions().Remove(handle) : nullptr;
    if (!session)
        return FailThread(
            "quillon_destroy_session",
            Status::Fail(QUILLON_E_INVALID_HANDLE,
                         QStringLiteral("Invalid session handle 0x%1").arg(quintptr(handle), 0, 16)));
    // A call still running on the session stops at its next poll; the device is released when it returns.
    session->Abandon();
    Engine::Instance().Trace().Write(QStringLiteral("session %1 destroyed").arg(session->Id()));
    return QUILLON_OK;
}

QUILLON_API int quillon_scan_device(const char* uri, char* out, unsigned int outLength,
                                    unsigned int timeoutMs, const ScanCallbacks* callbacks)
{
    const char* function = "quillon_scan_device";
    if (out != nullptr && outLength > 0)
        out[0] = '\0';
    Engine::Call call(Engine::Instance());
    if (!call.Ok())
        return FailThread(function, call.Failure());
    Farm& farm = call.TheFarm();
    QByteArray uriText;
    QString error;
    if (!RequiredText(uri, "uri", uriText, error, 4096))
        return FailThread(function, Invalid(error));
    if (out == nullptr)
        return FailThread(function, Invalid(QStringLiteral("The output buffer is null")));
    if (outLength < unsigned(farm.MaxDescriptionLength()) + 1)
        return FailThread(
            function, Invalid(QStringLiteral("The output buffer of %1 bytes is too short: port descriptions "
                                             "need up to %2 bytes")
                                  .arg(outLength)
                                  .arg(farm.MaxDescriptionLength() + 1)));
    ScanTarget target;
    if (!ScanTarget::Parse(uriText, target, error))
        return FailThread(function, Invalid(error));
    const StopQuery stop(callbacks ? callbacks->stop : nullptr, callbacks ? callbacks->user : nullptr);
    QByteArray description;
    const Status status = farm.Scan(target, timeoutMs, stop, description);
    if (!status.Ok())
        return FailThread(function, status);
    std::memcpy(out, description.constData(), size_t(description.size()));
    out[description.size()] = '\0';
    Engine::Instance().Trace().Write(
        QStringLiteral("scan %1 found %2").arg(QString::fromUtf8(uriText), QString::fromUtf8(description)));
    return QUILLON_OK;
}

QUILLON_API int quillon_connect_device(QuillonSession* session, const char* portDescription, const char* baud,
                                       const char* authFile, const char* certFile,
                                       const OperationCallbacks* callbacks)
{
    return OnSession("quillon_connect_device", session, [&](Farm& farm, Session& s) {
        QByteArray description;
        QByteArray baudText;
        QString auth;
        QString cert;
        QString error;
        if (!RequiredText(portDescription, "portDescription", description, error, 511) ||
            !RequiredText(baud, "baud", baudText, error, 64) ||
            !OptionalText(authFile, "authFile", auth, error) ||
            !OptionalText(certFile, "certFile", cert, error))
            return Invalid(error);
        return SessionSteps::Connect(farm, s, description, auth, cert, callbacks);
    });
}

QUILLON_API int quillon_enter_mode(QuillonSession* session, const char* mode, const char* flashXml,
                                   const char* modeSetting, const OperationCallbacks* callbacks)
{
    return OnSession("quillon_enter_mode", session, [&](Farm& farm, Session& s) {
        QByteArray modeText;
        QString flash;
        QByteArray setting;
        QString error;
        if (!RequiredText(mode, "mode", modeText, error, 256) ||
            !OptionalText(flashXml, "flashXml", flash, error) ||
            !RequiredText(modeSetting, "modeSetting", setting, error, size_t(CommandDocument::kMaxBytes)))
            return Invalid(error);
        return SessionSteps::EnterMode(farm, s, QString::fromUtf8(modeText), flash, setting, callbacks);
    });
}

QUILLON_API int quillon_execute_command(QuillonSession* session, const char* command,
                                        const OperationCallbacks* callbacks)
{
    return OnSession("quillon_execute_command", session, [&](Farm& farm, Session& s) {
        QByteArray text;
        QString error;
        if (!RequiredText(command, "command", text, error, size_t(CommandDocument::kMaxBytes)))
            return Invalid(error);
        CommandDocument document;
        if (!document.Parse(text, error))
            return Invalid(error);
        if (!CommandNames::IsSupported(document.Name()))
            return Status::Fail(QUILLON_E_UNSUPPORTED,
                                QStringLiteral("Unsupported command %1").arg(document.Name()));
        const Status ready = SessionSteps::CheckDaMode(farm, s, document.Name());
        if (!ready.Ok())
            return ready;
        OperationContext context(farm, s, callbacks);
        CommandExecutor executor(context);
        return executor.Execute(document);
    });
}

QUILLON_API const char* quillon_get_last_error_msg(QuillonSession* session)
{
    if (session == nullptr)
        return LastError::ThreadText();
    Engine::Call call(Engine::Instance());
    if (!call.Ok())
        return LastError::ThreadText();
    const std::shared_ptr<Session> found = call.TheFarm().Sessions().Find(session);
    return found ? LastError::TextFor(found.get()) : LastError::ThreadText();
}

QUILLON_API int quillon_sim_configure(const char* iniPath)
{
    const Status status = Engine::Instance().Configure(iniPath);
    return status.Ok() ? QUILLON_OK : FailThread("quillon_sim_configure", status);
}
}
