#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <vector>

class LogOutput;

// The set of outputs and the thresholds that route each piece of a log line to them. Not locked
// itself: the logger serialises every call.
class LogSink
{
public:
    LogSink();
    ~LogSink();

    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    const QByteArray& Tag() const { return tag; }

    int FileThreshold() const { return fileThreshold; }
    void SetFileThreshold(int level) { fileThreshold = level; }
    int ConsoleThreshold() const { return consoleThreshold; }
    void SetConsoleThreshold(int level) { consoleThreshold = level; }
    int CurrentLevel() const { return currentLevel; }
    void SetCurrentLevel(int level) { currentLevel = level; }

    void AddOutput(std::unique_ptr<LogOutput> output);
    // Sends the console copy of each line to another stream (a headless front end keeps standard output
    // for its own display), taking pieces from minimumLevel on.
    void SetConsoleStream(FILE* stream, int minimumLevel);
    void RemoveNamedOutputs();
    void RemoveAllOutputs();
    bool HasNamedOutput() const;
    // What the named outputs (the log file) have taken since they were added.
    unsigned long long NamedBytesWritten() const;

    // Routes one piece at the current level. Pieces stay buffered until Flush, which the logger calls at
    // the end of each line so that a line reaches each output in one write.
    void Write(const char* text, size_t length);
    void Write(const char* text);
    void Flush();

private:
    QByteArray tag;
    int fileThreshold;
    int consoleThreshold;
    int currentLevel;
    std::vector<std::unique_ptr<LogOutput>> outputs;
};
