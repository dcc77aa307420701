#pragma once

#include "cli/CommandLine.h"

#include "record/StationReport.h"

#include <QString>
#include <QStringList>

// What "praxilo-cli report" was asked for, checked before the database is opened.
struct ReportOptions
{
    QString recordFolder; // empty for the default station record folder
    StationReport::Filter filter;
    QString unit; // lowercase hex: one unit's history instead of the figures; empty for the figures
    bool json = false;

    using Outcome = CommandLineOutcome;

    // arguments start with the program, then "report"; on Error, message holds one line naming the
    // problem; on Help, the help text.
    static Outcome Parse(const QStringList& arguments, ReportOptions& options, QString& message);

    // Local time as "2024-03-01", "2024-03-01 14:30" or "2024-03-01T14:30:15" to UTC milliseconds; -1 when
    // the text is none of these. A date alone means its first moment, or with endOfDay the next day's.
    static qint64 ParseLocalTime(const QString& text, bool endOfDay);
};
