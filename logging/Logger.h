#pragma once

#include "CriticalSection.h"
#include "LogCutOver.h"
#include "LogLevel.h"
#include "LogRecord.h"
#include "LogSink.h"
#include "LogStartResult.h"

#include <QByteArray>

#include <cstdio>

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
    // The log root with forward slashes, found first when nobody has yet: for the files that live beside the
    // logs (the one-copy lock, the station record), so that all of them agree on where that is.
    QString LogRootPath();
    // Empty while the run has no dump folder: before the first start, and after one that could not make it.
    QByteArray GetDumpFolder() const;

    // Opens a new dump folder and the log file in it; the result says which of the two failed, and why.
    LogStartResult OpenLogFile();
    void CloseTrace();
    // Closes the current log, opens a new dump folder and log file and switches the engine's log on in
    // that folder. Whatever fails is written at level E, which the console shows too, and returned with
    // the folder, for the front end to tell the operator. Without a folder the engine's log is switched off
    // rather than into a folder that is not there.
    LogStartResult StartLogging();
    // Where the console copy of each line goes (standard output unless told otherwise), and from which level
    // on (I unless told otherwise; OFF for none: the file alone keeps them).
    void SetConsoleStream(FILE* stream, int minimumLevel = LogLevel::I);
    void StopLogging();
    // Bounds the current run's logs from the next line on: each log is cut over once its file holds the
    // limit, and the cut files beyond the count are removed (LogCutOver).
    void SetFileLimits(const LogFileLimits& limits);

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger();
    ~Logger();

    static void ShutDownAtExit();
    void ShutDown();
    int SetEngineLog(int mode);
    int PointEngineLogAt(const QByteArray& folder);
    // Opens the tool's log in the dump folder and adds it to the sink; false with the reason otherwise.
    bool OpenToolLog(QString& reason);
    void CutOverIfDue();
    // As InitLogFolders; folder receives the name tried, also when it could not be made.
    int MakeDumpFolder(QByteArray& folder);

    static constexpr int kMessageBufferSize = 5120;
    // Lines written before the first log file exists (the settings read while the window is built) are
    // kept, up to this many, and written at the top of that file.
    static constexpr int kEarlyLineLimit = 500;

    mutable CriticalSection lock;
    LogSink sink;
    QByteArray logRoot;
    QByteArray dumpFolder;
    bool shutDown = false;
    bool fileOpened = false;
    LogCutOver cutOver;
    // What the open log file held before this process wrote to it.
    int64_t toolLogBaseSize = 0;
    QByteArray earlyLines;
    int earlyLineCount = 0;
    char message[kMessageBufferSize];
};
