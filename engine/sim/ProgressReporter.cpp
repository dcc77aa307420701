#include "ProgressReporter.h"

#include <algorithm>

namespace quillonsim {

namespace {

constexpr std::chrono::milliseconds kReportInterval{100};

} // namespace

unsigned int ProgressReporter::Percent(quint64 done, quint64 total)
{
    if (total == 0)
        return 0;
    const long double share = static_cast<long double>(std::min(done, total)) * 100.0L / total;
    return static_cast<unsigned int>(share);
}

void ProgressReporter::Report(unsigned int percent, quint64 transferred, const QString& text)
{
    if (progress == nullptr)
        return;
    percent = std::min(percent, 100u);
    const QByteArray bytes = text.toUtf8();
    const TimePoint now = FarmClock::Now();
    const bool due = !reported || percent == 0 || percent == 100 || percent > lastPercent ||
                     bytes != lastText || now - lastTime >= kReportInterval;
    if (!due)
        return;
    // Repeating the same 0 or 100 for the same stage adds nothing.
    if (reported && percent == lastPercent && bytes == lastText && now - lastTime < kReportInterval)
        return;
    reported = true;
    lastPercent = percent;
    lastText = bytes;
    lastTime = now;
    progress(user, percent, transferred, bytes.constData());
}

} // namespace quillonsim
