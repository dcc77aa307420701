#pragma once

#include <QSet>
#include <QString>

#include <initializer_list>

class QSqlDatabase;

// What an opened station database holds of the record, looked at once: the columns of table attempt and the
// tables there are. A database an older version wrote lacks the columns of the fields added since; every
// reader asks this one look instead of trying a statement of its own and taking its failure for an answer. A
// database that cannot be looked at holds nothing here; the readers' own statements then say why.
class DatabaseColumns
{
public:
    explicit DatabaseColumns(const QSqlDatabase& database);

    // Whether table attempt has the column of each record field named (RecordFields' names).
    bool Has(std::initializer_list<const char*> fields) const;
    // Whether table attempt has the column.
    bool HasColumn(const QString& column) const;
    bool HasTable(const QString& table) const;

private:
    QSet<QString> columns; // in lower case: SQLite's names are not case-sensitive
    QSet<QString> tables;
};
