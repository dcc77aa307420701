#include "record/SqliteScan.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

SqliteScan::SqliteScan(const QSqlDatabase& database, const QByteArray& text)
{
    const QVariant driverHandle = database.driver() ? database.driver()->handle() : QVariant();
    if (!driverHandle.isValid() || qstrcmp(driverHandle.typeName(), "sqlite3*") != 0) {
        error = QStringLiteral("the connection is not an open SQLite database");
        return;
    }
    handle = *static_cast<sqlite3* const*>(driverHandle.data());
    if (handle == nullptr) {
        error = QStringLiteral("the connection is not open");
        return;
    }
    if (sqlite3_prepare_v2(handle, text.constData(), text.size(), &statement, nullptr) != SQLITE_OK)
        Fail();
}

SqliteScan::~SqliteScan()
{
    sqlite3_finalize(statement);
}

void SqliteScan::Bind(const char* name, qint64 value)
{
    if (statement &&
        sqlite3_bind_int64(statement, sqlite3_bind_parameter_index(statement, name), value) != SQLITE_OK)
        Fail();
}

void SqliteScan::Bind(const char* name, const QByteArray& value)
{
    if (!statement || boundCount >= int(std::size(boundText))) {
        error = QStringLiteral("too many text parameters");
        return;
    }
    QByteArray& kept = boundText[boundCount++];
    kept = value;
    if (sqlite3_bind_text(statement, sqlite3_bind_parameter_index(statement, name), kept.constData(),
                          kept.size(), SQLITE_STATIC) != SQLITE_OK)
        Fail();
}

bool SqliteScan::Next()
{
    if (!statement || !error.isEmpty())
        return false;
    const int step = sqlite3_step(statement);
    if (step == SQLITE_ROW)
        return true;
    if (step != SQLITE_DONE)
        Fail();
    return false;
}

qint64 SqliteScan::Int(int column) const
{
    return sqlite3_column_int64(statement, column);
}

std::string_view SqliteScan::Text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string_view(text, size_t(sqlite3_column_bytes(statement, column)))
                : std::string_view();
}

bool SqliteScan::IsInteger(int column) const
{
    return sqlite3_column_type(statement, column) == SQLITE_INTEGER;
}

QVariant SqliteScan::Value(int column) const
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
        const std::string_view text = Text(column);
        return QVariant(QString::fromUtf8(text.data(), int(text.size())));
    }
    case SQLITE_BLOB: {
        const auto bytes = Blob(column);
        return QVariant(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
    }
    default:
        return QVariant();
    }
}

bool SqliteScan::IsNull(int column) const
{
    return sqlite3_column_type(statement, column) == SQLITE_NULL;
}

std::basic_string_view<unsigned char> SqliteScan::Blob(int column) const
{
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(statement, column));
    return bytes ? std::basic_string_view<unsigned char>(bytes, size_t(sqlite3_column_bytes(statement, column)))
                 : std::basic_string_view<unsigned char>();
}

void SqliteScan::Fail()
{
    error = QString::fromUtf8(sqlite3_errmsg(handle));
}
