#pragma once

#include <QByteArray>
#include <QString>

// The text appended to a log file since the reader was made, so that a test reads only the lines its own
// steps wrote, not those of the tests before it.
class NewLogText
{
public:
    explicit NewLogText(const QString& path);
    QByteArray Read() const;

private:
    QString path;
    qint64 offset;
};
