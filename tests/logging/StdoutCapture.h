#pragma once

#include <QByteArray>
#include <QString>

// Sends the process's standard output into a file while it lives, so a test can read what was printed.
class StdoutCapture
{
public:
    explicit StdoutCapture(const QString& path);
    ~StdoutCapture();

    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Restores standard output and returns everything written while captured.
    QByteArray Finish();

private:
    QString path;
    int savedFd = -1;
};
