#pragma once

#include "CriticalSection.h"
#include "LogRecord.h"
#include "LogSink.h"

#include <QByteArray>

// The process-wide logger: one line per call, to the current run's log file and, for informational
// and more severe lines, the bare message to standard output. Use it through the macros of Log.h.
class Logger
{
public:
    static Logger& Instance();

    void WriteLog(const LogRecord& record, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Both return the result of creating the folder (the codes of FileUtils::CheckDirectory).
    int InitLogRoot();
    int InitLogFolders();
    QByteArray GetLogRoot() const;
    QByteArray GetDumpFolder() const;

    void OpenLogFile();
    void CloseTrace();
    void StartLogging();
    void StopLogging();

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger();
    ~Logger();

    static void ShutDownAtExit();
    void ShutDown();
    void SetEngineLog(int mode);

    static constexpr int kMessageBufferSize = 5120;

    mutable CriticalSection lock;
    LogSink sink;
    QByteArray logRoot;
    QByteArray dumpFolder;
    bool shutDown = false;
    char message[kMessageBufferSize];
};
