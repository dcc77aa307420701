#include "LogSink.h"

#include "LogLevel.h"
#include "LogOutput.h"

#include <cstring>

LogSink::LogSink()
    : tag("CQuillon"), fileThreshold(LogLevel::W), consoleThreshold(LogLevel::V), currentLevel(0)
{
    AddOutput(std::make_unique<LogOutput>(QByteArray(), LogLevel::I, stdout, false));
}

LogSink::~LogSink()
{
    RemoveAllOutputs();
}

void LogSink::AddOutput(std::unique_ptr<LogOutput> output)
{
    outputs.push_back(std::move(output));
}

void LogSink::SetConsoleStream(FILE* stream, int minimumLevel)
{
    Flush();
    for (auto& output : outputs) {
        if (output->IsConsole())
            output = std::make_unique<LogOutput>(QByteArray(), minimumLevel, stream, false);
    }
}

void LogSink::RemoveNamedOutputs()
{
    Flush();
    for (auto it = outputs.begin(); it != outputs.end();) {
        it = (*it)->IsConsole() ? it + 1 : outputs.erase(it);
    }
}

void LogSink::RemoveAllOutputs()
{
    // Files are closed before the console is released.
    RemoveNamedOutputs();
    outputs.clear();
}

bool LogSink::HasNamedOutput() const
{
    for (const auto& output : outputs) {
        if (!output->IsConsole()) {
            return true;
        }
    }
    return false;
}

unsigned long long LogSink::NamedBytesWritten() const
{
    unsigned long long bytes = 0;
    for (const auto& output : outputs) {
        if (!output->IsConsole()) {
            bytes += output->BytesWritten();
        }
    }
    return bytes;
}

void LogSink::Write(const char* text, size_t length)
{
    const bool toFiles = currentLevel >= fileThreshold;
    const bool toConsole = currentLevel >= consoleThreshold;
    for (const auto& output : outputs) {
        const bool routed = output->IsConsole() ? toConsole : toFiles;
        if (routed && output->MinimumLevel() <= currentLevel) {
            output->Write(text, length);
        }
    }
}

void LogSink::Write(const char* text)
{
    Write(text, strlen(text));
}

void LogSink::Flush()
{
    for (const auto& output : outputs) {
        output->Flush();
    }
}
