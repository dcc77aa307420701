#include "cli/ReportDatabase.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QUrl>

namespace ReportDatabase {

namespace {

// The fixed part of the first page, which tells a SQLite database from anything else.
constexpr int kHeaderSize = 100;
const char kMagic[] = "SQLite format 3"; // with its terminating zero, as the file has it
constexpr int kWriteVersionAt = 18;
constexpr int kReadVersionAt = 19; // 1 for a rollback journal, 2 for WAL
constexpr char kWal = 2;

quint32 PageSize(const QByteArray& header)
{
    const quint32 stored = (quint32(uchar(header[16])) << 8) | uchar(header[17]);
    return stored == 1 ? 65536 : stored;
}

bool IsVersion(char version)
{
    return version == 1 || version == 2;
}

// Empty when the file starts as a SQLite database and holds whole pages; otherwise what is wrong with it.
QString CheckFile(const QString& path, bool& wal)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    const QByteArray header = file.read(kHeaderSize);
    if (header.size() < kHeaderSize || !header.startsWith(QByteArray(kMagic, sizeof kMagic)))
        return QStringLiteral("not a SQLite database");
    const quint32 pageSize = PageSize(header);
    // The payload fractions have had these values in every SQLite file ever written.
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0 ||
        !IsVersion(header[kWriteVersionAt]) || !IsVersion(header[kReadVersionAt]) ||
        uchar(header[21]) != 64 || uchar(header[22]) != 32 || uchar(header[23]) != 32)
        return QStringLiteral("not a sound SQLite database: its header is damaged");
    // SQLite writes whole pages; a file that ends inside one was cut short.
    if (file.size() % pageSize != 0)
        return QStringLiteral("not a sound SQLite database: it ends inside a page");
    wal = header[kReadVersionAt] == kWal;
    return QString();
}

} // namespace

bool Open(QSqlDatabase& database, const QString& path, QString& error)
{
    bool wal = false;
    error = CheckFile(path, wal);
    if (!error.isEmpty())
        return false;
    // A connection in WAL mode keeps the "-wal" file for as long as it is open. Without one nobody has the
    // database open and the file alone holds all of it: read it as it lies, with no WAL and no locks, so that
    // nothing is made beside it. A station that opens it meanwhile appends to a new "-wal" and copies pages
    // into the file only after a thousand of them, far more than it writes while a report reads.
    if (wal && !QFileInfo::exists(path + QStringLiteral("-wal"))) {
        const QUrl file = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        database.setDatabaseName(file.toString(QUrl::FullyEncoded) + QStringLiteral("?immutable=1"));
        database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY"));
    } else {
        database.setDatabaseName(path);
        database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
    }
    if (!database.open()) {
        error = database.lastError().text();
        return false;
    }
    return true;
}

} // namespace ReportDatabase
