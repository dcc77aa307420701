#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <string_view>

class QSqlDatabase;
struct sqlite3;
struct sqlite3_stmt;

// One statement run on a Qt SQLite connection's own handle, for scans of millions of rows where a QVariant
// per value would cost more than SQLite itself. Lives on the connection's thread, within its lifetime.
class SqliteScan
{
public:
    SqliteScan(const QSqlDatabase& database, const QByteArray& statement);
    ~SqliteScan();

    SqliteScan(const SqliteScan&) = delete;
    SqliteScan& operator=(const SqliteScan&) = delete;

    // Empty while every step so far has worked.
    QString Error() const { return error; }

    void Bind(const char* name, qint64 value);
    void Bind(const char* name, const QByteArray& value);
    // False at the end of the rows, or on an error.
    bool Next();
    qint64 Int(int column) const;
    // Valid until the next step.
    std::string_view Text(int column) const;
    bool IsInteger(int column) const;
    // The value as Qt's SQLite driver would give it: a 64-bit integer, a double, text, bytes, or null.
    QVariant Value(int column) const;
    bool IsNull(int column) const;
    // The bytes of a BLOB; valid until the next step.
    std::basic_string_view<unsigned char> Blob(int column) const;

private:
    void Fail();

    sqlite3* handle = nullptr;
    sqlite3_stmt* statement = nullptr;
    QByteArray boundText[4]; // SQLite reads bound text at each step, so it must outlive the scan
    int boundCount = 0;
    QString error;
};
