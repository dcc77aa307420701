#pragma once

#include "Utility/LogBudget.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

struct StationSettings;

// Keeps a station's logs bounded for as long as it runs: hands the logger the per-run limits of the
// settings file's [Station] group, and keeps the dump folders within their budget with a pass at start and
// one every period after, each on a thread of its own so the window never waits for a disk. A pass still
// running when the next is due is left to finish. Lives in the user-interface thread.
class LogHousekeeping : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultPeriod = std::chrono::hours(1);

    explicit LogHousekeeping(std::chrono::milliseconds period = kDefaultPeriod);
    // Stops a running pass at its next entry and waits for it.
    ~LogHousekeeping() override;

    void Start(const StationSettings& settings);
    // A pass now over the logger's root, sparing the current run's folder.
    void RunPass();
    int PassesDone() const { return passesDone.load(); }
    bool IsIdle() const { return !running.load(); }

private:
    void JoinPass();

    const std::chrono::milliseconds period;
    QTimer timer;
    LogBudgetRules rules;
    std::thread pass;
    std::atomic<bool> running{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<int> passesDone{0};
};
