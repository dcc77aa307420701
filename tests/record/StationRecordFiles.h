#pragma once

#include "record/AttemptRecord.h"

#include <QByteArray>
#include <QDate>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

// Reading the station record back the way a factory's tools would, strictly, so that a writer's slip shows.
namespace StationRecordFiles {

struct CsvTable
{
    QVector<QStringList> rows;
    QString error; // empty when the whole text is well-formed RFC 4180 with CRLF line ends
};

// Every record must end in CRLF; a quote inside an unquoted field or a bare CR or LF outside quotes is an
// error.
CsvTable ReadCsv(const QByteArray& text);

struct JsonLines
{
    QVector<QJsonObject> objects;
    QString error; // empty when every "\n"-ended line is one JSON object
};

JsonLines ReadJsonLines(const QByteArray& text);

QString JsonPath(const QString& folder, const QDate& day);
QString CsvPath(const QString& folder, const QDate& day);

// A failed attempt with every field set; device carries the tag that tells records apart, and the error
// holds quotes, commas and line breaks.
AttemptRecord MakeRecord(const QString& tag, const QDateTime& end, int row = 1, int poll = 1);

// The field of a CSV row that the header names; a null string when the header lacks it or the row is short.
QString Field(const QStringList& header, const QStringList& row, const QString& name);

// The statements that made the station database of the writer's first version, which stations in the field
// still have: no stages in the attempt rows, no table stage_name.
QStringList FirstVersionSchema();
// The second version's: the stages in the attempt rows too, numbered by table stage_name.
QStringList SecondVersionSchema();
// A later version's (3 to 5): the second's, with the columns each version since added.
QStringList LaterVersionSchema(int version);

// A read-only connection of the test's own to a folder's station database, closed and removed when it goes.
class Reader
{
public:
    explicit Reader(const QString& folder);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Every row of the query, its columns joined by "|"; a single "error: ..." element when it fails.
    QStringList Rows(const QString& statement) const;

private:
    const QString name;
    bool opened = false;
};

} // namespace StationRecordFiles
