// The command names the simulated download agent understands.
#pragma once

#include <QString>
#include <QStringList>

namespace quillonsim {

namespace CommandNames {

inline const QString kEraseFlash = QStringLiteral("CMD:ERASE-FLASH");
inline const QString kFlashAll = QStringLiteral("CMD:FLASH-ALL");
inline const QString kFlashUpdate = QStringLiteral("CMD:FLASH-UPDATE");
inline const QString kFeedback = QStringLiteral("CMD:GET-DOWNLOADED-IMAGE-FEEDBACK");
inline const QString kWriteEfuse = QStringLiteral("CMD:WRITE-EFUSE");
inline const QString kReadEfuse = QStringLiteral("CMD:READ-EFUSE");
inline const QString kSetBootMode = QStringLiteral("CMD:SET-BOOT-MODE");
inline const QString kReboot = QStringLiteral("CMD:REBOOT");
inline const QString kGetSysProperty = QStringLiteral("CMD:GET-SYS-PROPERTY");
inline const QString kGetDevFwInfo = QStringLiteral("CMD:SECURITY-GET-DEV-FW-INFO");
inline const QString kSetFlashPolicy = QStringLiteral("CMD:SECURITY-SET-FLASH-POLICY");
inline const QString kSetRuntimeParameter = QStringLiteral("CMD:SET-RUNTIME-PARAMETER");

// The commands quillon_execute_command accepts; the runtime parameters only come with entering DA mode.
inline QStringList Executable()
{
    return {kEraseFlash,  kFlashAll, kFlashUpdate,    kFeedback,     kWriteEfuse,    kReadEfuse,
            kSetBootMode, kReboot,   kGetSysProperty, kGetDevFwInfo, kSetFlashPolicy};
}

inline bool IsSupported(const QString& name)
{
    return Executable().contains(name);
}

// Accepts a name with or without its "CMD:" prefix, in any letter case.
inline QString Normalised(const QString& name)
{
    const QString upper = name.toUpper();
    return upper.startsWith(QLatin1String("CMD:")) ? upper : QStringLiteral("CMD:") + upper;
}

} // namespace CommandNames

} // namespace quillonsim
