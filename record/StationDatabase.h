#pragma once

#include "record/AttemptRecord.h"
#include "record/JournalMessage.h"
#include "record/StationRecordFormat.h"
#include "platform/Platform.h"

#include <QDate>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

// The station record in SQLite ("station.db" in the record's folder), for reports that need no file
// parsing: one row per attempt, its columns those of RecordFields, and each stage's milliseconds in a table
// of their own. Since version 2 the attempt's row also holds its stages in the compact form of StageTimes
// (column stage_ms, stages numbered in table stage_name), NULL in rows an earlier version wrote; version 3
// adds the attempt's id and failure kind, empty in older rows; versions 4 and 5 the images written and verified
// (NULL in older rows: not known), whether the attempt took its row out of auto polling (0 in older rows)
// and the unit (empty in older rows). Version 6 makes the database the station's journal: an attempt is
// opened (table open_attempt) with its first factory message and closed with its record and its last ones,
// each in one transaction, and the lines the day files still lack wait in table unfiled. A connection
// belongs to the thread that opened it, so an instance lives and dies on one thread.
class StationDatabase
{
public:
    static constexpr int kSchemaVersion = 6;
    // Factory messages not yet accepted by the broker, oldest first.
    static constexpr const char* kOutboxSchema =
        "CREATE TABLE IF NOT EXISTS outbox ("
        " sequence INTEGER PRIMARY KEY AUTOINCREMENT, unique_id TEXT NOT NULL, name TEXT NOT NULL,"
        " source TEXT NOT NULL, time_ms INTEGER NOT NULL, body BLOB NOT NULL)";

    // An attempt some station opened and nobody closed yet.
    struct OpenedAttempt
    {
        QString instance;
        AttemptRecord started;
    };
    // A closed attempt's lines as the day files take them, and which of the two files have them (known to
    // the writer that filed them; a station that starts looks in the files).
    struct UnfiledLines
    {
        qint64 id = 0;
        QString attempt;
        QDate day;
        QByteArray json;
        QByteArray csv;
        bool jsonDone = false;
        bool csvDone = false;
    };
    // One attempt opened (lines null) or closed, as a step of a transaction of several.
    struct JournalEntry
    {
        const AttemptRecord* record = nullptr;
        const JournalMessages* messages = nullptr;
        UnfiledLines* lines = nullptr;
        bool closed = false; // as CloseAttempt's
    };

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

    // The session has found its device: its attempt is open, held by the station instance, and its messages
    // wait to be sent, all or nothing.
    bool OpenAttempt(const AttemptRecord& started, const QString& instance, const JournalMessages& messages,
                     QString& error);
    // The attempt's record with its stages, its lines for the day files and its last messages, in one
    // transaction that also closes the open attempt and forgets the lines the day files have taken since
    // (filed). An attempt another station has closed already is left as it is: closed is false then.
    bool CloseAttempt(const AttemptRecord& record, UnfiledLines& lines, const JournalMessages& messages,
                      const std::vector<qint64>& filed, bool& closed, QString& error);
    // Several attempts opened and closed, as OpenAttempt and CloseAttempt would, in one transaction: all of
    // them or none.
    bool Write(std::vector<JournalEntry>& entries, const QString& instance, const std::vector<qint64>& filed,
               QString& error);
    bool ForgetFiled(const std::vector<qint64>& filed, QString& error);
    // The attempts stations on host left open, oldest first.
    bool OpenAttempts(const QString& host, std::vector<OpenedAttempt>& attempts, QString& error);
    bool Unfiled(std::vector<UnfiledLines>& lines, QString& error);

    // Where the last broken database went, empty when none was moved aside.
    QString MovedAside() const { return movedAside; }
    // The factory's messages, for those a rebuild queues again; null without a factory.
    void SetMessages(AttemptMessages* messages) { this->messages = messages; }
    // Told once per rebuild, with what it salvaged, what came from the day files and what was lost.
    void SetRebuildReport(std::function<void(const QString& report)> report) { rebuildReport = std::move(report); }
    // Moves the database aside and builds a new one from what still reads of it and from the day files, as
    // a damaged one is at its opening; reason is what was found wrong with it.
    bool Rebuild(const QString& reason, QString& error);

private:
    bool Open(QString& error);
    // Runs body in one transaction, opening the database first when needed; a database found damaged on
    // the way is rebuilt and the body run once more.
    bool Transact(const std::function<QSqlError(QSqlDatabase&)>& body, QString& error);
    bool TransactOnce(const std::function<QSqlError(QSqlDatabase&)>& body, QString& error);
    QSqlError InsertAttempt(const AttemptRecord& record);
    QSqlError OpenIn(const AttemptRecord& started, const QString& instance, const JournalMessages& messages);
    QSqlError CloseIn(QSqlDatabase& database, const AttemptRecord& record, UnfiledLines& lines,
                      const JournalMessages& messages, bool& closed);
    QSqlError InsertMessages(const JournalMessages& messages);
    QSqlError DeleteFiled(const std::vector<qint64>& filed);
    // The journal's statements, prepared once per connection: every attempt runs each of them.
    QSqlQuery* Prepared(const QString& statement, QSqlError& failure);
    // Whether the file at the path is still the one the connection has open, not cut short.
    bool StillInPlace() const;
    QSqlError NumberStage(const QString& name, qint64& number);
    bool OpenOnce(QString& error, bool& broken);
    QSqlError Prepare(QSqlDatabase& database);
    bool MoveAside(QString& error);
    void Close();

    const QString path;
    const StationIdentity identity;
    const QString connectionName;
    QString movedAside;
    QString damage; // why the open database is known to be damaged; rebuilt at the next opening
    AttemptMessages* messages = nullptr;
    std::function<void(const QString&)> rebuildReport;
    std::unique_ptr<QSqlQuery> insertAttempt;
    std::unique_ptr<QSqlQuery> insertStage;
    std::unique_ptr<QSqlQuery> insertStageName;
    std::unique_ptr<QSqlQuery> selectStageName;
    std::map<QString, std::unique_ptr<QSqlQuery>> prepared;
    QHash<QString, qint64> stageNumbers; // stage_name as committed, by name
    QStringList uncommittedNames;        // numbered by the transaction in progress
    Platform::FileStamp stamp;           // the file as the last commit left it
};
