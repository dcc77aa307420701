#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

class QSqlDatabase;
class SqliteScan;

// The station's figures over its database: per row, per port, per load and per failed stage.
namespace StationReport {

struct Filter
{
    qint64 sinceMs = -1; // UTC, inclusive; -1 for no bound
    qint64 untilMs = -1; // UTC, exclusive; -1 for no bound
    QString load;        // load digest; empty for every load
};

struct StageFigure
{
    QString stage;
    qint64 medianMs = 0; // the lower median
    qint64 slowestMs = 0;
};

struct Group
{
    QString key; // "7", "COM9", a load digest or a stage name
    qint64 attempts = 0;
    qint64 ok = 0;
    qint64 fail = 0;
    qint64 canl = 0;
    qint64 unknown = 0; // a result other than OK, FAIL and CANL, which only another tool would write
    double yield = 0;                       // OK per attempt, 0 to 1
    double failureRate = 0;                 // FAIL per attempt, 0 to 1
    QVector<StageFigure> stages;            // in order of first appearance
    QVector<QPair<QString, qint64>> errors; // the most frequent first, at most kTopErrors
    qint64 activeHours = 0;                 // clock hours (UTC) with at least one attempt
    double devicesPerHour = 0;              // OK devices per active hour
    QString hint;                           // rows only: why the row stands out, empty when it does not
};

// Units are the devices' own ids, which follow a device from one attempt, port or station to the next.
struct UnitRepeats
{
    qint64 named = 0;      // units that at least one selected attempt names
    qint64 repeated = 0;   // of them, attempted more than once
    qint64 okRepeated = 0; // of them, ended OK more than once
};

// OK attempts by what was checked of them.
struct Verification
{
    qint64 unverified = 0; // fewer images compared equal to the load's than were written
    qint64 notKnown = 0;   // written before the station kept what it checked
};

struct Report
{
    Group station;
    QVector<Group> rows;
    QVector<Group> ports;
    QVector<Group> loads;
    QVector<Group> failedStages; // failed attempts only
    // Attempts whose stages were read from table stage because their own row holds none the report can
    // read: rows of the first version, or damaged ones. The figures are the same either way, only slower.
    qint64 stagesFromTable = 0;
    UnitRepeats units;
    Verification verification;
};

constexpr int kTopErrors = 3;

// Reads the attempts the filter selects; false with the reason in error.
bool Compute(QSqlDatabase& database, const Filter& filter, Report& report, QString& error);

// The filter as a condition on table attempt (" WHERE ...", empty for none), with the further condition
// when one is given, and the filter's values for a scan.
QByteArray WhereClause(const Filter& filter, const QByteArray& also = QByteArray());
void Bind(SqliteScan& scan, const Filter& filter);

// Sets the hint of every row whose failure rate stands out from the station's median row (FailureOutliers).
void FlagOutliers(QVector<Group>& rows);

} // namespace StationReport
