#pragma once

#include "TestFiles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ParserTestSupport {

// Points the logger at a folder under the test's working folder and opens its log file, so tests can
// read back every line, debug ones included.
void StartLogging();

// Reads the log lines written since it was created.
class LogCapture
{
public:
    LogCapture();

    QStringList Lines() const;
    // Lines written by function with exactly this message, from the source file named by sourceName
    // (the part of the source tag after its last backslash).
    int Count(const QString& function, const QString& message, const QString& sourceName) const;
    // Lines of function whose message contains the fragment.
    int CountContaining(const QString& function, const QString& fragment) const;

private:
    qint64 startOffset;
};

using TestFiles::WriteFile;

// A fresh, empty folder under the working folder.
QString MakeCleanFolder(const QString& name);

} // namespace ParserTestSupport
