#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdio>

// One destination of log text: standard output (empty name, not owned) or a log file (its path, owned).
// The pieces written between two flushes form one line. A line that cannot be written (a full disk) is
// counted, and the next line that gets through is preceded by an end of line, for a line left torn, and by
// "[N log lines lost: <reason>]".
class LogOutput
{
public:
    LogOutput(const QByteArray& name, int minimumLevel, FILE* stream, bool ownsStream);
    virtual ~LogOutput();

    LogOutput(const LogOutput&) = delete;
    LogOutput& operator=(const LogOutput&) = delete;

    const QByteArray& Name() const { return name; }
    bool IsConsole() const { return name.isEmpty(); }
    int MinimumLevel() const { return minimumLevel; }

    void Write(const char* text, size_t length);
    // Bytes this output has taken since it was made, for a file that is cut over by size.
    unsigned long long BytesWritten() const { return bytesWritten; }
    // Flushes only when something was written since the last flush.
    void Flush();

protected:
    // Each returns 0, or the errno value of its failure after clearing the stream's error. Virtual so that a
    // test can fail them as a full disk does.
    virtual int WriteStream(const char* text, size_t length);
    virtual int FlushStream();

private:
    void Check(int error);
    void WriteLossMark();

    QByteArray name;
    int minimumLevel;
    FILE* stream;
    bool ownsStream;
    bool unflushed = false;
    bool lineFailed = false;
    unsigned long long lostLines = 0;
    unsigned long long bytesWritten = 0;
    int lastError = 0;
};
