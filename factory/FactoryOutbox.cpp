#include "factory/FactoryOutbox.h"

#include "record/RecordFiles.h"
#include "record/StationDatabase.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace {

constexpr int kBusyTimeoutMs = 5000;

const char* const kSchema = StationDatabase::kOutboxSchema;

QString LastError(sqlite3* database)
{
    return QString::fromUtf8(sqlite3_errmsg(database));
}

// A statement that finalizes itself on every return.
class Statement
{
public:
    Statement(sqlite3* database, const char* sql) { sqlite3_prepare_v2(database, sql, -1, &statement, nullptr); }
    ~Statement() { sqlite3_finalize(statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return statement; }
    explicit operator bool() const { return statement != nullptr; }

private:
    sqlite3_stmt* statement = nullptr;
};

void BindText(sqlite3_stmt* statement, int index, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    sqlite3_bind_text(statement, index, bytes.constData(), bytes.size(), SQLITE_TRANSIENT);
}

QString ColumnText(sqlite3_stmt* statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                             sqlite3_column_bytes(statement, column));
}

} // namespace

FactoryOutbox::FactoryOutbox(const QString& databasePath) : path(databasePath) {}

FactoryOutbox::~FactoryOutbox()
{
    std::lock_guard<std::mutex> guard(lock);
    CloseLocked();
}

void FactoryOutbox::CloseLocked()
{
    if (database != nullptr)
        sqlite3_close_v2(database);
    database = nullptr;
}

void FactoryOutbox::FollowLocked(int result)
{
    if (database == nullptr)
        return;
    const int code = result & 0xff;
    const Platform::FileStamp now = Platform::StampOf(path);
    // The record's writer moves a damaged or replaced database aside; what is at the path is the journal now.
    if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB || !now.exists || now.volume != stamp.volume ||
        now.file != stamp.file)
        CloseLocked();
}

bool FactoryOutbox::OpenLocked(QString& error)
{
    FollowLocked();
    if (database != nullptr)
        return true;
    const QString folder = QFileInfo(path).absolutePath();
    QString reason;
    if (!RecordFiles::MakeFolder(folder, reason)) {
        error = QStringLiteral("cannot create the folder %1: %2").arg(folder, reason);
        return false;
    }
    error = RecordFiles::PrepareDatabase(path);
    if (!error.isEmpty())
        return false;
    // The check above names a link for the operator; NOFOLLOW also refuses one planted since.
    const int create = openedBefore ? 0 : SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &database,
                        SQLITE_OPEN_READWRITE | create | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        error = database != nullptr ? LastError(database) : QStringLiteral("out of memory");
        CloseLocked();
        return false;
    }
    sqlite3_busy_timeout(database, kBusyTimeoutMs);
    // The same journal as the record's writer, which shares the file; a killed tool loses nothing committed.
    for (const char* sql : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", kSchema}) {
        if (sqlite3_exec(database, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            error = LastError(database);
            CloseLocked();
            return false;
        }
    }
    openedBefore = true;
    ++generation;
    stamp = Platform::StampOf(path);
    return true;
}

bool FactoryOutbox::StoreLocked(const CfxMessage& message, QString& error)
{
    Statement insert(database, "INSERT INTO outbox (unique_id, name, source, time_ms, body) VALUES (?, ?, ?, ?, ?)");
    if (!insert) {
        error = LastError(database);
        return false;
    }
    BindText(insert.get(), 1, message.uniqueId);
    BindText(insert.get(), 2, message.name);
    BindText(insert.get(), 3, message.source);
    sqlite3_bind_int64(insert.get(), 4, message.timeStamp.toMSecsSinceEpoch());
    sqlite3_bind_blob(insert.get(), 5, message.json.constData(), message.json.size(), SQLITE_TRANSIENT);
    const int result = sqlite3_step(insert.get());
    if (result != SQLITE_DONE) {
        error = LastError(database);
        return false;
    }
    return true;
}

bool FactoryOutbox::Append(const CfxMessage& message, QString& error)
{
    std::lock_guard<std::mutex> guard(lock);
    waiting.push_back(message);
    if (!OpenLocked(error))
        return false;
    while (!waiting.empty()) {
        if (!StoreLocked(waiting.front(), error)) {
            // A file that turned out not to be a database is reopened next time, after the record's writer
            // has moved it aside.
            CloseLocked();
            return false;
        }
        waiting.pop_front();
    }
    return true;
}

std::vector<FactoryOutbox::Entry> FactoryOutbox::Head(int64_t after, int limit, QString& error)
{
    std::vector<Entry> entries;
    std::lock_guard<std::mutex> guard(lock);
    if (!OpenLocked(error))
        return entries;
    Statement select(database, "SELECT sequence, unique_id, name, source, time_ms, body FROM outbox"
                               " WHERE sequence > ? ORDER BY sequence LIMIT ?");
    if (!select) {
        error = LastError(database);
        return entries;
    }
    sqlite3_bind_int64(select.get(), 1, after);
    sqlite3_bind_int(select.get(), 2, limit);
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
        Entry entry;
        entry.sequence = sqlite3_column_int64(select.get(), 0);
        entry.message.uniqueId = ColumnText(select.get(), 1);
        entry.message.name = ColumnText(select.get(), 2);
        entry.message.source = ColumnText(select.get(), 3);
        entry.message.timeStamp = QDateTime::fromMSecsSinceEpoch(sqlite3_column_int64(select.get(), 4), Qt::UTC);
        entry.message.json = QByteArray(static_cast<const char*>(sqlite3_column_blob(select.get(), 5)),
                                sqlite3_column_bytes(select.get(), 5));
        entries.push_back(entry);
    }
    if (step != SQLITE_DONE) {
        error = LastError(database);
        FollowLocked(step);
    }
    headGeneration = generation;
    return entries;
}

bool FactoryOutbox::RemoveThrough(int64_t sequence, QString& error)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!OpenLocked(error))
        return false;
    if (generation != headGeneration)
        return true;
    Statement remove(database, "DELETE FROM outbox WHERE sequence <= ?");
    if (!remove) {
        error = LastError(database);
        return false;
    }
    sqlite3_bind_int64(remove.get(), 1, sequence);
    const int result = sqlite3_step(remove.get());
    if (result != SQLITE_DONE) {
        error = LastError(database);
        FollowLocked(result);
        return false;
    }
    return true;
}

int64_t FactoryOutbox::Count()
{
    std::lock_guard<std::mutex> guard(lock);
    QString error;
    if (!OpenLocked(error))
        return -1;
    Statement count(database, "SELECT COUNT(*) FROM outbox");
    if (!count || sqlite3_step(count.get()) != SQLITE_ROW)
        return -1;
    return sqlite3_column_int64(count.get(), 0);
}

size_t FactoryOutbox::Waiting()
{
    std::lock_guard<std::mutex> guard(lock);
    return waiting.size();
}
