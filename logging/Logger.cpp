#include "Logger.h"

#include "CriticalSectionSentry.h"
#include "Log.h"
#include "LogLevel.h"
#include "LogOutput.h"
#include "platform/Platform.h"
#include "Utility/FileUtils.h"

#include <quillon.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static constexpr char kLogSource[] = "logging\\Logger";

namespace {

constexpr int kPrefixBufferSize = 256;
constexpr int kBannerWidth = 130;

const char* LevelName(int level)
{
    static const char* const names[] = {"V", "D", "I", "W", "E", "OFF"};
    if (level < LogLevel::V || level > LogLevel::OFF) {
        return "UNKNOWN";
    }
    return names[level];
}

const char* FileNameOf(const char* sourcePath)
{
    const char* lastBackslash = strrchr(sourcePath, '\\');
    return lastBackslash ? lastBackslash + 1 : sourcePath;
}

// snprintf's result clipped to what actually landed in the buffer.
size_t StoredLength(int written, int bufferSize)
{
    if (written < 0) {
        return 0;
    }
    return static_cast<size_t>(written < bufferSize ? written : bufferSize - 1);
}

} // namespace

Logger& Logger::Instance()
{
    // Never destroyed, so a thread that logs while the process ends (the log cleaner, a library's own
    // thread) never writes into a destroyed object; the exit hook closes every output instead and drops
    // late lines. This alone does not make a detached worker safe: the text codecs and libraries it uses
    // are torn down at exit too, which is why the port manager joins its workers before it returns.
    static Logger* const instance = [] {
        auto* logger = new Logger();
        std::atexit(&Logger::ShutDownAtExit);
        return logger;
    }();
    return *instance;
}

Logger::Logger() = default;

Logger::~Logger() = default;

void Logger::ShutDownAtExit()
{
    Instance().ShutDown();
}

void Logger::ShutDown()
{
    CriticalSectionSentry sentry(lock);
    sink.Write("\nLogger deinited.");
    sink.RemoveAllOutputs();
    shutDown = true;
}

void Logger::WriteLog(const LogRecord& record, const char* format, ...)
{
    CriticalSectionSentry sentry(lock);
    if (shutDown) {
        return;
    }
    const int level = record.level;
    const int decoration = level < LogLevel::D ? level : LogLevel::D;

    va_list args;
    va_start(args, format);
    const size_t messageLength =
        StoredLength(vsnprintf(message, sizeof message, format, args), sizeof message);
    va_end(args);

    const Platform::LocalTime now = Platform::CurrentLocalTime();
    char prefix[kPrefixBufferSize];
    const size_t prefixLength = StoredLength(
        snprintf(prefix, sizeof prefix, "%02d/%02d/%02d %02d:%02d:%02d.%03d %s[%lu][%lu][%s]: ", now.month,
                 now.day, now.year, now.hour, now.minute, now.second, now.millisecond, sink.Tag().constData(),
                 Platform::ProcessId(), Platform::ThreadId(), LevelName(decoration)),
        sizeof prefix);

    char location[kPrefixBufferSize];
    const size_t locationLength =
        StoredLength(snprintf(location, sizeof location, "(%s,%d)",
                              FileNameOf(record.file ? record.file : ""), static_cast<int>(record.line)),
                     sizeof location);

    sink.SetCurrentLevel(decoration);
    sink.Write(prefix, prefixLength);
    sink.Write(record.function ? record.function : "");
    sink.Write("(): ", 4);
    sink.SetCurrentLevel(level);
    sink.Write(message, messageLength);
    sink.SetCurrentLevel(decoration);
    sink.Write(location, locationLength);
    sink.SetCurrentLevel(level);
    sink.Write("\n", 1);
    sink.Flush();

    if (!fileOpened && earlyLineCount < kEarlyLineLimit) {
        ++earlyLineCount;
        earlyLines.append(prefix, static_cast<int>(prefixLength));
        earlyLines.append(record.function ? record.function : "");
        earlyLines.append("(): ", 4);
        earlyLines.append(message, static_cast<int>(messageLength));
        earlyLines.append(location, static_cast<int>(locationLength));
        earlyLines.append('\n');
    }
    CutOverIfDue();
}

int Logger::InitLogRoot()
{
    CriticalSectionSentry sentry(lock);
    logRoot = Platform::LogRootFolder();
    return FileUtils::CheckDirectory(logRoot, true);
}

int Logger::InitLogFolders()
{
    QByteArray folder;
    return MakeDumpFolder(folder);
}

int Logger::MakeDumpFolder(QByteArray& folder)
{
    CriticalSectionSentry sentry(lock);
    InitLogRoot();
    const Platform::LocalTime now = Platform::CurrentLocalTime();
    char name[96];
    snprintf(name, sizeof name, "%cPXL_Dump_%02d-%02d-%02d-%02d-%02d-%02d", Platform::PathSeparator(),
             now.month, now.day, now.year, now.hour, now.minute, now.second);
    folder = logRoot + QByteArray(name);
    const int result = FileUtils::CheckDirectory(folder, true);
    // A folder that is not there is never named: the log file and the engine's log would go nowhere.
    const bool made = result == FileUtils::DirectoryExists || result == FileUtils::DirectoryCreated;
    dumpFolder = made ? folder : QByteArray();
    return result;
}

QByteArray Logger::GetLogRoot() const
{
    CriticalSectionSentry sentry(lock);
    return logRoot;
}

QString Logger::LogRootPath()
{
    CriticalSectionSentry sentry(lock);
    if (logRoot.isEmpty())
        InitLogRoot();
    return QDir::fromNativeSeparators(QString::fromLocal8Bit(logRoot));
}

QByteArray Logger::GetDumpFolder() const
{
    CriticalSectionSentry sentry(lock);
    return dumpFolder;
}

LogStartResult Logger::OpenLogFile()
{
    CriticalSectionSentry sentry(lock);
    LogStartResult result;
    if (shutDown) {
        result.reason = QCoreApplication::translate("Logger", "the process is ending");
        return result;
    }
    sink.SetFileThreshold(LogLevel::V);
    MakeDumpFolder(result.folder);
    if (dumpFolder.isEmpty()) {
        result.reason = QCoreApplication::translate("Logger", "the folder cannot be created");
    } else {
        cutOver.Begin(dumpFolder);
        OpenToolLog(result.reason);
    }
    sink.SetCurrentLevel(LogLevel::D);
    sink.Write("\n", 1);
    sink.Flush();
    return result;
}

bool Logger::OpenToolLog(QString& reason)
{
    const QByteArray path = cutOver.ToolLogPath();
    errno = 0;
    FILE* file = Platform::OpenSharedForAppend(path);
    const int openError = errno;
    if (!file) {
        reason = QCoreApplication::translate("Logger", "the log file %1 cannot be opened: %2")
                     .arg(QString::fromLocal8Bit(path), qt_error_string(openError));
        return false;
    }
    toolLogBaseSize = QFileInfo(QString::fromLocal8Bit(path)).size();
    auto output = std::make_unique<LogOutput>(path, LogLevel::V, file, true);
    if (!fileOpened && !earlyLines.isEmpty()) {
        output->Write(earlyLines.constData(), static_cast<size_t>(earlyLines.size()));
        output->Flush();
    }
    fileOpened = true;
    earlyLines.clear();
    sink.AddOutput(std::move(output));
    return true;
}

void Logger::SetFileLimits(const LogFileLimits& limits)
{
    CriticalSectionSentry sentry(lock);
    cutOver.SetLimits(limits);
}

// Called at the end of a line, the lock held and the message buffer free again, so the lines it writes
// itself are ordinary lines of the new file.
void Logger::CutOverIfDue()
{
    if (!sink.HasNamedOutput()) {
        return;
    }
    const int64_t size = toolLogBaseSize + static_cast<int64_t>(sink.NamedBytesWritten());
    if (cutOver.EngineCheckDue(size)) {
        QString engineError;
        const auto pointEngine = [this](const QByteArray& folder) { return PointEngineLogAt(folder) == QUILLON_OK; };
        if (cutOver.CutEngineLogIfFull(pointEngine, engineError)) {
            LOGI("Logger::CutOver", "the engine's log goes on in %s", cutOver.CurrentEngineFolder().constData());
        } else if (!engineError.isEmpty()) {
            LOGE("Logger::CutOver", "the engine's log cannot be cut over: %s", engineError.toLocal8Bit().constData());
        }
    }
    // Measured again: the line above may have cut the file over already.
    const int64_t current = toolLogBaseSize + static_cast<int64_t>(sink.NamedBytesWritten());
    if (!sink.HasNamedOutput() || !cutOver.ToolLogFull(current)) {
        return;
    }
    // The file is closed while it moves: a file held open cannot be renamed on every system.
    sink.RemoveNamedOutputs();
    QString cutError;
    const bool cut = cutOver.CutToolLog(current, cutError);
    QString openError;
    if (!OpenToolLog(openError)) {
        LOGE("Logger::CutOver", "logging goes on without a file: %s", openError.toLocal8Bit().constData());
    } else if (!cut) {
        LOGE("Logger::CutOver", "the log file could not be cut over and grows on: %s",
             cutError.toLocal8Bit().constData());
    } else {
        LOGI("Logger::CutOver", "this log goes on from %s", cutOver.CutToolLogPath(cutOver.ToolCuts()).constData());
    }
}

void Logger::CloseTrace()
{
    CriticalSectionSentry sentry(lock);
    const QByteArray rule(kBannerWidth, '=');
    sink.SetCurrentLevel(LogLevel::D);
    sink.Write(rule.constData(), static_cast<size_t>(rule.size()));
    sink.Write("\n", 1);
    sink.Write("Quillon");
    sink.Write("runtime trace is OFF");
    sink.Write("\n", 1);
    sink.Write(rule.constData(), static_cast<size_t>(rule.size()));
    sink.Write("\n", 1);
    sink.Flush();
    sink.SetFileThreshold(LogLevel::OFF);
    sink.RemoveNamedOutputs();
}

LogStartResult Logger::StartLogging()
{
    CloseTrace();
    LogStartResult result = OpenLogFile();
    if (GetDumpFolder().isEmpty()) {
        // Left on, the engine's log would go on in the previous run's folder.
        SetEngineLog(QUILLON_LOG_OFF);
    } else if (SetEngineLog(QUILLON_LOG_ON) != QUILLON_OK) {
        const QString engineReason =
            QCoreApplication::translate("Logger", "the engine's log cannot be switched on: %1")
                .arg(QString::fromUtf8(quillon_get_last_error_msg(nullptr)));
        result.reason = result.Ok() ? engineReason : result.reason + QStringLiteral("; ") + engineReason;
    }
    if (!result.Ok()) {
        LOGE("Logger::StartLogging", "logging could not start in %s: %s", result.folder.constData(),
             result.reason.toLocal8Bit().constData());
    }
    return result;
}

void Logger::SetConsoleStream(FILE* stream, int minimumLevel)
{
    CriticalSectionSentry sentry(lock);
    sink.SetConsoleStream(stream, minimumLevel);
}

void Logger::StopLogging()
{
    CloseTrace();
    SetEngineLog(QUILLON_LOG_OFF);
}

int Logger::SetEngineLog(int mode)
{
    if (mode == QUILLON_LOG_ON) {
        return PointEngineLogAt(GetDumpFolder());
    }
    const QByteArray folder = GetDumpFolder();
    const QByteArray utf8 = QString::fromLocal8Bit(folder).toUtf8();
    return quillon_env_set_log(mode, utf8.isEmpty() ? nullptr : utf8.constData());
}

int Logger::PointEngineLogAt(const QByteArray& folder)
{
    const QByteArray utf8 = QString::fromLocal8Bit(folder).toUtf8();
    return quillon_env_set_log(QUILLON_LOG_ON, utf8.isEmpty() ? nullptr : utf8.constData());
}
