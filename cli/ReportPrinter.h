#pragma once

#include "record/StationReport.h"
#include "record/UnitHistory.h"

#include <QByteArray>

// The report as the operator reads it, or as one JSON document for a factory's own tools.
namespace ReportPrinter {

QByteArray Text(const StationReport::Report& report, const StationReport::Filter& filter);
QByteArray Json(const StationReport::Report& report, const StationReport::Filter& filter);

// One unit's attempts, oldest first.
QByteArray UnitText(const QString& unit, const QVector<UnitHistory::Attempt>& attempts,
                    const StationReport::Filter& filter);
QByteArray UnitJson(const QString& unit, const QVector<UnitHistory::Attempt>& attempts,
                    const StationReport::Filter& filter);

} // namespace ReportPrinter
