// The station database as the station's journal: attempts opened and closed together with their factory
// messages, the day files' lines until they are filed, and what a station that stopped left open.
#include "StationDatabase.h"

#include "record/RecordFields.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// What an open attempt knows of itself, enough to close it as interrupted when its station is gone: every
// field of the run and of the attempt as its column holds it (keyed by the field's name), which reads back
// through the same table. The station's own fields are those of the station that closes it.
QByteArray StartedJson(const StationIdentity& identity, const AttemptRecord& started)
{
    const RecordFields::Source source{identity, started};
    QJsonObject fields;
    for (const RecordFields::Field& field : RecordFields::All()) {
        if (field.scope != RecordFields::Scope::Station && field.take)
            fields.insert(field.name, QJsonValue::fromVariant(field.sql(source)));
    }
    return QJsonDocument(fields).toJson(QJsonDocument::Compact);
}

// A field a row of an older version lacks keeps the record's default.
AttemptRecord FromStartedJson(const QString& attempt, const QByteArray& json)
{
    const QJsonObject fields = QJsonDocument::fromJson(json).object();
    StationIdentity none;
    AttemptRecord started;
    const RecordFields::Target target{none, started};
    for (const RecordFields::Field& field : RecordFields::All()) {
        if (field.scope != RecordFields::Scope::Station && field.take && fields.contains(field.name))
            field.take(target, fields.value(field.name).toVariant());
    }
    started.attempt = attempt;
    return started;
}

const QString kInsertMessage =
    QStringLiteral("INSERT INTO outbox (unique_id, name, source, time_ms, body) VALUES (?, ?, ?, ?, ?)");
const QString kDeleteFiled = QStringLiteral("DELETE FROM unfiled WHERE id = ?");
const QString kOpen =
    QStringLiteral("INSERT OR REPLACE INTO open_attempt (attempt, host, instance, started) VALUES (?, ?, ?, ?)");
const QString kClose = QStringLiteral("DELETE FROM open_attempt WHERE attempt = ?");
const QString kInsertUnfiled = QStringLiteral("INSERT INTO unfiled (attempt, day, json, csv) VALUES (?, ?, ?, ?)");

// Whether a record of the attempt is kept already: a station that found the attempt's owner gone has
// closed it, and its own close must not make a second record.
QSqlError AlreadyClosed(QSqlDatabase& database, const QString& attempt, bool& closed)
{
    QSqlQuery find(database);
    find.prepare(QStringLiteral("SELECT 1 FROM attempt WHERE attempt_uid = ? AND attempt_uid <> '' LIMIT 1"));
    find.bindValue(0, attempt);
    if (!find.exec())
        return find.lastError();
    closed = find.next();
    return QSqlError();
}

} // namespace

QSqlError StationDatabase::InsertMessages(const JournalMessages& messages)
{
    if (messages.empty())
        return QSqlError();
    QSqlError failure;
    QSqlQuery* insert = Prepared(kInsertMessage, failure);
    if (insert == nullptr)
        return failure;
    for (const JournalMessage& message : messages) {
        insert->bindValue(0, message.uniqueId);
        insert->bindValue(1, message.name);
        insert->bindValue(2, message.source);
        insert->bindValue(3, message.time.toMSecsSinceEpoch());
        insert->bindValue(4, message.body);
        if (!insert->exec())
            return insert->lastError();
    }
    return QSqlError();
}

QSqlError StationDatabase::DeleteFiled(const std::vector<qint64>& filed)
{
    if (filed.empty())
        return QSqlError();
    QSqlError failure;
    QSqlQuery* remove = Prepared(kDeleteFiled, failure);
    if (remove == nullptr)
        return failure;
    for (const qint64 id : filed) {
        remove->bindValue(0, id);
        if (!remove->exec())
            return remove->lastError();
    }
    return QSqlError();
}

bool StationDatabase::OpenAttempt(const AttemptRecord& started, const QString& instance,
                                  const JournalMessages& messages, QString& error)
{
    return Transact([&](QSqlDatabase&) { return OpenIn(started, instance, messages); }, error);
}

bool StationDatabase::CloseAttempt(const AttemptRecord& record, UnfiledLines& lines, const JournalMessages& messages,
                                   const std::vector<qint64>& filed, bool& closed, QString& error)
{
    closed = false;
    return Transact(
        [&](QSqlDatabase& database) {
            const QSqlError failure = DeleteFiled(filed);
            if (failure.isValid())
                return failure;
            return CloseIn(database, record, lines, messages, closed);
        },
        error);
}

bool StationDatabase::Write(std::vector<JournalEntry>& entries, const QString& instance,
                            const std::vector<qint64>& filed, QString& error)
{
    for (JournalEntry& entry : entries)
        entry.closed = false;
    return Transact(
        [&](QSqlDatabase& database) {
            QSqlError failure = DeleteFiled(filed);
            for (auto entry = entries.begin(); entry != entries.end() && !failure.isValid(); ++entry) {
                failure = entry->lines == nullptr
                              ? OpenIn(*entry->record, instance, *entry->messages)
                              : CloseIn(database, *entry->record, *entry->lines, *entry->messages, entry->closed);
            }
            return failure;
        },
        error);
}

QSqlError StationDatabase::OpenIn(const AttemptRecord& started, const QString& instance,
                                  const JournalMessages& messages)
{
    QSqlError failure;
    QSqlQuery* insert = Prepared(kOpen, failure);
    if (insert == nullptr)
        return failure;
    insert->bindValue(0, started.attempt);
    insert->bindValue(1, identity.station);
    insert->bindValue(2, instance);
    insert->bindValue(3, StartedJson(identity, started));
    if (!insert->exec())
        return insert->lastError();
    return InsertMessages(messages);
}

QSqlError StationDatabase::CloseIn(QSqlDatabase& database, const AttemptRecord& record, UnfiledLines& lines,
                                   const JournalMessages& messages, bool& closed)
{
    QSqlError failure;
    QSqlQuery* close = Prepared(kClose, failure);
    if (close == nullptr)
        return failure;
    close->bindValue(0, record.attempt);
    if (!close->exec())
        return close->lastError();
    bool before = false;
    if (close->numRowsAffected() == 0 && !record.attempt.isEmpty()) {
        failure = AlreadyClosed(database, record.attempt, before);
        if (failure.isValid() || before)
            return failure;
    }
    failure = InsertAttempt(record);
    if (failure.isValid())
        return failure;
    QSqlQuery* unfiled = Prepared(kInsertUnfiled, failure);
    if (unfiled == nullptr)
        return failure;
    unfiled->bindValue(0, record.attempt);
    unfiled->bindValue(1, lines.day.toString(Qt::ISODate));
    unfiled->bindValue(2, lines.json);
    unfiled->bindValue(3, lines.csv);
    if (!unfiled->exec())
        return unfiled->lastError();
    lines.id = unfiled->lastInsertId().toLongLong();
    lines.attempt = record.attempt;
    closed = true;
    return InsertMessages(messages);
}

QSqlQuery* StationDatabase::Prepared(const QString& statement, QSqlError& failure)
{
    auto found = prepared.find(statement);
    if (found == prepared.end()) {
        auto query = std::make_unique<QSqlQuery>(QSqlDatabase::database(connectionName, false));
        if (!query->prepare(statement)) {
            failure = query->lastError();
            return nullptr;
        }
        found = prepared.emplace(statement, std::move(query)).first;
    }
    return found->second.get();
}

bool StationDatabase::ForgetFiled(const std::vector<qint64>& filed, QString& error)
{
    if (filed.empty())
        return true;
    return Transact([&](QSqlDatabase&) { return DeleteFiled(filed); }, error);
}

bool StationDatabase::OpenAttempts(const QString& host, std::vector<OpenedAttempt>& attempts, QString& error)
{
    return Transact(
        [&](QSqlDatabase& database) {
            QSqlQuery select(database);
            select.prepare(QStringLiteral(
                "SELECT attempt, instance, started FROM open_attempt WHERE host = ? ORDER BY rowid"));
            select.bindValue(0, host);
            if (!select.exec())
                return select.lastError();
            while (select.next())
                attempts.push_back({select.value(1).toString(),
                                    FromStartedJson(select.value(0).toString(), select.value(2).toByteArray())});
            return QSqlError();
        },
        error);
}

bool StationDatabase::Unfiled(std::vector<UnfiledLines>& lines, QString& error)
{
    return Transact(
        [&](QSqlDatabase& database) {
            QSqlQuery select(database);
            if (!select.exec(QStringLiteral(
                    "SELECT id, attempt, day, json, csv FROM unfiled ORDER BY id")))
                return select.lastError();
            while (select.next()) {
                UnfiledLines line;
                line.id = select.value(0).toLongLong();
                line.attempt = select.value(1).toString();
                line.day = QDate::fromString(select.value(2).toString(), Qt::ISODate);
                line.json = select.value(3).toByteArray();
                line.csv = select.value(4).toByteArray();
                lines.push_back(line);
            }
            return QSqlError();
        },
        error);
}
