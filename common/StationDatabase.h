#pragma once

#include "common/AttemptRecord.h"
#include "common/StationRecordFormat.h"

#include <QString>

#include <memory>

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

// The station record in SQLite ("station.db" in the record's folder), for reports that need no file
// parsing: one row per attempt, and each stage's milliseconds in a table of their own. A connection belongs
// to the thread that opened it, so an instance lives and dies on one thread.
class StationDatabase
{
public:
    static constexpr int kSchemaVersion = 1;

    StationDatabase(const QString& folder, const StationIdentity& identity);
    ~StationDatabase();

    StationDatabase(const StationDatabase&) = delete;
    StationDatabase& operator=(const StationDatabase&) = delete;

    static QString Path(const QString& folder);
    // Creates the tables and indexes a database lacks; an invalid error on success.
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
};
