#pragma once

#include <QByteArray>

#include <cstdio>

// Collects what the process writes to standard output between construction and Finish(), which is where the
// logger puts the message of every informational line.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    bool IsActive() const { return savedDescriptor >= 0; }
    QByteArray Finish();

private:
    void Restore();

    std::FILE* file = nullptr;
    int savedDescriptor = -1;
};
