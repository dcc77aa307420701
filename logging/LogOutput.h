#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdio>

// One destination of log text: standard output (empty name, not owned) or a log file (its path, owned).
class LogOutput
{
public:
    LogOutput(const QByteArray& name, int minimumLevel, FILE* stream, bool ownsStream);
    ~LogOutput();

    LogOutput(const LogOutput&) = delete;
    LogOutput& operator=(const LogOutput&) = delete;

    const QByteArray& Name() const { return name; }
    bool IsConsole() const { return name.isEmpty(); }
    int MinimumLevel() const { return minimumLevel; }

    void Write(const char* text, size_t length);
    // Flushes only when something was written since the last flush.
    void Flush();

private:
    QByteArray name;
    int minimumLevel;
    FILE* stream;
    bool ownsStream;
    bool unflushed = false;
};
