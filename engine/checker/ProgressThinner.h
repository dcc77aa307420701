// Passes the checker's progress to the caller on the calling thread, thinned out: the first report, then
// whenever the whole percent or the image changes, or 100 ms have passed since the last one.
#pragma once

#include "quillon.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>

namespace quillcheck {

class ProgressThinner
{
public:
    ProgressThinner(QuillonProgress progress, void* user) : progress(progress), user(user) {}

    void Report(unsigned int percent, uint64_t transferred, const QByteArray& image);
    // Percent of done out of total, below 100 until the end: 100 is reported once, when all is hashed.
    static unsigned int RunningPercent(uint64_t done, uint64_t total);

private:
    using Clock = std::chrono::steady_clock;

    QuillonProgress progress = nullptr;
    void* user = nullptr;
    bool reported = false;
    unsigned int lastPercent = 0;
    const char* lastImage = nullptr;
    Clock::time_point lastTime;
};

} // namespace quillcheck
