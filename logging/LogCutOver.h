#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

// How far one run's logs may grow: a log is cut over once its current file holds fileBytes, and at most
// cutFilesKept cut files of each log stay beside the current one. 0 in either means no limit.
struct LogFileLimits
{
    int64_t fileBytes = 0;
    int cutFilesKept = 0;
};

// The cut files of one run's two logs. The tool's log is moved aside under a numbered name, Praxilo_TOOL.1.log
// first, so the current file keeps the one name every reader looks for. The engine names its own file and
// can only be told another folder, so its log is cut over into numbered folders of the dump folder,
// Engine.1 first. Not locked itself: the logger serialises every call.
class LogCutOver
{
public:
    static constexpr char kToolLogName[] = "Praxilo_TOOL.log";

    void SetLimits(const LogFileLimits& limits) { this->limits = limits; }
    const LogFileLimits& Limits() const { return limits; }

    // A new run: nothing cut yet, the engine logging into the dump folder itself.
    void Begin(const QByteArray& dumpFolder);

    // True when a tool log this long must be cut over now.
    bool ToolLogFull(int64_t bytes) const;
    // Moves the current tool log (closed by the caller) aside as the next cut file and removes the one that
    // falls out of the count. A log that cannot be moved is tried again once it has grown by another limit.
    bool CutToolLog(int64_t bytes, QString& error);

    // True every eighth of the limit the tool logs: the engine's log grows with the tool's, and a look at it
    // is a folder listing, too dear for every line.
    bool EngineCheckDue(int64_t toolBytes);
    // When the engine's current log has reached the limit: makes the next engine folder, has pointEngineAt
    // switch the engine to it, and removes the engine folder that falls out of the count. True when it cut.
    bool CutEngineLogIfFull(const std::function<bool(const QByteArray& folder)>& pointEngineAt, QString& error);

    QByteArray ToolLogPath() const;
    QByteArray CutToolLogPath(int number) const;
    QByteArray EngineFolder(int number) const;
    QByteArray CurrentEngineFolder() const { return EngineFolder(engineCuts); }
    int ToolCuts() const { return toolCuts; }
    // Bytes the engine's log holds in the folder: in the dump folder itself, every plain file but the tool's.
    int64_t EngineLogBytes(int number) const;

private:
    void RemoveEngineLog(int number) const;

    LogFileLimits limits;
    QByteArray dumpFolder;
    int toolCuts = 0;
    int engineCuts = 0;
    int64_t toolRetryAt = 0;
    int64_t nextEngineCheck = 0;
};
