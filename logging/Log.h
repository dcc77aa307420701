#pragma once

// The one way call sites log. Each source file that logs names its source tag once:
//
//     static constexpr char kLogSource[] = "XML\\ICmdXMLGenerator";
//     LOGI("ICmdXMLGenerator::GetFWCmdString", "backupFolder = %s", folder.toLocal8Bit().constData());
//
// The compiler checks the format against its arguments. File names, paths and engine texts always go
// through "%s", never as the format itself.

#include "LogLevel.h"
#include "LogRecord.h"
#include "Logger.h"

#define PXL_LOG(level, function, ...)                                                                        \
    Logger::Instance().WriteLog(LogRecord{(level), (function), kLogSource, __LINE__}, __VA_ARGS__)

#define LOGD(function, ...) PXL_LOG(LogLevel::D, function, __VA_ARGS__)
#define LOGI(function, ...) PXL_LOG(LogLevel::I, function, __VA_ARGS__)
#define LOGW(function, ...) PXL_LOG(LogLevel::W, function, __VA_ARGS__)
#define LOGE(function, ...) PXL_LOG(LogLevel::E, function, __VA_ARGS__)
