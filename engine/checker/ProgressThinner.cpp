#include "ProgressThinner.h"

#include <algorithm>

namespace quillcheck {

unsigned int ProgressThinner::RunningPercent(uint64_t done, uint64_t total)
{
    if (total == 0 || done == 0)
        return 0;
    // In floating point, because done * 100 overflows for the largest totals.
    const double percent = double(std::min(done, total)) * 100.0 / double(total);
    return std::min(unsigned(percent), 99u);
}

void ProgressThinner::Report(unsigned int percent, uint64_t transferred, const QByteArray& image)
{
    if (progress == nullptr)
        return;
    const Clock::time_point now = Clock::now();
    const bool due = !reported || percent != lastPercent || image.constData() != lastImage ||
                     now - lastTime >= std::chrono::milliseconds(100);
    if (!due)
        return;
    reported = true;
    lastPercent = percent;
    lastImage = image.constData();
    lastTime = now;
    progress(user, percent, transferred, image.constData());
}

} // namespace quillcheck
