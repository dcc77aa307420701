#include "StationDatabase.h"

#include "logging/Log.h"
#include "platform/Platform.h"
#include "record/JournalCheck.h"
#include "record/JournalRebuild.h"
#include "record/RecordFields.h"
#include "record/RecordFiles.h"
#include "record/StageTimes.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <functional>

static constexpr char kLogSource[] = "record\\StationDatabase";

namespace {

// Table attempt comes from the record's fields; these follow it.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS stage ("
    " attempt INTEGER NOT NULL REFERENCES attempt(id), stage TEXT NOT NULL, ms INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS stage_name (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)",
    "CREATE INDEX IF NOT EXISTS attempt_time ON attempt(start_ms)",
    "CREATE INDEX IF NOT EXISTS attempt_row ON attempt(row, start_ms)",
    "CREATE INDEX IF NOT EXISTS attempt_port ON attempt(port, start_ms)",
    "CREATE INDEX IF NOT EXISTS attempt_load ON attempt(load_digest, start_ms)",
    "CREATE INDEX IF NOT EXISTS stage_attempt ON stage(attempt)",
    // Only attempts that named their unit: an older database's rows cost the index nothing.
    "CREATE INDEX IF NOT EXISTS attempt_unit ON attempt(unit, start_ms) WHERE unit <> ''",
    "CREATE INDEX IF NOT EXISTS attempt_uid ON attempt(attempt_uid) WHERE attempt_uid <> ''",
    // The journal: attempts whose session has found its device and not ended, with the station that runs
    // them, and closed attempts whose lines the day files may still lack.
    "CREATE TABLE IF NOT EXISTS open_attempt ("
    " attempt TEXT PRIMARY KEY, host TEXT NOT NULL, instance TEXT NOT NULL, started BLOB NOT NULL)",
    "CREATE TABLE IF NOT EXISTS unfiled ("
    " id INTEGER PRIMARY KEY, attempt TEXT NOT NULL, day TEXT NOT NULL, json BLOB NOT NULL, csv BLOB NOT NULL)",
    StationDatabase::kOutboxSchema,
};

QString CreateAttemptTable()
{
    QStringList columns{QStringLiteral("id INTEGER PRIMARY KEY")};
    for (const RecordFields::Field& field : RecordFields::All())
        columns << field.column + QLatin1Char(' ') + field.columnType;
    return QStringLiteral("CREATE TABLE IF NOT EXISTS attempt (%1)").arg(columns.join(QStringLiteral(", ")));
}

QString InsertAttemptStatement()
{
    QStringList columns;
    for (const RecordFields::Field& field : RecordFields::All())
        columns << field.column;
    return QStringLiteral("INSERT INTO attempt (%1) VALUES (?%2)")
        .arg(columns.join(QStringLiteral(", ")), QStringLiteral(",?").repeated(columns.size() - 1));
}

QSqlError Upgrade(QSqlQuery& query)
{
    if (!query.exec(CreateAttemptTable()))
        return query.lastError();
    // An older database gains the columns of the fields added since; its rows keep NULL or the column's
    // default there (a report reads their stages from table stage), so the upgrade costs the station no time
    // at start.
    if (!query.exec(QStringLiteral("PRAGMA table_info(attempt)")))
        return query.lastError();
    QStringList present;
    while (query.next())
        present << query.value(1).toString();
    for (const RecordFields::Field& field : RecordFields::All()) {
        if (!present.contains(field.column, Qt::CaseInsensitive) &&
            !query.exec(
                QStringLiteral("ALTER TABLE attempt ADD COLUMN %1 %2").arg(field.column, field.columnType)))
            return query.lastError();
    }
    for (const char* statement : kSchema) {
        if (!query.exec(QString::fromLatin1(statement)))
            return query.lastError();
    }
    if (!query.exec(QStringLiteral("PRAGMA user_version = %1").arg(StationDatabase::kSchemaVersion)))
        return query.lastError();
    return QSqlError();
}

QString ErrorText(const QSqlError& error)
{
    return error.text().trimmed();
}

bool IsBroken(const QSqlError& error)
{
    return JournalCheck::IsDamage(error.nativeErrorCode());
}

QString NewConnectionName()
{
    static std::atomic<int> serial{0};
    return QStringLiteral("station-database-%1").arg(++serial);
}

} // namespace

StationDatabase::StationDatabase(const QString& folder, const StationIdentity& identity)
    : path(Path(folder)), identity(identity), connectionName(NewConnectionName())
{
}

StationDatabase::~StationDatabase()
{
    Close();
}

QString StationDatabase::Path(const QString& folder)
{
    return QDir::cleanPath(folder) + QStringLiteral("/station.db");
}

QSqlError StationDatabase::CreateSchema(QSqlDatabase& database)
{
    QSqlQuery query(database);
    // The window and a command-line run may open an older database at once: the write lock taken first
    // lets one of them upgrade it and the other find it done.
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return query.lastError();
    const QSqlError failure = Upgrade(query);
    if (failure.isValid()) {
        query.exec(QStringLiteral("ROLLBACK"));
        return failure;
    }
    if (!query.exec(QStringLiteral("COMMIT")))
        return query.lastError();
    return QSqlError();
}

bool StationDatabase::Insert(const AttemptRecord& record, QString& error)
{
    return Transact([this, &record](QSqlDatabase&) { return InsertAttempt(record); }, error);
}

bool StationDatabase::Transact(const std::function<QSqlError(QSqlDatabase&)>& body, QString& error)
{
    if (TransactOnce(body, error))
        return true;
    // Damage found by this transaction is mended at once, so that the attempt waits for no retry.
    return !damage.isEmpty() && TransactOnce(body, error);
}

bool StationDatabase::TransactOnce(const std::function<QSqlError(QSqlDatabase&)>& body, QString& error)
{
    if (insertAttempt && !StillInPlace()) {
        Close();
        // The open connection would go on writing to a file nobody finds any more.
        LOGE("StationDatabase::Transact",
             "Station database %s was moved, replaced, removed or cut short during the run; the next records go to "
             "the database now at that path.",
             QDir::toNativeSeparators(path).toUtf8().constData());
    }
    if (!insertAttempt && !Open(error))
        return false;
    QSqlDatabase database = QSqlDatabase::database(connectionName, false);
    uncommittedNames.clear();
    QSqlError failure;
    if (!database.transaction()) {
        failure = database.lastError();
    } else {
        failure = body(database);
        if (!failure.isValid() && !database.commit())
            failure = database.lastError();
        if (failure.isValid())
            database.rollback();
    }
    if (!failure.isValid()) {
        stamp = Platform::StampOf(path);
        return true;
    }
    // Numbers given inside the transaction went with it.
    for (const QString& name : uncommittedNames)
        stageNumbers.remove(name);
    error = ErrorText(failure);
    // A file damaged while open is never reopened as it is: the next opening rebuilds it.
    if (IsBroken(failure)) {
        damage = error;
        Close();
    }
    return false;
}

QSqlError StationDatabase::InsertAttempt(const AttemptRecord& record)
{
    std::vector<std::pair<qint64, qint64>> stageMs;
    for (const SessionStage& stage : record.stages) {
        const QString name = stage.name.isNull() ? QString("") : stage.name;
        qint64 number = stageNumbers.value(name, -1);
        if (number < 0) {
            const QSqlError failure = NumberStage(name, number);
            if (failure.isValid())
                return failure;
            stageNumbers.insert(name, number);
            uncommittedNames << name;
        }
        stageMs.emplace_back(number, StationRecordFormat::StageMs(stage, record));
    }
    QSqlQuery& attempt = *insertAttempt;
    const QByteArray stageBlob = StageTimes::Encode(stageMs);
    const RecordFields::Source source{identity, record, &stageBlob};
    int column = 0;
    for (const RecordFields::Field& field : RecordFields::All())
        attempt.bindValue(column++, field.sql(source));
    if (!attempt.exec())
        return attempt.lastError();
    const QVariant id = attempt.lastInsertId();
    for (int i = 0; i < record.stages.size(); ++i) {
        insertStage->bindValue(0, id);
        insertStage->bindValue(1, record.stages[i].name.isNull() ? QString("") : record.stages[i].name);
        insertStage->bindValue(2, stageMs[size_t(i)].second);
        if (!insertStage->exec())
            return insertStage->lastError();
    }
    return QSqlError();
}

QSqlError StationDatabase::NumberStage(const QString& name, qint64& number)
{
    // Another connection may have numbered the name since this one read the table, so it is looked up
    // rather than taken from the insert.
    insertStageName->bindValue(0, name);
    if (!insertStageName->exec())
        return insertStageName->lastError();
    selectStageName->bindValue(0, name);
    if (!selectStageName->exec())
        return selectStageName->lastError();
    if (!selectStageName->next())
        return QSqlError(QString(), QStringLiteral("stage %1 has no number").arg(name), QSqlError::UnknownError);
    number = selectStageName->value(0).toLongLong();
    selectStageName->finish();
    return QSqlError();
}

bool StationDatabase::Open(QString& error)
{
    bool broken = false;
    if (damage.isEmpty()) {
        if (OpenOnce(error, broken))
            return true;
        if (!broken)
            return false;
        damage = error;
    }
    return Rebuild(damage, error);
}

bool StationDatabase::Rebuild(const QString& found, QString& error)
{
    // A copy: what was found is forgotten below, once it is mended.
    const QString reason = found;
    Close();
    const QString target = path + QStringLiteral(".rebuild");
    for (const QString& stale : {target, target + QStringLiteral("-journal")})
        QFile::remove(stale);
    JournalRebuild rebuild(QFileInfo(path).absolutePath(), identity, messages);
    JournalRebuild::Outcome outcome;
    // The damaged file stays in place until its successor is complete: a rebuild cut short starts again.
    if (!rebuild.Build(path, target, outcome, error)) {
        error = QStringLiteral("the damaged station database cannot be rebuilt: %1").arg(error);
        return false;
    }
    if (QFileInfo::exists(path) && !MoveAside(error))
        return false;
    if (!QDir().rename(target, path)) {
        error = QStringLiteral("cannot move the rebuilt database %1 into place").arg(QDir::toNativeSeparators(target));
        return false;
    }
    damage.clear();
    const QString report = QStringLiteral("Station database %1 was damaged (%2); moved aside to %3 and rebuilt: %4.")
                               .arg(QDir::toNativeSeparators(path), reason, QDir::toNativeSeparators(movedAside),
                                    outcome.Summary());
    LOGE("StationDatabase::Rebuild", "%s", report.toUtf8().constData());
    if (rebuildReport)
        rebuildReport(report);
    bool broken = false;
    return OpenOnce(error, broken);
}

bool StationDatabase::OpenOnce(QString& error, bool& broken)
{
    Close();
    broken = false;
    // The journal is the first of the record's stores to be written, so it makes the folder.
    QString reason;
    if (!RecordFiles::MakeFolder(QFileInfo(path).absolutePath(), reason)) {
        error = QStringLiteral("cannot create the folder %1: %2")
                    .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()), reason);
        broken = false;
        return false;
    }
    const bool existed = QFileInfo::exists(path);
    // A link is the operator's to remove: refused, and never moved aside as a broken database would be.
    error = RecordFiles::PrepareDatabase(path);
    if (!error.isEmpty()) {
        broken = false;
        return false;
    }
    QSqlError failure;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        database.setDatabaseName(path);
        database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!database.open()) {
            failure = database.lastError();
        } else {
            // Damage a write would not meet for months (a page amid the attempts) is found before any write.
            QString findings;
            const JournalCheck::Verdict verdict =
                existed ? JournalCheck::Run(database, JournalCheck::Depth::Quick, findings) : JournalCheck::Verdict::Sound;
            if (verdict == JournalCheck::Verdict::Damaged) {
                error = findings;
                broken = true;
            } else if (verdict == JournalCheck::Verdict::Unknown) {
                failure = QSqlError(QString(), QStringLiteral("the database cannot be checked: %1").arg(findings),
                                    QSqlError::UnknownError);
            } else {
                failure = Prepare(database);
            }
        }
    }
    if (broken) {
        Close();
        return false;
    }
    if (!failure.isValid()) {
        stamp = Platform::StampOf(path);
        return true;
    }
    error = ErrorText(failure);
    // A file SQLite cannot open at all is as unusable as one that is not a database.
    broken = existed && (IsBroken(failure) || failure.type() == QSqlError::ConnectionError);
    Close();
    return false;
}

// One look at the file, no read of it: a commit costs a stat more, never a page.
bool StationDatabase::StillInPlace() const
{
    const Platform::FileStamp now = Platform::StampOf(path);
    return now.exists && now.volume == stamp.volume && now.file == stamp.file && now.size >= stamp.size;
}

QSqlError StationDatabase::Prepare(QSqlDatabase& database)
{
    QSqlQuery query(database);
    // WAL lets a report read while the writer appends; FULL keeps each commit on disk like the files.
    if (!query.exec(QStringLiteral("PRAGMA journal_mode = WAL")) || !query.next())
        return query.lastError();
    if (query.value(0).toString() != QStringLiteral("wal"))
        return QSqlError(QString(), QStringLiteral("the journal cannot be switched to WAL"), QSqlError::UnknownError);
    if (!query.exec(QStringLiteral("PRAGMA synchronous = FULL")))
        return query.lastError();
    const QSqlError schema = CreateSchema(database);
    if (schema.isValid())
        return schema;
    insertAttempt = std::make_unique<QSqlQuery>(database);
    insertStage = std::make_unique<QSqlQuery>(database);
    if (!insertAttempt->prepare(InsertAttemptStatement()))
        return insertAttempt->lastError();
    if (!insertStage->prepare(QStringLiteral("INSERT INTO stage (attempt, stage, ms) VALUES (?,?,?)")))
        return insertStage->lastError();
    insertStageName = std::make_unique<QSqlQuery>(database);
    selectStageName = std::make_unique<QSqlQuery>(database);
    if (!insertStageName->prepare(QStringLiteral("INSERT OR IGNORE INTO stage_name (name) VALUES (?)")))
        return insertStageName->lastError();
    if (!selectStageName->prepare(QStringLiteral("SELECT id FROM stage_name WHERE name = ?")))
        return selectStageName->lastError();
    stageNumbers.clear();
    if (!query.exec(QStringLiteral("SELECT id, name FROM stage_name")))
        return query.lastError();
    while (query.next())
        stageNumbers.insert(query.value(1).toString(), query.value(0).toLongLong());
    return QSqlError();
}

bool StationDatabase::MoveAside(QString& error)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmsszzz"));
    const QString target = path + QStringLiteral(".broken-") + stamp;
    if (!QDir().rename(path, target)) {
        error = QStringLiteral("cannot move %1 aside").arg(QDir::toNativeSeparators(path));
        return false;
    }
    // The journal files belong to the old database; a new one must not replay them.
    for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (QFileInfo::exists(path + suffix))
            QDir().rename(path + suffix, target + suffix);
    }
    movedAside = target;
    return true;
}

void StationDatabase::Close()
{
    insertAttempt.reset();
    insertStage.reset();
    insertStageName.reset();
    selectStageName.reset();
    prepared.clear();
    stageNumbers.clear();
    if (QSqlDatabase::contains(connectionName)) {
        {
            QSqlDatabase database = QSqlDatabase::database(connectionName, false);
            database.close();
        }
        QSqlDatabase::removeDatabase(connectionName);
    }
}
