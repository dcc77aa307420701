#include "StdoutCapture.h"

#include <unistd.h>

StdoutCapture::StdoutCapture() : file(std::tmpfile())
{
    std::fflush(stdout);
    if (file != nullptr) {
        savedDescriptor = dup(STDOUT_FILENO);
        if (savedDescriptor >= 0 && dup2(fileno(file), STDOUT_FILENO) < 0) {
            close(savedDescriptor);
            savedDescriptor = -1;
        }
    }
}

StdoutCapture::~StdoutCapture()
{
    Restore();
    if (file != nullptr) {
        std::fclose(file);
    }
}

QByteArray StdoutCapture::Finish()
{
    QByteArray text;
    if (!IsActive()) {
        return text;
    }
    Restore();
    std::rewind(file);
    char chunk[4096];
    size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        text.append(chunk, static_cast<int>(count));
    }
    return text;
}

void StdoutCapture::Restore()
{
    if (savedDescriptor >= 0) {
        std::fflush(stdout);
        dup2(savedDescriptor, STDOUT_FILENO);
        close(savedDescriptor);
        savedDescriptor = -1;
    }
}
