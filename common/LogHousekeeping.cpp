#include "common/LogHousekeeping.h"

#include "common/StationSettings.h"
#include "logging/Log.h"
#include "logging/Logger.h"

#include <QDateTime>

static constexpr char kLogSource[] = "Common\\LogHousekeeping";

namespace {

constexpr int64_t kMB = 1024 * 1024;

} // namespace

LogHousekeeping::LogHousekeeping(std::chrono::milliseconds period) : period(period)
{
    connect(&timer, &QTimer::timeout, this, &LogHousekeeping::RunPass);
}

LogHousekeeping::~LogHousekeeping()
{
    timer.stop();
    stopRequested = true;
    JoinPass();
}

void LogHousekeeping::Start(const StationSettings& settings)
{
    Logger::Instance().SetFileLimits(LogFileLimits{settings.logFileMB * kMB, settings.logFilesKept});
    rules.budgetBytes = settings.logBudgetMB * kMB;
    rules.keepDays = settings.logKeepDays;
    LOGI("LogHousekeeping::Start", "logs: files cut at %d MB, %d cut files kept per run; dump folders within %d MB "
         "and %d days (0: no limit)", settings.logFileMB, settings.logFilesKept, settings.logBudgetMB,
         settings.logKeepDays);
    RunPass();
    timer.start(static_cast<int>(period.count()));
}

void LogHousekeeping::JoinPass()
{
    if (pass.joinable())
        pass.join();
}

void LogHousekeeping::RunPass()
{
    if (running.load() || (rules.budgetBytes == 0 && rules.keepDays == 0))
        return;
    // The last pass has ended: running is cleared as its thread's last act.
    JoinPass();
    Logger& logger = Logger::Instance();
    const QString root = QString::fromLocal8Bit(logger.GetLogRoot());
    const QString current = QString::fromLocal8Bit(logger.GetDumpFolder());
    const LogBudgetRules passRules = rules;
    const QDateTime now = QDateTime::currentDateTime();
    running = true;
    pass = std::thread([this, root, current, passRules, now] {
        const LogBudgetPass done =
            LogBudget::Apply(root, current, passRules, now, [this] { return stopRequested.load(); });
        if (done.removed > 0 || done.failed > 0) {
            LOGI("LogHousekeeping::RunPass", "dump folders: %d removed, %d could not be; %lld MB before, %lld MB now",
                 done.removed, done.failed, static_cast<long long>(done.bytesBefore / kMB),
                 static_cast<long long>(done.bytesAfter / kMB));
        }
        ++passesDone;
        running = false;
    });
}
