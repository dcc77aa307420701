#pragma once

#include "FileUtils.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

// How much the log root's dump folders may hold together, and for how long. 0 in either: no limit.
struct LogBudgetRules
{
    int64_t budgetBytes = 0;
    int keepDays = 0;
};

// What one pass did.
struct LogBudgetPass
{
    int removed = 0;
    int failed = 0;
    int64_t bytesBefore = 0;
    int64_t bytesAfter = 0;
};

// Keeps the log root's dump folders within a budget: the folders older than the days, then the oldest
// until the rest fit, are removed, never the current run's. A folder's age is the time stamp the logger
// writes into its name, "PXL_Dump_" then "MM-dd-yyyy-HH-mm-ss" local time from index 9; a name that does not
// read that way is not the logger's and is left alone. Links are neither counted, followed nor removed.
class LogBudget
{
public:
    static constexpr char kDumpPrefix[] = "PXL_Dump_";
    static constexpr int kStampIndex = 9;

    // Invalid when the name is not a dump folder's as the logger writes it.
    static QDateTime FolderStamp(const QString& name);

    // One pass over root, sparing currentFolder (empty spares nothing); stopRequested ends it early.
    static LogBudgetPass Apply(const QString& root, const QString& currentFolder, const LogBudgetRules& rules,
                               const QDateTime& now, const FileUtils::StopQuery& stopRequested = {});
};
