#pragma once

#include <QLockFile>
#include <QString>

// One running copy of the tool per machine, window or command line: two would drive the same ports. The lock
// is a file whose owner the system checks, so the file a crashed or killed copy leaves behind blocks nobody.
class InstanceLock
{
public:
    // "PXL_Instance.lock" in the logger's log root, which the log cleaner leaves alone.
    static QString DefaultPath();

    explicit InstanceLock(const QString& path = DefaultPath());
    // Releases the lock when this object holds it.
    ~InstanceLock() = default;

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this object holds the lock on return, also when it held it already. Otherwise holder names
    // the copy that holds it ("process 4711 (praxilo-cli) on host st-07") or says why the lock cannot be
    // taken (a symbolic link at the path is refused, dangling or not).
    bool TryLock(QString& holder);
    void Unlock();
    bool IsLocked() const;
    QString Path() const { return path; }

private:
    // QLockFile takes over the file of a dead holder it can read, but never one it cannot.
    bool IsUnreadableLeftover() const;
    QString Holder() const;
    // A link in place of the lock file could point anywhere; it is neither read nor replaced.
    QString LinkRefused() const;

    const QString path;
    QLockFile file;
};
