#include "record/JournalRebuild.h"

#include "record/RecordLine.h"
#include "record/StageTimes.h"
#include "record/StationDatabase.h"
#include "record/StationRecordFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <vector>

namespace {

// Rows copied by one statement while the pages read; a range that meets damage is read row by row.
constexpr qint64 kChunk = 4096;
constexpr qint64 kNoRow = std::numeric_limits<qint64>::min();
// Stage names before the attempts that number their stages with them. A page cut short reads as rows of
// zeros, texts empty or of NUL characters that the columns take: each table's condition leaves out rows no
// writer ever made.
const struct
{
    const char* name;
    const char* sane;
} kTables[] = {
    {"stage_name", "name <> '' AND instr(name, char(0)) = 0"},
    {"attempt", "result <> '' AND station <> '' AND instr(station || result || device || port, char(0)) = 0"},
    {"stage", "instr(stage, char(0)) = 0"},
    {"open_attempt", "attempt <> '' AND instr(attempt || host || instance, char(0)) = 0"},
    {"unfiled", "attempt <> '' AND instr(attempt || day, char(0)) = 0"},
    {"outbox", "unique_id <> '' AND instr(unique_id || name, char(0)) = 0"},
};

QString NewConnectionName()
{
    static std::atomic<int> serial{0};
    return QStringLiteral("journal-rebuild-%1").arg(++serial);
}

// Whether a copy failed for want of the new database (its disk full, its file gone) rather than for what it
// read: a damaged page may also read as a row the new table refuses (a NULL where none may be).
bool NewDatabaseFailed(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    // SQLITE_BUSY, _LOCKED, _NOMEM, _READONLY, _IOERR, _FULL, _CANTOPEN
    return !ok || code == 5 || code == 6 || code == 7 || code == 8 || code == 10 || code == 13 || code == 14;
}

} // namespace

QString JournalRebuild::Outcome::Summary() const
{
    const qint64 lost = std::max<qint64>(0, unreadableAttempts - fromDayFiles);
    return QStringLiteral(
               "salvaged %1 attempts, %2 open attempts, %3 attempts' waiting day-file lines and %4 "
               "factory messages; %5 closed attempts came from the day files; %6 factory messages "
               "queued again; %7 rows could not be read, %8 of them attempts (about %9 not recovered)")
        .arg(attempts)
        .arg(openAttempts)
        .arg(unfiled)
        .arg(messages)
        .arg(fromDayFiles)
        .arg(requeued)
        .arg(unreadable)
        .arg(unreadableAttempts)
        .arg(lost);
}

// One rebuild on one connection: the new database is "main", the damaged one attached as "damaged".
class JournalRebuild::Work
{
public:
    Work(const JournalRebuild& owner, QSqlDatabase& database, Outcome& outcome)
        : owner(owner), database(database), outcome(outcome)
    {
    }

    bool CopyAll(bool attached)
    {
        if (!attached) {
            outboxUnreadable = true;
            return true;
        }
        for (const auto& table : kTables) {
            qint64 copied = 0;
            qint64 firstLost = kNoRow;
            const qint64 before = outcome.unreadable;
            if (!Copy(QLatin1String(table.name), QLatin1String(table.sane), copied, firstLost))
                return false;
            const QLatin1String name(table.name);
            if (name == QLatin1String("attempt")) {
                outcome.attempts = copied;
                outcome.unreadableAttempts = outcome.unreadable - before;
            } else if (name == QLatin1String("open_attempt")) {
                outcome.openAttempts = copied;
            } else if (name == QLatin1String("unfiled")) {
                outcome.unfiled = copied;
            } else if (name == QLatin1String("outbox")) {
                outcome.messages = copied;
                outboxFirstLost = firstLost;
            }
        }
        outcome.outboxWhole = !outboxUnreadable && outboxFirstLost == kNoRow;
        return true;
    }

    bool AddFromDayFiles()
    {
        if (owner.messages != nullptr && !LoadQueued())
            return false;
        QDir dir(owner.folder);
        const QStringList names = dir.entryList({QStringLiteral("station-*.jsonl")}, QDir::Files, QDir::Name);
        QSqlQuery known(database);
        known.prepare(
            QStringLiteral("SELECT 1 FROM main.attempt WHERE attempt_uid = ? AND attempt_uid <> '' LIMIT 1"));
        QSqlQuery closeOpen(database);
        closeOpen.prepare(QStringLiteral("DELETE FROM main.open_attempt WHERE attempt = ?"));
        for (const QString& name : names) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            while (!file.atEnd()) {
                const QByteArray line = file.readLine();
                const QByteArray id = RecordLine::AttemptId(line);
                if (id.isEmpty())
                    continue;
                known.bindValue(0, QString::fromUtf8(id));
                if (!known.exec())
                    return Fail(known.lastError());
                const bool there = known.next();
                known.finish();
                if (there)
                    continue;
                StationIdentity identity;
                AttemptRecord record;
                if (!RecordLine::Parse(line, identity, record))
                    continue;
                if (!Insert(identity, record))
                    return false;
                // Its line says it ended: whatever still held it open was from before.
                closeOpen.bindValue(0, record.attempt);
                if (!closeOpen.exec())
                    return Fail(closeOpen.lastError());
                ++outcome.fromDayFiles;
                // Queued as they come, in the files' order: a year's worth is not held in memory.
                if (owner.messages != nullptr && identity.station == owner.identity.station &&
                    !QueueAttempt(record))
                    return false;
            }
        }
        return true;
    }

    // The messages of salvaged attempts whose delivery the damage left unknown.
    bool Requeue() { return owner.messages == nullptr || outcome.outboxWhole || Unknown(); }

    QSqlError failure; // the new database refused: the rebuild fails

private:
    bool Fail(const QSqlError& error)
    {
        failure = error;
        return false;
    }

    // The table's columns but its row number's alias, which the copy takes as rowid.
    QStringList Columns(const QString& schema, const QString& table)
    {
        QSqlQuery query(database);
        QStringList columns;
        if (!query.exec(QStringLiteral("PRAGMA %1.table_info(%2)").arg(schema, table)))
            return columns;
        while (query.next()) {
            const bool alias =
                query.value(5).toInt() == 1 &&
                query.value(2).toString().compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0;
            if (!alias)
                columns << query.value(1).toString();
        }
        return columns;
    }

    // The first row at or after from, kNoRow when there is none or it cannot be read.
    qint64 Probe(const QString& table, qint64 from)
    {
        QSqlQuery query(database);
        query.prepare(QStringLiteral("SELECT rowid FROM damaged.%1 WHERE rowid >= ? ORDER BY rowid LIMIT 1")
                          .arg(table));
        query.bindValue(0, from);
        if (!query.exec() || !query.next())
            return kNoRow;
        return query.value(0).toLongLong();
    }

    // The rows to look at: the table's first and last, or, when damage hides them, as far as probes reach.
    bool Bounds(const QString& table, qint64& low, qint64& high)
    {
        QSqlQuery query(database);
        if (query.exec(QStringLiteral("SELECT min(rowid), max(rowid) FROM damaged.%1").arg(table)) &&
            query.next()) {
            if (query.value(0).isNull())
                return false;
            low = query.value(0).toLongLong();
            high = query.value(1).toLongLong();
            return true;
        }
        low = 1;
        high = 0;
        for (int shift = 0; shift < 48; ++shift) {
            const qint64 found = Probe(table, qint64(1) << shift);
            high = std::max(high, found);
        }
        // Rows past the last one found may sit in the damaged page itself: a chunk's worth is looked at.
        high = high > 0 ? high + kChunk : kChunk;
        return true;
    }

    bool Copy(const QString& table, const QString& sane, qint64& copied, qint64& firstLost)
    {
        const QStringList present = Columns(QStringLiteral("main"), table);
        QStringList columns;
        for (const QString& column : Columns(QStringLiteral("damaged"), table)) {
            if (present.contains(column, Qt::CaseInsensitive))
                columns << column;
        }
        if (columns.isEmpty()) {
            // Its schema is gone: nothing of the table reads.
            if (table == QLatin1String("outbox"))
                outboxUnreadable = true;
            return true;
        }
        qint64 low = 0;
        qint64 high = 0;
        if (!Bounds(table, low, high))
            return true;
        const QString list = columns.join(QStringLiteral(", "));
        QSqlQuery copy(database);
        copy.prepare(QStringLiteral("INSERT INTO main.%1 (rowid, %2) SELECT rowid, %2 FROM damaged.%1"
                                    " WHERE rowid BETWEEN ? AND ? AND %3")
                         .arg(table, list, sane));
        for (qint64 from = low; from <= high; from += kChunk) {
            const qint64 to = std::min(high, from + kChunk - 1);
            copy.bindValue(0, from);
            copy.bindValue(1, to);
            if (copy.exec()) {
                copied += copy.numRowsAffected();
                continue;
            }
            if (NewDatabaseFailed(copy.lastError()))
                return Fail(copy.lastError());
            for (qint64 row = from; row <= to; ++row) {
                copy.bindValue(0, row);
                copy.bindValue(1, row);
                if (copy.exec()) {
                    copied += copy.numRowsAffected();
                    continue;
                }
                if (NewDatabaseFailed(copy.lastError()))
                    return Fail(copy.lastError());
                ++outcome.unreadable;
                if (firstLost == kNoRow)
                    firstLost = row;
            }
        }
        return true;
    }

    qint64 StageNumber(const QString& name)
    {
        auto found = stageNumbers.find(name);
        if (found != stageNumbers.end())
            return *found;
        QSqlQuery query(database);
        query.prepare(QStringLiteral("INSERT OR IGNORE INTO main.stage_name (name) VALUES (?)"));
        query.bindValue(0, name);
        if (query.exec()) {
            query.prepare(QStringLiteral("SELECT id FROM main.stage_name WHERE name = ?"));
            query.bindValue(0, name);
            if (query.exec() && query.next())
                return *stageNumbers.insert(name, query.value(0).toLongLong());
        }
        Fail(query.lastError());
        return -1;
    }

    bool Insert(const StationIdentity& identity, const AttemptRecord& record)
    {
        std::vector<std::pair<qint64, qint64>> stageMs;
        for (const SessionStage& stage : record.stages) {
            const qint64 number = StageNumber(stage.name);
            if (number < 0)
                return false;
            stageMs.emplace_back(number, StationRecordFormat::StageMs(stage, record));
        }
        if (!insertAttempt) {
            QStringList columns;
            for (const RecordFields::Field& field : RecordFields::All())
                columns << field.column;
            insertAttempt.reset(new QSqlQuery(database));
            insertAttempt->prepare(QStringLiteral("INSERT INTO main.attempt (%1) VALUES (?%2)")
                                       .arg(columns.join(QStringLiteral(", ")),
                                            QStringLiteral(",?").repeated(columns.size() - 1)));
            insertStage.reset(new QSqlQuery(database));
            insertStage->prepare(
                QStringLiteral("INSERT INTO main.stage (attempt, stage, ms) VALUES (?, ?, ?)"));
        }
        const QByteArray blob = StageTimes::Encode(stageMs);
        const RecordFields::Source source{identity, record, &blob};
        int column = 0;
        for (const RecordFields::Field& field : RecordFields::All())
            insertAttempt->bindValue(column++, field.sql(source));
        if (!insertAttempt->exec())
            return Fail(insertAttempt->lastError());
        const QVariant id = insertAttempt->lastInsertId();
        for (size_t i = 0; i < stageMs.size(); ++i) {
            insertStage->bindValue(0, id);
            insertStage->bindValue(1, record.stages[int(i)].name);
            insertStage->bindValue(2, stageMs[i].second);
            if (!insertStage->exec())
                return Fail(insertStage->lastError());
        }
        return true;
    }

    // Salvaged attempts of this station whose messages may have been in the unreadable part of the outbox:
    // those after the last message read before it, or all when none was.
    bool Unknown()
    {
        QSqlQuery query(database);
        qint64 since = std::numeric_limits<qint64>::min();
        if (!outboxUnreadable && outboxFirstLost != kNoRow) {
            query.prepare(QStringLiteral("SELECT max(time_ms) FROM main.outbox WHERE sequence < ?"));
            query.bindValue(0, outboxFirstLost);
            if (!query.exec())
                return Fail(query.lastError());
            if (query.next() && !query.value(0).isNull())
                since = query.value(0).toLongLong();
        }
        query.prepare(QStringLiteral(
            "SELECT attempt_uid, row, start_ms, end_ms, port, result, failed_stage, error,"
            " unit, device, failure_kind FROM main.attempt WHERE station = ? AND attempt_uid <> ''"
            " AND coalesce(end_ms, start_ms) >= ? ORDER BY start_ms"));
        query.bindValue(0, owner.identity.station);
        query.bindValue(1, since);
        if (!query.exec())
            return Fail(query.lastError());
        while (query.next()) {
            AttemptRecord record;
            record.attempt = query.value(0).toString();
            record.row = query.value(1).toInt();
            record.start = QDateTime::fromMSecsSinceEpoch(query.value(2).toLongLong(), Qt::UTC);
            if (!query.value(3).isNull())
                record.end = QDateTime::fromMSecsSinceEpoch(query.value(3).toLongLong(), Qt::UTC);
            record.port = query.value(4).toString();
            record.result = query.value(5).toString();
            record.failedStage = query.value(6).toString();
            record.error = query.value(7).toString();
            record.socid = query.value(8).toString();
            record.device = query.value(9).toString();
            record.failureKind = FailureKindOf(query.value(10).toString());
            if (!QueueAttempt(record))
                return false;
        }
        query.prepare(
            QStringLiteral("SELECT attempt, started FROM main.open_attempt WHERE host = ? ORDER BY rowid"));
        query.bindValue(0, owner.identity.station);
        if (!query.exec())
            return Fail(query.lastError());
        while (query.next()) {
            const QJsonObject started = QJsonDocument::fromJson(query.value(1).toByteArray()).object();
            AttemptRecord attempt;
            attempt.attempt = query.value(0).toString();
            attempt.row = started.value("row").toInt();
            attempt.start = QDateTime::fromMSecsSinceEpoch(
                static_cast<qint64>(started.value("start").toDouble()), Qt::UTC);
            attempt.port = started.value("port").toString();
            if (attempt.start.toMSecsSinceEpoch() >= since && !Queue(owner.messages->Started(attempt)))
                return false;
        }
        return true;
    }

    bool LoadQueued()
    {
        QSqlQuery query(database);
        if (!query.exec(QStringLiteral("SELECT unique_id FROM main.outbox")))
            return Fail(query.lastError());
        while (query.next())
            queued.insert(query.value(0).toString());
        return true;
    }

    bool QueueAttempt(const AttemptRecord& record)
    {
        // The unit as its start named it: the device's own id comes later in a session.
        AttemptRecord started = record;
        started.socid.clear();
        return Queue(owner.messages->Started(started)) && Queue(owner.messages->Ended(record));
    }

    bool Queue(const JournalMessages& messages)
    {
        if (!insertMessage) {
            insertMessage.reset(new QSqlQuery(database));
            insertMessage->prepare(QStringLiteral(
                "INSERT INTO main.outbox (unique_id, name, source, time_ms, body) VALUES (?, ?, ?, ?, ?)"));
        }
        QSqlQuery& insert = *insertMessage;
        for (const JournalMessage& message : messages) {
            if (queued.contains(message.uniqueId))
                continue;
            insert.bindValue(0, message.uniqueId);
            insert.bindValue(1, message.name);
            insert.bindValue(2, message.source);
            insert.bindValue(3, message.time.toMSecsSinceEpoch());
            insert.bindValue(4, message.body);
            if (!insert.exec())
                return Fail(insert.lastError());
            queued.insert(message.uniqueId);
            ++outcome.requeued;
        }
        return true;
    }

    const JournalRebuild& owner;
    QSqlDatabase& database;
    Outcome& outcome;
    bool outboxUnreadable = false;
    qint64 outboxFirstLost = kNoRow;
    QSet<QString> queued; // message ids in the new outbox
    QHash<QString, qint64> stageNumbers;
    std::unique_ptr<QSqlQuery> insertAttempt;
    std::unique_ptr<QSqlQuery> insertStage;
    std::unique_ptr<QSqlQuery> insertMessage;
};

JournalRebuild::JournalRebuild(const QString& folder, const StationIdentity& identity,
                               AttemptMessages* messages)
    : folder(QDir::cleanPath(folder)), identity(identity), messages(messages)
{
}

bool JournalRebuild::Build(const QString& damaged, const QString& target, Outcome& outcome, QString& error)
{
    outcome = Outcome();
    const QString name = NewConnectionName();
    QSqlError failure;
    bool built = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(target);
        QSqlQuery query(database);
        // Nobody uses the new file before it is complete and synced: until then it needs no sync of its own,
        // only a journal that undoes a statement the damage cut short.
        if (!database.open() || !query.exec(QStringLiteral("PRAGMA journal_mode = MEMORY")) ||
            !query.exec(QStringLiteral("PRAGMA synchronous = OFF")))
            failure = database.isOpen() ? query.lastError() : database.lastError();
        if (!failure.isValid())
            failure = StationDatabase::CreateSchema(database);
        if (!failure.isValid()) {
            query.prepare(QStringLiteral("ATTACH DATABASE ? AS damaged"));
            query.bindValue(0, damaged);
            // A file too damaged to attach, or no file at all, gives nothing; the day files give what they
            // have.
            const bool attached = QFileInfo(damaged).isFile() && query.exec();
            Work work(*this, database, outcome);
            // Each copy commits on its own: in SQLite, damage met inside a transaction spoils the whole of
            // it.
            bool done = work.CopyAll(attached);
            if (attached)
                query.exec(QStringLiteral("DETACH DATABASE damaged"));
            if (done && !query.exec(QStringLiteral("PRAGMA synchronous = FULL")))
                done = !(work.failure = query.lastError()).isValid();
            if (done && !database.transaction())
                done = !(work.failure = database.lastError()).isValid();
            if (done && work.AddFromDayFiles() && work.Requeue()) {
                built = database.commit();
                if (!built)
                    failure = database.lastError();
            } else {
                failure = work.failure;
                database.rollback();
            }
        }
        query = QSqlQuery();
        database.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (built)
        return true;
    error = failure.text().trimmed();
    if (error.isEmpty())
        error = QStringLiteral("the new database could not be written");
    return false;
}
