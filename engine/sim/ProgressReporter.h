// Passes progress to the caller on the calling thread, thinned out: at 0 and 100, when the whole percent
// rises, when the stage text changes, or when 100 ms passed since the last report.
#pragma once

#include "FarmClock.h"
#include "quillon.h"

#include <QByteArray>
#include <QString>

namespace quillonsim {

class ProgressReporter
{
public:
    ProgressReporter() = default;
    ProgressReporter(QuillonProgress progress, void* user) : progress(progress), user(user) {}

    void Report(unsigned int percent, quint64 transferred, const QString& text);
    // Percent of done out of total, never above 100 and 0 for an empty total.
    static unsigned int Percent(quint64 done, quint64 total);

private:
    QuillonProgress progress = nullptr;
    void* user = nullptr;
    bool reported = false;
    unsigned int lastPercent = 0;
    QByteArray lastText;
    TimePoint lastTime;
};

} // namespace quillonsim
