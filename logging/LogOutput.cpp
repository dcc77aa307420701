#include "LogOutput.h"

LogOutput::LogOutput(const QByteArray& name, int minimumLevel, FILE* stream, bool ownsStream)
    : name(name), minimumLevel(minimumLevel), stream(stream), ownsStream(ownsStream)
{
}

LogOutput::~LogOutput()
{
    if (ownsStream) {
        fclose(stream);
    } else {
        fflush(stream);
    }
}

void LogOutput::Write(const char* text, size_t length)
{
    if (length > 0) {
        fwrite(text, 1, length, stream);
        unflushed = true;
    }
}

void LogOutput::Flush()
{
    if (unflushed) {
        fflush(stream);
        unflushed = false;
    }
}
