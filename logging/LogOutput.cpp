#include "LogOutput.h"

#include <QString>

#include <cerrno>

namespace {

// The C standard does not require a failed stream call to set errno, and every loss needs a reason to show.
int ErrnoOr(int fallback)
{
    return errno != 0 ? errno : fallback;
}

} // namespace

LogOutput::LogOutput(const QByteArray& name, int minimumLevel, FILE* stream, bool ownsStream)
    : name(name), minimumLevel(minimumLevel), stream(stream), ownsStream(ownsStream)
{
}

LogOutput::~LogOutput()
{
    // Lines lost at the end of a file would otherwise leave no trace when it closes.
    if (lostLines > 0) {
        WriteLossMark();
        FlushStream();
    }
    if (ownsStream) {
        fclose(stream);
    } else {
        fflush(stream);
    }
}

void LogOutput::Write(const char* text, size_t length)
{
    if (length == 0) {
        return;
    }
    if (!unflushed && lostLines > 0) {
        WriteLossMark();
    }
    unflushed = true;
    // The rest of a line that failed part-way is dropped, so that no line goes out with a hole in it.
    if (!lineFailed) {
        Check(WriteStream(text, length));
        bytesWritten += lineFailed ? 0 : length;
    }
}

void LogOutput::Flush()
{
    if (!unflushed) {
        return;
    }
    unflushed = false;
    Check(FlushStream());
    if (lineFailed) {
        ++lostLines;
        lineFailed = false;
    } else {
        lostLines = 0;
    }
}

int LogOutput::WriteStream(const char* text, size_t length)
{
    errno = 0;
    if (fwrite(text, 1, length, stream) == length) {
        return 0;
    }
    const int error = ErrnoOr(EIO);
    clearerr(stream);
    return error;
}

int LogOutput::FlushStream()
{
    errno = 0;
    if (fflush(stream) == 0) {
        return 0;
    }
    const int error = ErrnoOr(EIO);
    clearerr(stream);
    return error;
}

void LogOutput::Check(int error)
{
    if (error != 0) {
        lineFailed = true;
        lastError = error;
    }
}

void LogOutput::WriteLossMark()
{
    // The leading end of line finishes a line the failure may have cut.
    const QByteArray mark = "\n[" + QByteArray::number(lostLines) +
                            " log lines lost: " + qt_error_string(lastError).toLocal8Bit() + "]\n";
    Check(WriteStream(mark.constData(), static_cast<size_t>(mark.size())));
}
