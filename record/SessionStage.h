#pragma once

#include <QString>
#include <QVector>

#include <cstdint>

// When one stage of a download session ran and how it ended, for the station's own records.
struct SessionStage
{
    QString name; // "scan", "connect", "enter-mode", "authentication" or the command's name
    int64_t startMs = 0; // milliseconds since the epoch, UTC
    int64_t endMs = 0;
    int result = 0;
};

using SessionStages = QVector<SessionStage>;
