#include "record/DatabaseColumns.h"

#include "record/RecordFields.h"
#include "record/SqliteScan.h"

DatabaseColumns::DatabaseColumns(const QSqlDatabase& database)
{
    SqliteScan columnScan(database, "PRAGMA table_info(attempt)");
    while (columnScan.Next()) {
        const std::string_view name = columnScan.Text(1);
        columns.insert(QString::fromUtf8(name.data(), int(name.size())).toLower());
    }
    SqliteScan tableScan(database, "SELECT name FROM sqlite_master WHERE type = 'table'");
    while (tableScan.Next()) {
        const std::string_view name = tableScan.Text(0);
        tables.insert(QString::fromUtf8(name.data(), int(name.size())).toLower());
    }
}

bool DatabaseColumns::Has(std::initializer_list<const char*> fields) const
{
    for (const char* field : fields) {
        if (!HasColumn(RecordFields::Column(QLatin1String(field))))
            return false;
    }
    return true;
}

bool DatabaseColumns::HasColumn(const QString& column) const
{
    return !column.isEmpty() && columns.contains(column.toLower());
}

bool DatabaseColumns::HasTable(const QString& table) const
{
    return tables.contains(table.toLower());
}
