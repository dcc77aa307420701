// Runs one command document on a session's device in DA mode.
#pragma once

#include "CommandDocument.h"
#include "OperationContext.h"

namespace quillonsim {

class CommandExecutor
{
public:
    static constexpr qint64 kMaxEfuseBytes = 1024 * 1024;

    explicit CommandExecutor(OperationContext& context) : context(context) {}

    Status Execute(const CommandDocument& command);

private:
    Status Run(const CommandDocument& command);
    Status EraseFlash(const CommandDocument& command);
    Status Flash(const CommandDocument& command, bool update);
    Status WriteFeedback(const CommandDocument& command);
    Status WriteEfuse(const CommandDocument& command);
    Status ReadEfuse(const CommandDocument& command);
    Status SetBootMode(const CommandDocument& command);
    Status Reboot(const CommandDocument& command);
    Status AnswerSysProperty(const CommandDocument& command);
    Status AnswerFirmwareInfo(const CommandDocument& command);
    Status SetFlashPolicy(const CommandDocument& command);

    Status WriteAnswer(const CommandDocument& command, const QByteArray& answer);
    Status WriteBackup(const QString& folder);
    static Status WriteFile(const QString& path, const QByteArray& bytes, const QString& what);

    OperationContext& context;
};

} // namespace quillonsim
