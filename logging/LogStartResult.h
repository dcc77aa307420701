#pragma once

#include <QByteArray>
#include <QString>

// What Logger::StartLogging achieved, for a front end to show the operator when the run is not logged.
struct LogStartResult
{
    // The run's dump folder, in the local 8-bit encoding; named even when it could not be made.
    QByteArray folder;
    // Empty when the log file is open and the engine logs beside it; otherwise why not, translated.
    QString reason;

    bool Ok() const { return reason.isEmpty(); }
};
