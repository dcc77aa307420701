#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

namespace TestFiles {

// Writes bytes to path, creating missing parent folders; false when any step fails.
bool WriteFile(const QString& path, const QByteArray& bytes);
// The whole file, or empty when it cannot be read.
QByteArray ReadFile(const QString& path);
// The permission bits of what is at path (of a link itself, not its target); -1 when nothing is there.
int Mode(const QString& path);

// Sets the process's umask while it lives, then puts the previous one back.
struct UmaskScope
{
    explicit UmaskScope(int mask) : previous(umask(mode_t(mask))) {}
    ~UmaskScope() { umask(previous); }
    const mode_t previous;
};

} // namespace TestFiles
