#pragma once

#include "record/AttemptRecord.h"
#include "record/StationRecordFormat.h"

#include <QHash>
#include <QString>

#include <memory>

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

// The station record in SQLite ("station.db" in the record's folder), for reports that need no file
// parsing: one row per attempt, its columns those of RecordFields, and each stage's milliseconds in a table
// of their own. Since version 2 the attempt's row also holds its stages in the compact form of StageTimes
// (column stage_ms, stages numbered in table stage_name), NULL in rows an earlier version wrote; version 3
// adds the attempt's id and failure kind, empty in older rows; versions 4 and 5 the images written and verified
// (NULL in older rows: not known), whether the attempt took its row out of auto polling (0 in older rows)
// and the unit (empty in older rows). A connection belongs to the thread that opened it, so an instance
// lives and dies on one thread.
class StationDatabase
{
public:
    static constexpr int kSchemaVersion = 5;

    StationDatabase(const QString& folder, const StationIdentity& identity);
    ~StationDatabase();

    StationDatabase(const StationDatabase&) = delete;
    StationDatabase& operator=(const StationDatabase&) = delete;

    static QString Path(const QString& folder);
    // Creates the tables, columns and indexes a database lacks; an invalid error on success.
    static QSqlError CreateSchema(QSqlDatabase& database);

    // Opens the database when it is not open yet, then inserts the record and its stages in one
    // transaction. A database that is not SQLite, or cannot be opened, is moved aside once and a new one
    // started.
    bool Insert(const AttemptRecord& record, QString& error);

    // Where the last broken database went, empty when none was moved aside.
    QString MovedAside() const { return movedAside; }

private:
    bool Open(QString& error);
    QSqlError Write(const AttemptRecord& record);
    QSqlError NumberStage(const QString& name, qint64& number);
    bool OpenOnce(QString& error, bool& broken);
    QSqlError Prepare(QSqlDatabase& database);
    bool MoveAside(QString& error);
    void Close();

    const QString path;
    const StationIdentity identity;
    const QString connectionName;
    QString movedAside;
    std::unique_ptr<QSqlQuery> insertAttempt;
    std::unique_ptr<QSqlQuery> insertStage;
    std::unique_ptr<QSqlQuery> insertStageName;
    std::unique_ptr<QSqlQuery> selectStageName;
    QHash<QString, qint64> stageNumbers; // stage_name as committed, by name
};
