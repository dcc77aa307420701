#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct CtlResult
{
    bool ok = false;   // ran to the end and exited with 0
    int exitCode = -1; // -1 when it could not start or had to be killed
    QString output;    // standard output and error, interleaved
};

// Runs the broker's command-line tool against one node, synchronously and with a time limit.
class RabbitCtl
{
public:
    RabbitCtl(const QString& program, const QProcessEnvironment& environment, const QString& workFolder);

    CtlResult Run(const QStringList& arguments, int timeoutMs) const;

private:
    QString program;
    QProcessEnvironment environment;
    QString workFolder;
};
