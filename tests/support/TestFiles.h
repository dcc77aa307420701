#pragma once

#include <QByteArray>
#include <QString>

namespace TestFiles {

// Writes bytes to path, creating missing parent folders; false when any step fails.
bool WriteFile(const QString& path, const QByteArray& bytes);
// The whole file, or empty when it cannot be read.
QByteArray ReadFile(const QString& path);

} // namespace TestFiles
